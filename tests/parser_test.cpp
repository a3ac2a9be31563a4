// Gate address parser: every accepted form, every refusal with its message,
// and what a refusal leaves in the GateAddress.

#include "address/parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/dispatch.h"
#include "host/runtime.h"
#include "lorvant/records.h"
#include "support/log_capture.h"

// GateAddress is a host record in the global namespace; so are its test helpers.
static bool operator==(const GateAddress& a, const GateAddress& b) {
  return a.instrumentId == b.instrumentId && a.format == b.format && a.pno == b.pno &&
         a.bitNumber == b.bitNumber && a.width == b.width;
}

static void PrintTo(const GateAddress& a, std::ostream* out) {
  *out << "{id " << a.instrumentId << ", format " << a.format << ", pno " << a.pno << ", bit "
       << a.bitNumber << ", width " << a.width << "}";
}

namespace lorvant {
namespace {

using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;

constexpr uint32_t kSingle = 3;
constexpr uint32_t kBlock = 4;

// What a field holds when the parser has not written it.
constexpr int32_t kUntouched = 0x55AA55AA;
constexpr GateAddress kFresh{kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};

struct ParseCase {
  const char* name;
  std::string address;  // any bytes
  uint32_t code;        // 3 single, 4 block
  int32_t gateKind;
  int32_t blockSize;
  int32_t result;
  GateAddress after;
  std::string message;  // the one line logged at level 64, or empty for none
};

void PrintTo(const ParseCase& c, std::ostream* out) {
  *out << c.name;
}

// Runs one request the way the host makes it: the address in a buffer of
// exactly its size, so a read past its end is caught under the sanitizers.
struct ParseRun {
  int32_t result;
  GateAddress address;
  std::vector<LogLine> lines;
  bool hostStringIntact;
};

ParseRun RunParser(uint32_t code, const std::string& address, int32_t gateKind, int32_t blockSize) {
  std::vector<char> hostString(address.begin(), address.end());
  hostString.push_back('\0');
  const std::vector<char> before = hostString;

  GateParseRecord record{hostString.data(), kUntouched, gateKind, blockSize, kFresh};
  VpiRequest request{nullptr, code, 0, 0, &record};
  const LogCapture log;
  const int32_t result = VpiMain(&request);
  return ParseRun{result, record.address, log.Lines(), hostString == before};
}

constexpr GateAddress Whole(int32_t id, int32_t pno, int32_t format = kFormatPlain) {
  return {id, format, pno, kNoBit, kWholeWidth};
}
constexpr GateAddress Bit(int32_t id, int32_t pno, int32_t bit, int32_t format = kFormatPlain) {
  return {id, format, pno, bit, kBitWidth};
}
// Refused at the parameter number: only the identifier and format were written.
constexpr GateAddress IdAndFormatOnly(int32_t id, int32_t format) {
  return {id, format, kUntouched, kUntouched, kUntouched};
}
constexpr GateAddress kIfg{0, kFormatIfg, 0, kNoBit, kWholeWidth};

const std::string k32Ifg = "IFG" + std::string(29, 'x');
const std::string k33 = "0A001" + std::string(28, ' ');
const std::string k33Ifg = "IFG" + std::string(30, 'x');

const ParseCase kCases[] = {
    // Accepted single gates: every form of the address table.
    {"LowerCaseHex", "0a001", kSingle, 0, 0, 0, Whole(0x0A, 1), ""},
    {"UpperCaseHex", "0A001", kSingle, 0, 0, 0, Whole(0x0A, 1), ""},
    {"HighestIdAndPno", "8F127", kSingle, 1, 0, 0, Whole(0x8F, 127), ""},
    {"AllZero", "00000", kSingle, 2, 0, 0, Whole(0, 0), ""},
    {"BitZero", "0A0010", kSingle, 6, 0, 0, Bit(0x0A, 1, 0), ""},
    {"BitFifteenLowerCase", "0A001f", kSingle, 6, 0, 0, Bit(0x0A, 1, 15), ""},
    {"Marked", "0A001*", kSingle, 0, 0, 0, Whole(0x0A, 1, kFormatMarked), ""},
    {"FormatCode", "0A001.", kSingle, 0, 0, 0, Whole(0x0A, 1, kFormatCode), ""},
    {"TrailingBlank", "0A001 ", kSingle, 0, 0, 0, Whole(0x0A, 1), ""},
    {"BitThenBlank", "0A0017 ", kSingle, 6, 0, 0, Bit(0x0A, 1, 7), ""},
    {"BitMarked", "0A0017*", kSingle, 6, 0, 0, Bit(0x0A, 1, 7, kFormatMarked), ""},
    {"FormatCodeThenBlank", "0A001. ", kSingle, 1, 0, 0, Whole(0x0A, 1, kFormatCode), ""},
    {"FormatCodeMarked", "0A001.*", kSingle, 2, 0, 0, Whole(0x0A, 1, kFormatCodeMarked), ""},
    {"TwoStars", "0A001**", kSingle, 0, 0, 0, Whole(0x0A, 1, kFormatMarked), ""},
    {"StarBlank", "0A001* ", kSingle, 0, 0, 0, Whole(0x0A, 1, kFormatMarked), ""},
    {"BlankStar", "0A001 *", kSingle, 0, 0, 0, Whole(0x0A, 1, kFormatMarked), ""},
    {"TwoBlanks", "0A001  ", kSingle, 0, 0, 0, Whole(0x0A, 1), ""},
    {"IfgLower", "ifg", kSingle, 0, 0, 0, kIfg, ""},
    {"IfgMixedWithTail", "IfG anything at all", kSingle, 0, 0, 0, kIfg, ""},
    {"Ifg32Characters", k32Ifg, kSingle, 0, 0, 0, kIfg, ""},

    // Refused by Parse, with what each refusal leaves behind.
    {"TooLong", k33, kSingle, 0, 0, 1, kFresh,
     "MOKTA> Parse() Gate address string '" + k33 + "' too long ( > 32)"},
    {"TooLongIfg", k33Ifg, kSingle, 0, 0, 1, kFresh,
     "MOKTA> Parse() Gate address string '" + k33Ifg + "' too long ( > 32)"},
    {"Empty", "", kSingle, 0, 0, 1, kFresh, "MOKTA> Parse() Illegal Instrument ID 00 in ''"},
    {"If", "IF", kSingle, 0, 0, 1, kFresh, "MOKTA> Parse() Illegal character 1 in 'IF'"},
    {"IdTooHigh", "9A001", kSingle, 0, 0, 1, kFresh,
     "MOKTA> Parse() Illegal character 1 in '9A001'"},
    {"HundredsTwo", "0A201", kSingle, 0, 0, 1, kFresh,
     "MOKTA> Parse() Illegal character 3 in '0A201'"},
    {"SeventhDigit", "0A00123", kSingle, 0, 0, 1, kFresh,
     "MOKTA> Parse() Illegal character 7 in '0A00123'"},
    {"MessageShowsUpperCaseCopy", "0a00x", kSingle, 0, 0, 1, kFresh,
     "MOKTA> Parse() Illegal character 5 in '0A00X'"},
    {"HighByte",
     "0A0\xFF"
     "1",
     kSingle, 0, 0, 1, kFresh,
     "MOKTA> Parse() Illegal character 4 in '0A0\xFF"
     "1'"},
    {"PnoTooHigh", "0A128", kSingle, 0, 0, 1, IdAndFormatOnly(0x0A, 0),
     "MOKTA> Parse() Illegal parameter nr.(PNO) 128 in '0A128'"},
    {"PnoTooHighMarked", "0A199*", kSingle, 0, 0, 1, IdAndFormatOnly(0x0A, 1),
     "MOKTA> Parse() Illegal parameter nr.(PNO) 199 in '0A199*'"},
    {"NoPnoShowsId", "0A", kSingle, 0, 0, 1, IdAndFormatOnly(0x0A, 0),
     "MOKTA> Parse() Illegal parameter nr.(PNO) 10 in '0A'"},
    {"OneDigit", "8", kSingle, 0, 0, 1, IdAndFormatOnly(0x08, 0),
     "MOKTA> Parse() Illegal parameter nr.(PNO) 8 in '8'"},
    {"FourCharacters", "0A01", kSingle, 0, 0, 1, Whole(0x0A, 1),
     "MOKTA> Parse() Wrong gate address length for '0A01'"},
    {"EighthCharacterNotTested", "0A001 *X", kSingle, 0, 0, 1, Whole(0x0A, 1, kFormatMarked),
     "MOKTA> Parse() Wrong gate address length for '0A001 *X'"},
    {"LongGateAddress", "0A0017*" + std::string(20, '#'), kSingle, 6, 0, 1,
     Whole(0x0A, 1, kFormatMarked),
     "MOKTA> Parse() Wrong gate address length for '0A0017*" + std::string(20, '#') + "'"},

    // Refused by the single-gate checks: the GateAddress is complete.
    {"BitGateAnalog", "0A0017", kSingle, 0, 0, 1, Bit(0x0A, 1, 7),
     "MOKTA> SingleParse() gate '0A0017' should be DIGITAL"},
    {"WholeGateDigital", "0A001", kSingle, 6, 0, 1, Whole(0x0A, 1),
     "MOKTA> SingleParse() gate '0A001' should be ANALOG"},
    {"WholeGateOtherKind", "0a001", kSingle, 3, 0, 1, Whole(0x0A, 1),
     "MOKTA> SingleParse() gate '0a001' should be ANALOG"},
    {"NegativeKind", "0A001", kSingle, -1, 0, 1, Whole(0x0A, 1),
     "MOKTA> SingleParse() gate '0A001' should be ANALOG"},
    {"IfgDigital", "ifg", kSingle, 6, 0, 1, kIfg,
     "MOKTA> SingleParse() gate 'ifg' should be ANALOG"},
    {"FormatCodeDigital", "0A001.", kSingle, 6, 0, 1, Whole(0x0A, 1, kFormatCode),
     "MOKTA> SingleParse() gate '0A001.' should be ANALOG"},
    {"StringGate", "0A001", kSingle, 7, 0, 1, Whole(0x0A, 1),
     "MOKTA> SingleParse() no STRING gates allowed gate '0A001'"},
    {"StringBitGate", "0A0017", kSingle, 7, 0, 1, Bit(0x0A, 1, 7),
     "MOKTA> SingleParse() no STRING gates allowed gate '0A0017'"},

    // Blocks.
    {"BlockLastParameter126", "0A119", kBlock, 0, 8, 0, Whole(0x0A, 119), ""},
    {"BlockFromZero127", "0A000", kBlock, 0, 127, 0, Whole(0x0A, 0), ""},
    {"BlockOfFormatCodes", "0A001.", kBlock, 0, 4, 0, Whole(0x0A, 1, kFormatCode), ""},
    {"BlockKindNotLookedAt", "0A001", kBlock, 7, 2, 0, Whole(0x0A, 1), ""},
    {"BlockIfg127", "IFG", kBlock, 0, 127, 0, kIfg, ""},
    {"BlockPastParameter126", "0A120", kBlock, 0, 8, 1, Whole(0x0A, 120),
     "MOKTA> Parse() block size out of range block '0A120'"},
    {"BlockIfg128", "IFG", kBlock, 0, 128, 1, kIfg,
     "MOKTA> Parse() block size out of range block 'IFG'"},
    {"BlockOfOne", "0A001", kBlock, 0, 1, 1, Whole(0x0A, 1),
     "MOKTA> Parse() block size out of range block '0A001'"},
    {"BlockNegative", "0A001", kBlock, 0, -5, 1, Whole(0x0A, 1),
     "MOKTA> Parse() block size out of range block '0A001'"},
    {"BlockHuge", "0A127", kBlock, 0, INT32_MAX, 1, Whole(0x0A, 127),
     "MOKTA> Parse() block size out of range block '0A127'"},
    {"BlockOfBits", "0a1200", kBlock, 0, 2, 1, Bit(0x0A, 120, 0),
     "MOKTA> Parse() no spec. dig. gates allowed for blocks '0a1200'"},
    {"BlockBadCharacter", "9A001", kBlock, 0, 2, 1, kFresh,
     "MOKTA> Parse() Illegal character 1 in '9A001'"},
};

class AddressParser : public ::testing::TestWithParam<ParseCase> {};

TEST_P(AddressParser, ResultAddressAndMessage) {
  const ParseCase& c = GetParam();
  const ParseRun run = RunParser(c.code, c.address, c.gateKind, c.blockSize);

  EXPECT_EQ(run.result, c.result);
  EXPECT_EQ(run.address, c.after);
  if (c.message.empty()) {
    EXPECT_THAT(run.lines, ::testing::IsEmpty());
  } else {
    EXPECT_THAT(run.lines, ::testing::ElementsAre(LogLine{kLogDetail, c.message}));
  }
  EXPECT_TRUE(run.hostStringIntact);
}

INSTANTIATE_TEST_SUITE_P(Cases, AddressParser, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(AddressParserHostString, ReadOnlyStringIsNeverWritten) {
  // A string literal lives in read-only memory: a write would fault.
  GateParseRecord record{"0a001f", 0, kGateDigital, 0, kFresh};
  VpiRequest request{nullptr, kSingle, 0, 0, &record};
  EXPECT_EQ(VpiMain(&request), 0);
  EXPECT_EQ(record.address, Bit(0x0A, 1, 15));
}

TEST(AddressParserHostString, NullAddressIsRefusedAsEmpty) {
  const LogCapture log;
  GateParseRecord record{nullptr, 0, 0, 0, kFresh};
  VpiRequest request{nullptr, kSingle, 0, 0, &record};
  EXPECT_EQ(VpiMain(&request), 1);
  EXPECT_THAT(log.Lines(), ::testing::ElementsAre(LogLine{
                               kLogDetail, "MOKTA> Parse() Illegal Instrument ID 00 in ''"}));
}

// Any bytes of any length: accepted with a well-formed address and no message,
// or refused with exactly one message; the host's string stays as it was.
TEST(AddressParserAnyInput, AcceptedWellFormedOrRefusedWithOneMessage) {
  std::mt19937 random(20261211);
  const std::string alphabet = "0123456789abcdefABCDEFifgIFG.* \t\xFF";
  for (int round = 0; round < 20000; ++round) {
    const auto length = std::uniform_int_distribution<std::size_t>(0, 40)(random);
    std::string address;
    for (std::size_t i = 0; i < length; ++i) {
      const bool anyByte = std::uniform_int_distribution<int>(0, 9)(random) == 0;
      address.push_back(anyByte
                            ? static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random))
                            : alphabet[std::uniform_int_distribution<std::size_t>(
                                  0, alphabet.size() - 1)(random)]);
    }
    const uint32_t code = (round % 2 == 0) ? kSingle : kBlock;
    const int32_t kind = std::uniform_int_distribution<int32_t>(-1, 8)(random);
    const int32_t size = std::uniform_int_distribution<int32_t>(-2, 130)(random);
    const ParseRun run = RunParser(code, address, kind, size);

    ASSERT_TRUE(run.hostStringIntact) << address;
    if (run.result == 0) {
      ASSERT_THAT(run.lines, ::testing::IsEmpty()) << address;
      ASSERT_GE(run.address.instrumentId, 0);
      ASSERT_LE(run.address.instrumentId, 0x8F);
      ASSERT_GE(run.address.pno, 0);
      ASSERT_LE(run.address.pno, 127);
      ASSERT_GE(run.address.format, 0);
      ASSERT_LE(run.address.format, 4);
      ASSERT_GE(run.address.bitNumber, -1);
      ASSERT_LE(run.address.bitNumber, 15);
      ASSERT_EQ(run.address.width, run.address.bitNumber == -1 ? 16 : 1);
    } else {
      ASSERT_EQ(run.result, 1) << address;
      ASSERT_EQ(run.lines.size(), 1U) << address;
      ASSERT_EQ(run.lines[0].level, kLogDetail);
      ASSERT_EQ(run.lines[0].message.rfind("MOKTA> ", 0), 0U);
    }
  }
}

}  // namespace
}  // namespace lorvant
