// Serial port access over the Win32 communications calls.
//
// Each function performs its calls in a fixed order with fixed arguments, the
// same on every platform; the seam (syscalls.h) decides what answers them.

#include "serial/serial.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "serial/syscalls.h"

namespace lorvant::serial {
namespace {

constexpr DWORD kMaxRead = 0xFFFF;

// The low byte of a 16-bit line-settings slot.
constexpr BYTE LowByte(uint16_t value) {
  return static_cast<BYTE>(value & 0xFFu);
}

// The DTR, RTS and handshake groups of the line-control flags. Within a group
// the first matching test wins; a group that matches nothing leaves the
// device's own value. The handshake group only ever sets a field.
void ApplyLineControlFlags(uint16_t flags, DCB& dcb) {
  if ((flags & kFlagsDtrEnable) != 0) {
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
  } else if ((flags & kFlagDtrHandshake) != 0) {
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  }
  if ((flags & kFlagsRtsEnable) != 0) {
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  } else if ((flags & kFlagRtsHandshake) != 0) {
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else if ((flags & kFlagRtsToggle) != 0) {
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  }
  if ((flags & kFlagCtsFlow) != 0) {
    dcb.fOutxCtsFlow = 1;
  } else if ((flags & kFlagDsrFlow) != 0) {
    dcb.fOutxDsrFlow = 1;
  } else if ((flags & kFlagDsrSensitivity) != 0) {
    dcb.fDsrSensitivity = 1;
  }
}

}  // namespace

int ComOpen(const char* portName, const LineSettings& lineSettings, uint16_t lineControlFlags,
            HANDLE* handle) {
  const Syscalls& sys = Sys();
  HANDLE port = sys.createFileA(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
  *handle = port;
  if (port == INVALID_HANDLE_VALUE) {  // NOLINT(performance-no-int-to-ptr): Win32's own value
    return kComOpenFailed;
  }
  // The null device is a port as it is: nothing to read or configure.
  if (std::strcmp(portName, "NUL") == 0) {
    return kComOk;
  }

  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (sys.getCommState(port, &dcb) == FALSE) {
    sys.closeHandle(port);
    return kComNotSerial;
  }
  if (lineControlFlags == 0) {
    return kComOk;
  }

  dcb.BaudRate = lineSettings.baudRate;
  dcb.ByteSize = LowByte(lineSettings.dataBits);
  dcb.Parity = LowByte(lineSettings.parity);
  dcb.StopBits = LowByte(lineSettings.stopBits);
  if (dcb.Parity != NOPARITY) {
    dcb.fParity = 1;
  }

  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = kOpenReadTimeoutMs;
  if (sys.setCommTimeouts(port, &timeouts) == FALSE) {
    sys.closeHandle(port);
    return kComOpenFailed;
  }

  // Every received byte reaches the driver as it arrived.
  dcb.ErrorChar = kErrorChar;
  dcb.fErrorChar = 0;
  ApplyLineControlFlags(lineControlFlags, dcb);

  if (sys.setCommState(port, &dcb) == FALSE) {
    sys.closeHandle(port);
    return kComSettingsRefused;
  }
  sys.setupComm(port, kQueueSize, kQueueSize);
  return kComOk;
}

int ComClose(HANDLE handle) {
  return Sys().closeHandle(handle) == FALSE ? kComIoFailed : kComOk;
}

int32_t ComSetReadTimeout(HANDLE handle, int32_t timeout) {
  const Syscalls& sys = Sys();
  COMMTIMEOUTS timeouts{};
  if (sys.getCommTimeouts(handle, &timeouts) == FALSE) {
    return 0;
  }
  const DWORD previous = timeouts.ReadTotalTimeoutConstant;
  // Units of 10 ms; what lies outside a DWORD of milliseconds is held at its
  // ends instead of wrapping around.
  const int64_t wanted = std::clamp<int64_t>(int64_t{timeout} * 10, 0, int64_t{MAXDWORD});
  if (static_cast<DWORD>(wanted) != previous) {
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(wanted);
    if (sys.setCommTimeouts(handle, &timeouts) == FALSE) {
      return 0;
    }
  }
  return static_cast<int32_t>(previous / 10);
}

int ComPurgeInput(HANDLE handle) {
  const Syscalls& sys = Sys();
  DWORD errors = 0;
  COMSTAT status{};
  bool failed = sys.clearCommError(handle, &errors, &status) != TRUE;
  if (!failed && status.cbInQue == 0) {
    return kComOk;
  }

  const int32_t previous = ComSetReadTimeout(handle, kPurgeTimeout);
  std::array<uint8_t, kPurgeChunk> chunk{};
  DWORD got = 0;
  do {
    got = 0;
    failed = sys.readFile(handle, chunk.data(), kPurgeChunk, &got, nullptr) != TRUE;
  } while (!failed && got == kPurgeChunk);

  if (previous != 0) {
    ComSetReadTimeout(handle, previous);
  }
  return failed ? kComOpenFailed : kComOk;
}

int ComBreak(DWORD milliseconds, HANDLE handle) {
  const Syscalls& sys = Sys();
  sys.setCommBreak(handle);
  sys.sleep(milliseconds);
  sys.clearCommBreak(handle);
  return kComOk;
}

int ComWrite(HANDLE handle, std::span<const uint8_t> buffer, DWORD* written) {
  const auto count = static_cast<DWORD>(buffer.size());
  DWORD done = 0;
  if (Sys().writeFile(handle, buffer.data(), count, &done, nullptr) == FALSE) {
    return kComIoFailed;
  }
  if (written != nullptr) {
    *written = done;
  }
  return done != count ? kComShortWrite : kComOk;
}

int ComRead(HANDLE handle, std::span<uint8_t> buffer, DWORD* got) {
  if (got != nullptr) {
    *got = 0;
  }
  if (buffer.size() > kMaxRead) {
    return kComIoFailed;
  }
  const Syscalls& sys = Sys();
  const auto count = static_cast<DWORD>(buffer.size());
  DWORD total = 0;
  for (;;) {
    const DWORD remaining = count - total;
    DWORD n = 0;
    if (sys.readFile(handle, buffer.subspan(total).data(), remaining, &n, nullptr) == FALSE) {
      return kComIoFailed;
    }
    // No byte within the read time-out; and never believe more than was asked.
    if (n == 0 || n > remaining) {
      return kComIoFailed;
    }
    total += n;
    if (got != nullptr) {
      *got = total;
    }
    if (total == count) {
      return kComOk;
    }
  }
}

int ComSleep(DWORD milliseconds) {
  Sys().sleep(milliseconds);
  return kComOk;
}

}  // namespace lorvant::serial
