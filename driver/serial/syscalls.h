// The seam between the driver and the operating system.
//
// Every Win32 communications call the driver makes, and the millisecond
// clock it paces frames by, goes through one table of function pointers. On
// Windows the table points at kernel32; on Linux at the platform layer of
// platform/linux, which serves the same calls over termios; unit tests put a
// scripted fake in its place. The code above the seam reads the same on every
// platform.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

namespace lorvant::serial {

struct Syscalls {
  HANDLE(WINAPI* createFileA)
  (LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
   DWORD flags, HANDLE templateFile);
  BOOL(WINAPI* closeHandle)(HANDLE handle);
  BOOL(WINAPI* getCommState)(HANDLE handle, LPDCB dcb);
  BOOL(WINAPI* setCommState)(HANDLE handle, LPDCB dcb);
  BOOL(WINAPI* getCommTimeouts)(HANDLE handle, LPCOMMTIMEOUTS timeouts);
  BOOL(WINAPI* setCommTimeouts)(HANDLE handle, LPCOMMTIMEOUTS timeouts);
  BOOL(WINAPI* setupComm)(HANDLE handle, DWORD inQueue, DWORD outQueue);
  BOOL(WINAPI* clearCommError)(HANDLE handle, LPDWORD errors, LPCOMSTAT status);
  BOOL(WINAPI* readFile)
  (HANDLE handle, LPVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED overlapped);
  BOOL(WINAPI* writeFile)
  (HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED overlapped);
  DWORD(WINAPI* getLastError)();
  BOOL(WINAPI* escapeCommFunction)(HANDLE handle, DWORD function);
  BOOL(WINAPI* setCommBreak)(HANDLE handle);
  BOOL(WINAPI* clearCommBreak)(HANDLE handle);
  void(WINAPI* sleep)(DWORD milliseconds);
  // Milliseconds of elapsed real time (not processor time) since the process
  // started, or since any fixed point before the first call.
  int64_t (*clockMs)();
};

// The table in force. Every call of the driver to the system goes through it.
const Syscalls& Sys();

// The platform's own table (kernel32, or the Linux layer).
const Syscalls& PlatformSyscalls();

// Puts another table in force, for tests and for tracing; null puts the
// platform's own back. Not for use while a request is running.
void SetSyscalls(const Syscalls* table);

}  // namespace lorvant::serial
