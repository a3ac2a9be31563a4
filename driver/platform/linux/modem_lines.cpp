// EscapeCommFunction, SetCommBreak and ClearCommBreak: the modem control
// lines, the break condition and software flow control, by ioctl and tcflow.

#include "platform/linux/modem_lines.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "platform/linux/handles.h"
#include "platform/linux/win32_linux.h"

namespace lorvant::win32 {

namespace internal {

bool SetModemLines(int fd, int bits, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

}  // namespace internal

namespace {

// TRUE, or FALSE with the error of the system call that just failed.
BOOL Finish(bool succeeded) {
  return succeeded ? TRUE : internal::Fail(internal::ErrorFromErrno(errno));
}

}  // namespace

BOOL EscapeCommFunction(HANDLE handle, DWORD function) {
  const internal::PortUse port(handle);
  if (!port.RequireTerminal()) {
    return FALSE;
  }
  const int fd = port.Fd();
  switch (function) {
    case SETXOFF:  // transmit as if an XOFF had been received
      return Finish(tcflow(fd, TCOOFF) == 0);
    case SETXON:
      return Finish(tcflow(fd, TCOON) == 0);
    case SETRTS:
      return Finish(internal::SetModemLines(fd, TIOCM_RTS, true));
    case CLRRTS:
      return Finish(internal::SetModemLines(fd, TIOCM_RTS, false));
    case SETDTR:
      return Finish(internal::SetModemLines(fd, TIOCM_DTR, true));
    case CLRDTR:
      return Finish(internal::SetModemLines(fd, TIOCM_DTR, false));
    case SETBREAK:
      return Finish(ioctl(fd, TIOCSBRK) == 0);
    case CLRBREAK:
      return Finish(ioctl(fd, TIOCCBRK) == 0);
    default:
      return internal::Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL SetCommBreak(HANDLE handle) {
  return EscapeCommFunction(handle, SETBREAK);
}

BOOL ClearCommBreak(HANDLE handle) {
  return EscapeCommFunction(handle, CLRBREAK);
}

}  // namespace lorvant::win32
