// Gate address parser.
//
// Parse works on a private, upper-cased copy of at most 32 characters, so the
// host's string is read only up to its terminator (or the 33rd character) and
// never written. Fields of the GateAddress are written in a fixed order, and a
// refusal leaves those written before it in place.

#include "address/parser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "host/dispatch.h"
#include "host/runtime.h"

namespace lorvant {
namespace {

constexpr std::size_t kPositions = 7;

// The characters allowed at each position of a gate address.
constexpr std::array<std::string_view, kPositions> kPositionSets{
    "012345678",            // high digit of the instrument identifier
    "0123456789ABCDEF",     // low digit of the instrument identifier
    "01",                   // hundreds of the parameter number
    "0123456789",           // tens
    "0123456789",           // units
    "0123456789ABCDEF.* ",  // bit number, '.', '*' or blank
    "* ",                   // '*' or blank
};

constexpr int32_t kMaxInstrumentId = 0x8F;
constexpr int32_t kMaxPno = 127;
constexpr int32_t kMinBlockSize = 2;
constexpr int32_t kMinGateLength = 5;
constexpr int32_t kMaxGateLength = 7;

constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

constexpr int DecimalValue(char c) {
  return (c >= '0' && c <= '9') ? c - '0' : -1;
}

constexpr char ToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The parser's private copy of an address. A position at or past the end
// holds no character: At() gives NUL there, which no test matches.
class WorkCopy {
 public:
  explicit WorkCopy(std::string_view address)
      : length_(std::min(address.size(), static_cast<std::size_t>(kMaxAddressLength))) {
    for (std::size_t i = 0; i < length_; ++i) {
      text_[i] = ToUpper(address[i]);
    }
  }

  [[nodiscard]] std::size_t Length() const { return length_; }
  [[nodiscard]] char At(std::size_t index) const { return index < length_ ? text_[index] : '\0'; }
  [[nodiscard]] const char* CStr() const { return text_.data(); }
  [[nodiscard]] std::string_view View() const { return {text_.data(), length_}; }

  // Reads up to maxDigits digits from position start on; false when none.
  template <typename DigitValue>
  bool ReadNumber(std::size_t start, std::size_t maxDigits, int base, DigitValue digitValue,
                  int32_t& value) const {
    int32_t result = 0;
    std::size_t digits = 0;
    for (std::size_t i = start; i < length_ && digits < maxDigits; ++i, ++digits) {
      const int digit = digitValue(text_[i]);
      if (digit < 0) {
        break;
      }
      result = result * base + digit;
    }
    if (digits == 0) {
      return false;
    }
    value = result;
    return true;
  }

