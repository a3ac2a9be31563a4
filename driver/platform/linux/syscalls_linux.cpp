// The seam on Linux: the Win32 communications calls as this layer serves
// them over termios, poll and ioctl.

#include "platform/linux/win32_linux.h"
#include "serial/syscalls.h"

namespace lorvant::serial {
namespace {

constexpr Syscalls kLinux = {
    .createFileA = &win32::CreateFileA,
    .closeHandle = &win32::CloseHandle,
    .getCommState = &win32::GetCommState,
    .setCommState = &win32::SetCommState,
    .getCommTimeouts = &win32::GetCommTimeouts,
    .setCommTimeouts = &win32::SetCommTimeouts,
    .setupComm = &win32::SetupComm,
    .clearCommError = &win32::ClearCommError,
    .readFile = &win32::ReadFile,
    .writeFile = &win32::WriteFile,
    .getLastError = &win32::GetLastError,
    .escapeCommFunction = &win32::EscapeCommFunction,
    .setCommBreak = &win32::SetCommBreak,
    .clearCommBreak = &win32::ClearCommBreak,
    .sleep = &win32::Sleep,
    .clockMs = &win32::ClockMs,
};

}  // namespace

const Syscalls& PlatformSyscalls() {
  return kLinux;
}

}  // namespace lorvant::serial
