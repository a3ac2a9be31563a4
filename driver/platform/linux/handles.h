// The HANDLEs of the Linux layer and the calling thread's last error.
//
// A HANDLE is a small number naming a slot of a fixed table of open ports:
// slot index + 1, plus a multiple of the table's size that counts how often
// the slot has been reused. 0 and INVALID_HANDLE_VALUE are never handles; a
// handle that was closed, or never was one, matches no open slot and is
// refused with ERROR_INVALID_HANDLE without anything being dereferenced.
//
// Every call of the layer holds its port through a PortUse for as long as it
// runs. A handle closed meanwhile by another thread is taken out of the table
// at once; its device is released when the last call using it returns, and
// calls still waiting on it see Abandoned() and give up.
#pragma once

#include "platform/win32_api.h"

namespace lorvant::win32::internal {

// What CreateFileA found out about the device it opened.
struct Device {
  int fd = -1;
  bool terminal = false;  // a tty: the communications calls apply to it
  bool pty = false;       // a pseudo-terminal: no parity, no data size, no modem lines
  bool locked = false;    // held exclusively (flock and TIOCEXCL)
};

// Sets the calling thread's last error, as GetLastError reports it.
void SetLastError(DWORD error);

// The Win32 error that stands for an errno value of a failed system call.
DWORD ErrorFromErrno(int error);

// FALSE, with error as the thread's last error: how every call fails.
BOOL Fail(DWORD error);

// Enters an opened device in the table. INVALID_HANDLE_VALUE, with
// ERROR_TOO_MANY_OPEN_FILES, when every slot is taken; the device is then
// left to the caller.
HANDLE AddPort(const Device& device);

// Takes the handle out of the table. FALSE with ERROR_INVALID_HANDLE when it
// is not an open handle.
BOOL RemovePort(HANDLE handle);

struct Slot;

// One call's hold on an open port. When the handle is not open, Valid() is
// false and the thread's last error is ERROR_INVALID_HANDLE.
class PortUse {
 public:
  explicit PortUse(HANDLE handle);
  ~PortUse();
  PortUse(const PortUse&) = delete;
  PortUse& operator=(const PortUse&) = delete;
  PortUse(PortUse&&) = delete;
  PortUse& operator=(PortUse&&) = delete;

  bool Valid() const { return slot_ != nullptr; }

  // True for an open handle of a terminal. Otherwise false, with the last
  // error ERROR_INVALID_HANDLE, or ERROR_INVALID_FUNCTION: a communications
  // call on anything else (/dev/null, a file).
  bool RequireTerminal() const;
  const Device& Dev() const;
  int Fd() const { return Dev().fd; }

  // The handle was closed by another thread while this call was running.
  bool Abandoned() const;

  // The time-outs last set on the handle (all 0 until then).
  COMMTIMEOUTS Timeouts() const;
  void SetTimeouts(const COMMTIMEOUTS& timeouts) const;

  // The DCB last applied through SetCommState; false before any.
  bool AppliedDcb(DCB* dcb) const;
  void SetAppliedDcb(const DCB& dcb) const;

 private:
  Slot* slot_ = nullptr;
};

}  // namespace lorvant::win32::internal
