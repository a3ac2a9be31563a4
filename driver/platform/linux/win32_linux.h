// The Win32 communications calls, served on Linux over termios, poll and
// ioctl. Each function keeps the Win32 contract that the serial functions
// rely on; see README.md in this folder for what each one does here.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

namespace lorvant::win32 {

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL GetCommState(HANDLE handle, LPDCB dcb);
BOOL SetCommState(HANDLE handle, LPDCB dcb);
BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts);
BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue);
BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status);
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD transferred,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD transferred,
               LPOVERLAPPED overlapped);
DWORD GetLastError();
BOOL EscapeCommFunction(HANDLE handle, DWORD function);
BOOL SetCommBreak(HANDLE handle);
BOOL ClearCommBreak(HANDLE handle);
void Sleep(DWORD milliseconds);

// Milliseconds of elapsed real time on a monotonic clock, counted from the
// first call in the process.
int64_t ClockMs();

}  // namespace lorvant::win32
