// The seam on Windows: the real communications calls of kernel32, and the C
// runtime's clock(), which counts elapsed real time in milliseconds there.

#include <ctime>

#include "serial/syscalls.h"

namespace lorvant::serial {
namespace {

int64_t ClockMs() {
  static_assert(CLOCKS_PER_SEC == 1000);
  return static_cast<int64_t>(std::clock());
}

constexpr Syscalls kWindows = {
    &::CreateFileA,     &::CloseHandle,     &::GetCommState, &::SetCommState,
    &::GetCommTimeouts, &::SetCommTimeouts, &::SetupComm,    &::ClearCommError,
    &::ReadFile,        &::WriteFile,       &::GetLastError, &::EscapeCommFunction,
    &::SetCommBreak,    &::ClearCommBreak,  &::Sleep,        &ClockMs,
};

}  // namespace

const Syscalls& PlatformSyscalls() {
  return kWindows;
}

}  // namespace lorvant::serial
