// termios2: baud rates as plain numbers (TCGETS2/TCSETS2 with BOTHER).

#include "platform/linux/custom_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace lorvant::win32::internal {

#if defined(TCGETS2) && defined(TCSETS2) && defined(BOTHER)

bool SetBaudByNumber(int fd, uint32_t baud) {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) {
    return false;
  }
  // The input rate follows the output rate: no separate input rate bits.
  settings.c_cflag &= ~(static_cast<tcflag_t>(CBAUD) | (static_cast<tcflag_t>(CBAUD) << IBSHIFT));
  settings.c_cflag |= BOTHER;
  settings.c_ispeed = baud;
  settings.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &settings) == 0;
}

bool ReadBaudNumber(int fd, uint32_t* baud) {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) {
    return false;
  }
  *baud = settings.c_ospeed;
  return true;
}

#else

bool SetBaudByNumber(int /*fd*/, uint32_t /*baud*/) {
  errno = EINVAL;
  return false;
}

bool ReadBaudNumber(int /*fd*/, uint32_t* /*baud*/) {
  errno = ENOTTY;
  return false;
}

#endif

}  // namespace lorvant::win32::internal
