// Line settings shared with CreateFileA.
#pragma once

namespace lorvant::win32::internal {

// Puts a terminal just opened into raw mode, as a Win32 serial port always
// is (binary, no flow control, no translation), keeping its rate, framing
// and hardware flow control until SetCommState sets them. False, with errno
// set, when the terminal refuses.
bool MakeRaw(int fd, bool pty);

}  // namespace lorvant::win32::internal
