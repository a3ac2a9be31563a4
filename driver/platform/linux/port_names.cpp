// Port names: the Win32 device names the driver is configured with, mapped to
// Linux device paths.

#include "platform/linux/port_names.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace lorvant::win32::internal {
namespace {

constexpr unsigned kMaxComNumber = 255;

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when text starts with prefix, letter case aside; rest then points
// after it.
bool StartsWithNoCase(const char* text, const char* prefix, const char** rest) {
  while (*prefix != '\0') {
    if (Upper(*text) != *prefix) {
      return false;
    }
    ++text;
    ++prefix;
  }
  *rest = text;
  return true;
}

// The n of "COMn", or 0 when the name is not one.
unsigned ComNumber(const char* name) {
  const char* digits = nullptr;
  if (!StartsWithNoCase(name, "COM", &digits) || *digits < '1' || *digits > '9') {
    return 0;
  }
  unsigned number = 0;
  for (const char* c = digits; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') {
      return 0;
    }
    number = (number * 10) + static_cast<unsigned>(*c - '0');
    if (number > kMaxComNumber) {
      return 0;
    }
  }
  return number;
}

}  // namespace

const char* ResolvePortName(const char* name, std::span<char> buffer) {
  const char* rest = nullptr;
  if (StartsWithNoCase(name, R"(\\.\)", &rest)) {
    name = rest;
  }
  if (StartsWithNoCase(name, "NUL", &rest) && *rest == '\0') {
    return "/dev/null";
  }
  if (name[0] == '/') {
    return name;
  }
  const unsigned number = ComNumber(name);
  if (number == 0) {
    return nullptr;
  }
  std::array<char, 24> variable{};  // room for any unsigned
  std::snprintf(variable.data(), variable.size(), "LORVANT_COM%u", number);
  const char* alias = std::getenv(variable.data());
  if (alias != nullptr && alias[0] != '\0') {
    return alias;
  }
  const int length = std::snprintf(buffer.data(), buffer.size(), "/dev/ttyS%u", number - 1);
  if (length < 0 || static_cast<size_t>(length) >= buffer.size()) {
    return nullptr;
  }
  return buffer.data();
}

}  // namespace lorvant::win32::internal
