// The initialisation file.
//
// Its lines are taken as the C runtime's line read with a 256-byte buffer
// takes them from a text-mode file, and each is scanned as the format
// " IFG = %u" scans it. Both are done here by hand, so that every platform
// reads a file the same way and a number of any length has one meaning:
// digits accumulate modulo 2^32 and a minus sign negates modulo 2^32.

#include "host/initfile.h"

#include <array>
#include <cstdio>

#include "host/runtime.h"

namespace lorvant {
namespace {

constexpr const char* kBaseName = "MOKTA";
constexpr std::size_t kLineBuffer = 256;
constexpr int kCtrlZ = 0x1A;

// One character of a text-mode file: a carriage return before a line feed is
// dropped and Ctrl-Z ends the file. EOF also on a read error.
int GetTextChar(std::FILE* file) {
  const int c = std::fgetc(file);
  if (c == kCtrlZ) {
    return EOF;
  }
  if (c == '\r') {
    const int next = std::fgetc(file);
    if (next == '\n') {
      return '\n';
    }
    if (next != EOF) {
      std::ungetc(next, file);
    }
  }
  return c;
}

// At most line.size() - 1 characters up to and including a line feed, then a
// terminating NUL. False when the file ended before any character was read.
// The count of characters read is returned in length, embedded NULs included.
bool ReadLine(std::FILE* file, std::span<char> line, std::size_t& length) {
  length = 0;
  while (length + 1 < line.size()) {
    const int c = GetTextChar(file);
    if (c == EOF) {
      break;
    }
    line[length++] = static_cast<char>(c);
    if (c == '\n') {
      break;
    }
  }
  line[length] = '\0';
  return length != 0;
}

constexpr bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

constexpr const char* SkipSpace(const char* p) {
  while (IsSpace(*p)) {
    ++p;
  }
  return p;
}

// " IFG = %u" over a NUL-terminated line: true with the value when the
// number converts.
bool ScanIfgLine(const char* line, uint32_t& value) {
  const char* p = SkipSpace(line);
  for (const char expected : {'I', 'F', 'G'}) {
    if (*p++ != expected) {
      return false;
    }
  }
  p = SkipSpace(p);
  if (*p++ != '=') {
    return false;
  }
  p = SkipSpace(p);
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (!IsDigit(*p)) {
    return false;
  }
  uint32_t number = 0;
  for (; IsDigit(*p); ++p) {
    number = number * 10u + static_cast<uint32_t>(*p - '0');
  }
  value = negative ? 0u - number : number;
  return true;
}

// Upper-cases a to z before the first line feed.
void UpperCase(std::span<char> line, std::size_t length) {
  for (std::size_t i = 0; i < length && line[i] != '\n'; ++i) {
    if (line[i] >= 'a' && line[i] <= 'z') {
      line[i] = static_cast<char>(line[i] - 'a' + 'A');
    }
  }
}

// Binary, because the text-mode rules are applied by GetTextChar.
std::FILE* OpenForReading(const char* name) {
  return std::fopen(name, "rb");  // NOLINT(cppcoreguidelines-owning-memory)
}

}  // namespace

std::FILE* OpenInitFile(const char* baseName, std::span<char> name, uint32_t channelNumber) {
  const unsigned channel = channelNumber;
  std::snprintf(name.data(), name.size(), "%s%02u.INT", baseName, channel);
  if (std::FILE* file = OpenForReading(name.data())) {
    return file;
  }
  std::snprintf(name.data(), name.size(), "%s%01u.INT", baseName, channel);
  if (std::FILE* file = OpenForReading(name.data())) {
    return file;
  }
  std::snprintf(name.data(), name.size(), "%s.INT", baseName);
  return OpenForReading(name.data());
}

void ReadInitFile(VpiRequest* request) {
  std::array<char, 32> name{};
  std::FILE* file = OpenInitFile(kBaseName, name, request->channelNumber);
  if (file == nullptr) {
    err(kLogDetail, "MOKTA> ColdStart() Warning, no initfile found");
    return;
  }

  uint16_t lineNumber = 0;
  std::array<char, kLineBuffer> line{};
  std::size_t length = 0;
  while (ReadLine(file, line, length)) {
    ++lineNumber;
    UpperCase(line, length);
    uint32_t value = 0;
    if (ScanIfgLine(line.data(), value)) {
      err(kLogDetail, "MOKTA> ReadInitFile() IFG = %u", value);
      request->context->ifg = static_cast<uint16_t>(value & 0xFFFFu);
    } else if (line[0] != '\n') {
      err(kLogOperator, "MOKTA> ReadIntFile() illegal line %u in '%s'",
          static_cast<unsigned>(lineNumber), name.data());
    }
  }
  std::fclose(file);  // NOLINT(cppcoreguidelines-owning-memory)
}

}  // namespace lorvant