 private:
  std::array<char, kMaxAddressLength + 1> text_{};  // always NUL-terminated
  std::size_t length_;
};

const char* AddressOf(const GateParseRecord& record) {
  return record.addressString != nullptr ? record.addressString : "";
}

GateParseRecord& RecordOf(VpiRequest* request) {
  return *static_cast<GateParseRecord*>(request->params);
}

}  // namespace

int32_t Parse(VpiRequest* request) {
  GateParseRecord& record = RecordOf(request);
  GateAddress& address = record.address;
  const char* hostAddress = AddressOf(record);

  // Looks no further than one character past the longest address.
  const std::size_t length = ::strnlen(hostAddress, kMaxAddressLength + 1);
  if (length > static_cast<std::size_t>(kMaxAddressLength)) {
    err(kLogDetail, "MOKTA> Parse() Gate address string '%s' too long ( > %d)", hostAddress,
        kMaxAddressLength);
    return kResultRefused;
  }
  const WorkCopy copy(std::string_view(hostAddress, length));

  if (copy.View().starts_with("IFG")) {
    address.instrumentId = 0;
    address.format = kFormatIfg;
    address.pno = 0;
    address.width = kWholeWidth;
    address.bitNumber = kNoBit;
    return kResultOk;
  }

  for (std::size_t i = 0; i < kPositions && i < copy.Length(); ++i) {
    if (kPositionSets[i].find(copy.At(i)) == std::string_view::npos) {
      err(kLogDetail, "MOKTA> Parse() Illegal character %d in '%s'", static_cast<int>(i + 1),
          copy.CStr());
      return kResultRefused;
    }
  }

  int32_t instrumentId = 0;
  if (!copy.ReadNumber(0, 2, 16, HexValue, instrumentId) || instrumentId > kMaxInstrumentId) {
    err(kLogDetail, "MOKTA> Parse() Illegal Instrument ID %02x in '%s'",
        static_cast<unsigned>(instrumentId), copy.CStr());
    return kResultRefused;
  }
  address.instrumentId = instrumentId;

  const char sixth = copy.At(5);
  const char seventh = copy.At(6);
  if (sixth == '*') {
    address.format = kFormatMarked;
  } else {
    address.format = (sixth == '.' ? kFormatCode : kFormatPlain) + (seventh == '*' ? 1 : 0);
  }

  // Without a parameter digit the message shows the instrument identifier.
  int32_t pno = instrumentId;
  if (!copy.ReadNumber(2, 3, 10, DecimalValue, pno) || pno > kMaxPno) {
    err(kLogDetail, "MOKTA> Parse() Illegal parameter nr.(PNO) %d in '%s'", static_cast<int>(pno),
        copy.CStr());
    return kResultRefused;
  }
  address.pno = pno;
  address.width = kWholeWidth;
  address.bitNumber = kNoBit;

  const auto gateLength = static_cast<int32_t>(copy.Length());
  if (gateLength < kMinGateLength || gateLength > kMaxGateLength) {
    err(kLogDetail, "MOKTA> Parse() Wrong gate address length for '%s'", copy.CStr());
    return kResultRefused;
  }

  const int bit = HexValue(sixth);
  if (bit >= 0) {
    address.bitNumber = bit;
    address.width = kBitWidth;
  }
  return kResultOk;
}

int32_t SingleAddressParser(VpiRequest* request) {
  const int32_t result = Parse(request);
  if (result != kResultOk) {
    return result;
  }
  const GateParseRecord& record = RecordOf(request);
  const char* hostAddress = AddressOf(record);
  const int32_t kind = record.gateKind;
  const bool isBit = record.address.bitNumber != kNoBit;
  if (kind == kGateString) {
    err(kLogDetail, "MOKTA> SingleParse() no STRING gates allowed gate '%s'", hostAddress);
    return kResultRefused;
  }
  if (isBit && kind != kGateDigital) {
    err(kLogDetail, "MOKTA> SingleParse() gate '%s' should be DIGITAL", hostAddress);
    return kResultRefused;
  }
  if (!isBit && (kind < kGateAnalog0 || kind > kGateAnalog2)) {
    err(kLogDetail, "MOKTA> SingleParse() gate '%s' should be ANALOG", hostAddress);
    return kResultRefused;
  }
  return kResultOk;
}

int32_t BlockAddressParser(VpiRequest* request) {
  const int32_t result = Parse(request);
  if (result != kResultOk) {
    return result;
  }
  const GateParseRecord& record = RecordOf(request);
  const char* hostAddress = AddressOf(record);
  if (record.address.bitNumber != kNoBit) {
    err(kLogDetail, "MOKTA> Parse() no spec. dig. gates allowed for blocks '%s'", hostAddress);
    return kResultRefused;
  }
  // Wide arithmetic: any blockSize the host sends is compared, none overflows.
  const int64_t end = int64_t{record.address.pno} + int64_t{record.blockSize};
  if (record.blockSize < kMinBlockSize || end > kMaxPno) {
    err(kLogDetail, "MOKTA> Parse() block size out of range block '%s'", hostAddress);
    return kResultRefused;
  }
  return kResultOk;
}

}  // namespace lorvant
