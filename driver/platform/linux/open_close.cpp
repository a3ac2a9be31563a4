// CreateFileA and CloseHandle: a port name opened as a Linux device, held
// exclusively when it is a terminal, as Win32 holds a serial port opened with
// share mode 0.

#include "platform/linux/open_close.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/linux/line_settings.h"
#include "platform/linux/port_names.h"
#include "platform/linux/win32_linux.h"

namespace lorvant::win32 {
namespace {

using internal::Device;

HANDLE FailOpen(DWORD error) {
  internal::SetLastError(error);
  return INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr): Win32's own value
}

// What a failed open() means to a Win32 caller: a device that is not there
// is a file not found, one that someone else holds is access denied.
DWORD OpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:  // a serial device node without its hardware
    case ENAMETOOLONG:
    case ELOOP:
      return ERROR_FILE_NOT_FOUND;
    default:
      return internal::ErrorFromErrno(error);
  }
}

// open() flags for a Win32 access mask; -1 for a mask the layer does not serve.
int AccessMode(DWORD access) {
  switch (access) {
    case GENERIC_READ | GENERIC_WRITE:
      return O_RDWR;
    case GENERIC_READ:
      return O_RDONLY;
    case GENERIC_WRITE:
      return O_WRONLY;
    default:
      return -1;
  }
}

// Device numbers of pseudo-terminals: BSD masters (2) and slaves (3), Unix 98
// masters (128-135) and slaves (136-143), and the multiplexer /dev/ptmx (5, 2).
bool IsPseudoTerminal(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
    return false;
  }
  const unsigned major = ::major(status.st_rdev);
  const unsigned minor = ::minor(status.st_rdev);
  return major == 2 || major == 3 || (major >= 128 && major <= 143) || (major == 5 && minor == 2);
}

// Holds a terminal exclusively. flock() refuses a second holder in any
// process, root's included; TIOCEXCL makes the kernel refuse further opens of
// the device to everyone but root, so that programs that do not flock are
// kept out too.
bool Lock(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return false;
  }
  (void)ioctl(fd, TIOCEXCL);
  return true;
}

}  // namespace

namespace internal {

void ReleaseDevice(const Device& device) {
  if (device.locked) {
    (void)ioctl(device.fd, TIOCNXCL);
  }
  // Linux closes the descriptor even when close() reports an error; the
  // flock goes with it.
  (void)close(device.fd);
}

}  // namespace internal

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  // Terminals are always held exclusively, whatever the share mode asks; the
  // security attributes and the template have no meaning here.
  (void)shareMode;
  (void)security;
  (void)templateFile;
  const int mode = AccessMode(access);
  if (name == nullptr || mode < 0 || disposition != OPEN_EXISTING ||
      (flags & FILE_FLAG_OVERLAPPED) != 0) {
    return FailOpen(ERROR_INVALID_PARAMETER);
  }
  std::array<char, 16> buffer{};
  const char* path = internal::ResolvePortName(name, buffer);
  if (path == nullptr) {
    return FailOpen(ERROR_FILE_NOT_FOUND);
  }
  Device device;
  // Never blocking: every wait of the layer is a poll() with a time limit.
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg,hicpp-vararg)
  device.fd = open(path, mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (device.fd < 0) {
    return FailOpen(OpenError(errno));
  }
  device.terminal = isatty(device.fd) != 0;
  if (device.terminal) {
    device.pty = IsPseudoTerminal(device.fd);
    if (!Lock(device.fd)) {
      const int error = errno;
      internal::ReleaseDevice(device);
      return FailOpen(error == EWOULDBLOCK ? ERROR_ACCESS_DENIED : internal::ErrorFromErrno(error));
    }
    device.locked = true;
    // Best effort: SetCommState, which the port is opened for, sets it all.
    (void)internal::MakeRaw(device.fd, device.pty);
  }
  HANDLE handle = internal::AddPort(device);
  if (handle == INVALID_HANDLE_VALUE) {  // NOLINT(performance-no-int-to-ptr): Win32's own value
    internal::ReleaseDevice(device);
    internal::SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  }
  return handle;
}

BOOL CloseHandle(HANDLE handle) {
  return internal::RemovePort(handle);
}

}  // namespace lorvant::win32
