// GetCommState, SetCommState and SetupComm: the DCB as termios settings.
//
// A port is always set raw: every byte reaches the reader as it arrived, with
// no translation, no echo and no special characters, and nothing marks or
// drops a byte with a parity error. A real serial port gets exactly what the
// DCB asks or the call fails with the old settings back. A pseudo-terminal
// holds no parity and no data size (the kernel forces 8 bits without parity),
// so those two are not asked of it and are taken from the applied DCB when
// reported.

#include <sys/ioctl.h>
#include <termios.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/linux/custom_baud.h"
#include "platform/linux/handles.h"
#include "platform/linux/line_settings.h"
#include "platform/linux/modem_lines.h"
#include "platform/linux/win32_linux.h"

namespace lorvant::win32 {
namespace {

struct StandardRate {
  uint32_t baud;
  speed_t code;
};

constexpr std::array kStandardRates = {
    StandardRate{50, B50},           StandardRate{75, B75},
    StandardRate{110, B110},         StandardRate{134, B134},
    StandardRate{150, B150},         StandardRate{200, B200},
    StandardRate{300, B300},         StandardRate{600, B600},
    StandardRate{1200, B1200},       StandardRate{1800, B1800},
    StandardRate{2400, B2400},       StandardRate{4800, B4800},
    StandardRate{9600, B9600},       StandardRate{19200, B19200},
    StandardRate{38400, B38400},     StandardRate{57600, B57600},
    StandardRate{115200, B115200},   StandardRate{230400, B230400},
    StandardRate{460800, B460800},   StandardRate{500000, B500000},
    StandardRate{576000, B576000},   StandardRate{921600, B921600},
    StandardRate{1000000, B1000000}, StandardRate{1152000, B1152000},
    StandardRate{1500000, B1500000}, StandardRate{2000000, B2000000},
    StandardRate{2500000, B2500000}, StandardRate{3000000, B3000000},
    StandardRate{3500000, B3500000}, StandardRate{4000000, B4000000},
};

// B0 means "hang up", never a rate a DCB asks for: here it means "no code".
constexpr speed_t kNoCode = B0;

// The settings SetCommState decides, and checks after applying.
constexpr tcflag_t kInputBits = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8;
constexpr tcflag_t kOutputBits = OPOST;
constexpr tcflag_t kLocalBits = ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t kControlBits =
    CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CREAD | CIBAUD;
// What a pseudo-terminal cannot hold.
constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;

constexpr std::array<tcflag_t, 4> kSizeBits = {CS5, CS6, CS7, CS8};  // ByteSize 5..8
constexpr uint8_t kMinByteSize = 5;
constexpr uint8_t kMaxByteSize = 8;

speed_t CodeOf(uint32_t baud) {
  for (const StandardRate& rate : kStandardRates) {
    if (rate.baud == baud) {
      return rate.code;
    }
  }
  return kNoCode;
}

uint32_t BaudOf(speed_t code) {
  for (const StandardRate& rate : kStandardRates) {
    if (rate.code == code) {
      return rate.baud;
    }
  }
  return 0;
}

// The rate the kernel holds for the terminal.
uint32_t HeldBaud(int fd, const termios& settings) {
  uint32_t baud = 0;
  if (internal::ReadBaudNumber(fd, &baud)) {
    return baud;
  }
  return BaudOf(cfgetospeed(&settings));
}

bool XonXoffFlow(const DCB& dcb) {
  return dcb.fOutX != 0 || dcb.fInX != 0;
}

// Why a DCB cannot be applied on Linux, or ERROR_SUCCESS.
DWORD Refusal(const DCB& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < kMinByteSize || dcb.ByteSize > kMaxByteSize ||
      dcb.Parity > SPACEPARITY || dcb.fDtrControl > DTR_CONTROL_HANDSHAKE) {
    return ERROR_INVALID_PARAMETER;
  }
  // As on Windows: one and a half stop bits only with 5 data bits, two only
  // with more. (A UART sends 1.5 stop bits for CSTOPB with 5 data bits.)
  const bool fiveBits = dcb.ByteSize == kMinByteSize;
  if (dcb.StopBits > TWOSTOPBITS || (dcb.StopBits == ONE5STOPBITS && !fiveBits) ||
      (dcb.StopBits == TWOSTOPBITS && fiveBits)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (XonXoffFlow(dcb) && dcb.XonChar == dcb.XoffChar) {
    return ERROR_INVALID_PARAMETER;
  }
  // Linux has no DTR/DSR handshake, no DSR-gated input and no RTS that
  // follows transmission by itself.
  if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE ||
      dcb.fOutxDsrFlow != 0 || dcb.fDsrSensitivity != 0) {
    return ERROR_NOT_SUPPORTED;
  }
  return ERROR_SUCCESS;
}

// Raw mode with the DCB's framing and flow control, over the settings held.
void Describe(const DCB& dcb, bool pty, termios* settings) {
  settings->c_iflag &= ~kInputBits;
  if (dcb.fOutX != 0) {
    settings->c_iflag |= IXON;
  }
  if (dcb.fInX != 0) {
    settings->c_iflag |= IXOFF;
  }
  settings->c_oflag &= ~kOutputBits;
  settings->c_lflag &= ~kLocalBits;
  // CIBAUD cleared: the input rate follows the output rate.
  settings->c_cflag &= ~kControlBits;
  settings->c_cflag |= CLOCAL | CREAD;
  if (pty) {
    settings->c_cflag |= CS8;
  } else {
    settings->c_cflag |= kSizeBits.at(dcb.ByteSize - kMinByteSize);
    if (dcb.Parity != NOPARITY) {
      settings->c_cflag |= PARENB;
    }
    if (dcb.Parity == ODDPARITY || dcb.Parity == MARKPARITY) {
      settings->c_cflag |= PARODD;
    }
    if (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY) {
      settings->c_cflag |= CMSPAR;
    }
  }
  if (dcb.StopBits != ONESTOPBIT) {
    settings->c_cflag |= CSTOPB;
  }
  if (dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    settings->c_cflag |= CRTSCTS;
  }
  settings->c_cc[VMIN] = 0;
  settings->c_cc[VTIME] = 0;
  if (XonXoffFlow(dcb)) {
    settings->c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    settings->c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  }
}

// True when the terminal holds what was asked of it.
bool Holds(const termios& want, const termios& held, bool pty) {
  const tcflag_t controlBits = pty ? (kControlBits & ~kFramingBits) : kControlBits;
  return (want.c_iflag & kInputBits) == (held.c_iflag & kInputBits) &&
         (want.c_oflag & kOutputBits) == (held.c_oflag & kOutputBits) &&
         (want.c_lflag & kLocalBits) == (held.c_lflag & kLocalBits) &&
         (want.c_cflag & controlBits) == (held.c_cflag & controlBits) &&
         want.c_cc[VMIN] == held.c_cc[VMIN] && want.c_cc[VTIME] == held.c_cc[VTIME] &&
         want.c_cc[VSTART] == held.c_cc[VSTART] && want.c_cc[VSTOP] == held.c_cc[VSTOP];
}

// A rate set by number comes back as the device made it; within 2 % (the
// kernel's own margin in matching rates) a UART still frames correctly.
bool NearEnough(uint32_t held, uint32_t asked) {
  const uint64_t difference = held > asked ? held - asked : asked - held;
  return difference * 50 <= asked;
}

// Puts back the settings held before a refused SetCommState.
void Restore(int fd, const termios& old, uint32_t oldBaud) {
  (void)tcsetattr(fd, TCSANOW, &old);
  if (oldBaud != 0 && CodeOf(oldBaud) == kNoCode) {
    (void)internal::SetBaudByNumber(fd, oldBaud);
  }
}

// What a port reports before any DCB was applied to it: what Windows reports
// of a port that was just opened, where termios does not tell.
DCB DefaultDcb() {
  DCB dcb{};
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

void ReportFraming(const termios& settings, DCB* dcb) {
  const tcflag_t size = settings.c_cflag & CSIZE;
  for (size_t index = 0; index < kSizeBits.size(); ++index) {
    if (kSizeBits.at(index) == size) {
      dcb->ByteSize = static_cast<BYTE>(kMinByteSize + index);
    }
  }
  const bool odd = (settings.c_cflag & PARODD) != 0;
  if ((settings.c_cflag & PARENB) == 0) {
    dcb->Parity = NOPARITY;
  } else if ((settings.c_cflag & CMSPAR) != 0) {
    dcb->Parity = odd ? MARKPARITY : SPACEPARITY;
  } else {
    dcb->Parity = odd ? ODDPARITY : EVENPARITY;
  }
}

// CTS output flow and RTS handshake are one setting on Linux (CRTSCTS); the
// DCB keeps which of the two asked for it.
void ReportHardwareFlow(const termios& settings, DCB* dcb) {
  const bool held = (settings.c_cflag & CRTSCTS) != 0;
  const bool asked = dcb->fOutxCtsFlow != 0 || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE;
  if (held && !asked) {
    dcb->fOutxCtsFlow = 1;
    dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else if (!held) {
    dcb->fOutxCtsFlow = 0;
    if (dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) {
      dcb->fRtsControl = RTS_CONTROL_ENABLE;
    }
  }
}

// Sets DTR and RTS as the DCB asks, where the device has such lines.
void DriveModemLines(int fd, const DCB& dcb) {
  if (dcb.fDtrControl == DTR_CONTROL_ENABLE || dcb.fDtrControl == DTR_CONTROL_DISABLE) {
    (void)internal::SetModemLines(fd, TIOCM_DTR, dcb.fDtrControl == DTR_CONTROL_ENABLE);
  }
  if (dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_DISABLE) {
    (void)internal::SetModemLines(fd, TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE);
  }
}

}  // namespace

namespace internal {

bool MakeRaw(int fd, bool pty) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    return false;
  }
  settings.c_iflag &= ~kInputBits;
  settings.c_oflag &= ~kOutputBits;
  settings.c_lflag &= ~kLocalBits;
  settings.c_cflag |= CLOCAL | CREAD;
  if (pty) {
    settings.c_cflag &= ~kFramingBits;
    settings.c_cflag |= CS8;
  }
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace internal

BOOL GetCommState(HANDLE handle, LPDCB dcb) {
  const internal::PortUse port(handle);
  if (!port.RequireTerminal()) {
    return FALSE;
  }
  if (dcb == nullptr) {
    return internal::Fail(ERROR_INVALID_PARAMETER);
  }
  termios settings{};
  if (tcgetattr(port.Fd(), &settings) != 0) {
    return internal::Fail(internal::ErrorFromErrno(errno));
  }
  DCB state{};
  const bool applied = port.AppliedDcb(&state);
  if (!applied) {
    state = DefaultDcb();
    state.fParity = (settings.c_iflag & INPCK) != 0 ? 1 : 0;
  }
  state.DCBlength = dcb->DCBlength;
  state.BaudRate = HeldBaud(port.Fd(), settings);
  state.fBinary = 1;
  if (!(port.Dev().pty && applied)) {
    ReportFraming(settings, &state);
  }
  if ((settings.c_cflag & CSTOPB) == 0) {
    state.StopBits = ONESTOPBIT;
  } else {
    state.StopBits = state.ByteSize == kMinByteSize ? ONE5STOPBITS : TWOSTOPBITS;
  }
  ReportHardwareFlow(settings, &state);
  state.fOutX = (settings.c_iflag & IXON) != 0 ? 1 : 0;
  state.fInX = (settings.c_iflag & IXOFF) != 0 ? 1 : 0;
  state.XonChar = static_cast<char>(settings.c_cc[VSTART]);
  state.XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
  *dcb = state;
  return TRUE;
}

BOOL SetCommState(HANDLE handle, LPDCB dcb) {
  const internal::PortUse port(handle);
  if (!port.RequireTerminal()) {
    return FALSE;
  }
  if (dcb == nullptr) {
    return internal::Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD refusal = Refusal(*dcb);
  if (refusal != ERROR_SUCCESS) {
    return internal::Fail(refusal);
  }
  const int fd = port.Fd();
  const bool pty = port.Dev().pty;
  termios old{};
  if (tcgetattr(fd, &old) != 0) {
    return internal::Fail(internal::ErrorFromErrno(errno));
  }
  const uint32_t oldBaud = HeldBaud(fd, old);

  termios want = old;
  Describe(*dcb, pty, &want);
  // A standard rate goes with the rest; any other is set by number after it,
  // the old rate standing until then.
  const speed_t code = CodeOf(dcb->BaudRate);
  if (code != kNoCode) {
    cfsetospeed(&want, code);
    cfsetispeed(&want, code);
  }
  if (tcsetattr(fd, TCSANOW, &want) != 0 ||
      (code == kNoCode && !internal::SetBaudByNumber(fd, dcb->BaudRate))) {
    const int error = errno;
    Restore(fd, old, oldBaud);
    return internal::Fail(internal::ErrorFromErrno(error));
  }
  termios held{};
  if (tcgetattr(fd, &held) != 0) {
    const int error = errno;
    Restore(fd, old, oldBaud);
    return internal::Fail(internal::ErrorFromErrno(error));
  }
  if (!Holds(want, held, pty) || !NearEnough(HeldBaud(fd, held), dcb->BaudRate)) {
    Restore(fd, old, oldBaud);
    return internal::Fail(ERROR_INVALID_PARAMETER);
  }
  DriveModemLines(fd, *dcb);
  port.SetAppliedDcb(*dcb);
  return TRUE;
}

// The kernel's queues have fixed sizes; the request is accepted as it is.
BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
  (void)inQueue;
  (void)outQueue;
  const internal::PortUse port(handle);
  return port.RequireTerminal() ? TRUE : FALSE;
}

}  // namespace lorvant::win32
