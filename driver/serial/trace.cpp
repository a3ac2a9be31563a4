// The wire trace; see trace.h.

#include "serial/trace.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace lorvant::serial {
namespace {

const Syscalls* inner = nullptr;
std::FILE* sink = nullptr;

// Bytes per trace line; longer transfers (a purge reads up to 512 bytes at
// once) go out as several lines of the same event.
constexpr std::size_t kBytesPerLine = 64;

uintptr_t HandleNumber(HANDLE handle) {
  return reinterpret_cast<uintptr_t>(
      handle);  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

double MonotonicSeconds() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now).count();
}

// One line: time, handle, event, then the bytes in hex. Formatted on the
// stack and handed to the sink in one write, so that lines of channels on
// several threads do not mix.
void Line(HANDLE handle, const char* event, std::span<const uint8_t> bytes = {}) {
  std::array<char, 64 + 32 + (kBytesPerLine * 3) + 2> line{};
  do {
    const std::span<const uint8_t> part = bytes.first(std::min(bytes.size(), kBytesPerLine));
    int used = std::snprintf(line.data(), line.size(), "%.6f h%" PRIuPTR " %s", MonotonicSeconds(),
                             HandleNumber(handle), event);
    if (used < 0) {
      return;
    }
    auto length = static_cast<std::size_t>(used);
    for (const uint8_t byte : part) {
      used = std::snprintf(line.data() + length, line.size() - length, " %02X", byte);
      length += static_cast<std::size_t>(used);
    }
    line.at(length++) = '\n';
    std::fwrite(line.data(), 1, length, sink);
    bytes = bytes.subspan(part.size());
  } while (!bytes.empty());
  std::fflush(sink);
}

void Line(HANDLE handle, const char* event, const char* text) {
  std::fprintf(sink, "%.6f h%" PRIuPTR " %s%s%s\n", MonotonicSeconds(), HandleNumber(handle), event,
               *text != '\0' ? " " : "", text);
  std::fflush(sink);
}

std::span<const uint8_t> Transferred(LPCVOID buffer, BOOL ok, LPDWORD transferred, DWORD count) {
  if (ok == 0 || transferred == nullptr || buffer == nullptr) {
    return {};
  }
  return {static_cast<const uint8_t*>(buffer), std::min(*transferred, count)};
}

// After a write, the first status call that finds the output queue empty
// marks the moment the frame has left; one such mark per write. A channel's
// requests all run on one thread, so the mark is kept per thread.
thread_local bool writePending = false;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                          HANDLE templateFile) {
  HANDLE handle =
      inner->createFileA(name, access, shareMode, security, disposition, flags, templateFile);
  const char* shown = name != nullptr ? name : "(null)";
  if (handle == INVALID_HANDLE_VALUE) {  // NOLINT(performance-no-int-to-ptr): Win32's own value
    Line(nullptr, "open-failed", shown);
  } else {
    Line(handle, "open", shown);
  }
  return handle;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  Line(handle, "close");
  return inner->closeHandle(handle);
}

BOOL WINAPI GetCommState(HANDLE handle, LPDCB dcb) {
  return inner->getCommState(handle, dcb);
}

BOOL WINAPI SetCommState(HANDLE handle, LPDCB dcb) {
  return inner->setCommState(handle, dcb);
}

BOOL WINAPI GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  return inner->getCommTimeouts(handle, timeouts);
}

BOOL WINAPI SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  return inner->setCommTimeouts(handle, timeouts);
}

BOOL WINAPI SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
  return inner->setupComm(handle, inQueue, outQueue);
}

BOOL WINAPI ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  const BOOL ok = inner->clearCommError(handle, errors, status);
  if (ok != 0 && writePending && status != nullptr && status->cbOutQue == 0) {
    writePending = false;
    Line(handle, "sent");
  }
  return ok;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD transferred,
                     LPOVERLAPPED overlapped) {
  const BOOL ok = inner->readFile(handle, buffer, count, transferred, overlapped);
  const std::span<const uint8_t> bytes = Transferred(buffer, ok, transferred, count);
  if (!bytes.empty()) {
    Line(handle, "rx", bytes);
  }
  return ok;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD transferred,
                      LPOVERLAPPED overlapped) {
  const BOOL ok = inner->writeFile(handle, buffer, count, transferred, overlapped);
  const std::span<const uint8_t> bytes = Transferred(buffer, ok, transferred, count);
  if (!bytes.empty()) {
    Line(handle, "tx", bytes);
    writePending = true;
  } else {
    Line(handle, "tx-failed");
  }
  return ok;
}

DWORD WINAPI GetLastError() {
  return inner->getLastError();
}

const char* EscapeName(DWORD function) {
  switch (function) {
    case SETRTS:
      return "rts-on";
    case CLRRTS:
      return "rts-off";
    default:
      return "modem-line";
  }
}

BOOL WINAPI EscapeCommFunction(HANDLE handle, DWORD function) {
  const BOOL ok = inner->escapeCommFunction(handle, function);
  Line(handle, EscapeName(function), ok != 0 ? "" : "failed");
  return ok;
}

BOOL WINAPI SetCommBreak(HANDLE handle) {
  const BOOL ok = inner->setCommBreak(handle);
  Line(handle, "break-on", ok != 0 ? "" : "failed");
  return ok;
}

BOOL WINAPI ClearCommBreak(HANDLE handle) {
  const BOOL ok = inner->clearCommBreak(handle);
  Line(handle, "break-off", ok != 0 ? "" : "failed");
  return ok;
}

void WINAPI Sleep(DWORD milliseconds) {
  inner->sleep(milliseconds);
}

int64_t ClockMs() {
  return inner->clockMs();
}

constexpr Syscalls kTracing{
    .createFileA = CreateFileA,
    .closeHandle = CloseHandle,
    .getCommState = GetCommState,
    .setCommState = SetCommState,
    .getCommTimeouts = GetCommTimeouts,
    .setCommTimeouts = SetCommTimeouts,
    .setupComm = SetupComm,
    .clearCommError = ClearCommError,
    .readFile = ReadFile,
    .writeFile = WriteFile,
    .getLastError = GetLastError,
    .escapeCommFunction = EscapeCommFunction,
    .setCommBreak = SetCommBreak,
    .clearCommBreak = ClearCommBreak,
    .sleep = Sleep,
    .clockMs = ClockMs,
};

}  // namespace

const Syscalls& TracingSyscalls(const Syscalls& innerTable, std::FILE* traceSink) {
  inner = &innerTable;
  sink = traceSink;
  return kTracing;
}

const Syscalls& InitialSyscalls() {
  const char* path = std::getenv(kTraceVariable);  // NOLINT(concurrency-mt-unsafe)
  if (path == nullptr || *path == '\0') {
    return PlatformSyscalls();
  }
  std::FILE* file = std::fopen(path, "ab");
  if (file == nullptr) {
    return PlatformSyscalls();
  }
  return TracingSyscalls(PlatformSyscalls(), file);
}

}  // namespace lorvant::serial
