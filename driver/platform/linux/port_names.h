// Which Linux device a Win32 port name stands for.
#pragma once

#include <span>

namespace lorvant::win32::internal {

// The path CreateFileA opens for a port name, or null when the name is none
// the layer knows. An optional "\\.\" in front is dropped; then
//   "NUL" (any letter case)       /dev/null
//   "/..."                        the path itself
//   "COMn" (any letter case,      the value of the environment variable
//    n 1..255, no leading zero)   LORVANT_COMn when set and not empty, else
//                                 /dev/ttyS<n-1>
// The result points into name, into the environment, at a constant, or into
// buffer, which receives the /dev/ttyS path (16 characters suffice).
const char* ResolvePortName(const char* name, std::span<char> buffer);

}  // namespace lorvant::win32::internal
