// The modem control lines of a terminal.
#pragma once

namespace lorvant::win32::internal {

// Raises (on) or drops the lines in bits (TIOCM_DTR, TIOCM_RTS). False, with
// errno set, when the device refuses; a pseudo-terminal has no such lines.
bool SetModemLines(int fd, int bits, bool on);

}  // namespace lorvant::win32::internal
