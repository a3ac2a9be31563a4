// The initialisation file: which file is read, and what each kind of line
// does to the gap and the log.

#include "host/initfile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "host/runtime.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace lorvant {
namespace {

using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;
using ::lorvant::testing::ScopedCurrentDir;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr uint16_t kStartGap = 12;

class InitFileTest : public ::testing::Test {
 protected:
  uint16_t Read(uint32_t channelNumber) {
    ChannelContext channel{};
    channel.ifg = kStartGap;
    VpiRequest request{&channel, 1, channelNumber, 0, nullptr};
    ReadInitFile(&request);
    return channel.ifg;
  }

  ScopedCurrentDir dir_;
  LogCapture log_;
};

LogLine Gap(const std::string& value) {
  return {kLogDetail, "MOKTA> ReadInitFile() IFG = " + value};
}

LogLine Illegal(int line) {
  return {kLogOperator,
          "MOKTA> ReadIntFile() illegal line " + std::to_string(line) + " in 'MOKTA05.INT'"};
}

struct LineCase {
  const char* what;
  std::string content;
  uint16_t gap;
  std::vector<LogLine> log;
};

class InitFileLines : public InitFileTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(InitFileLines, SetTheGapOrAreLogged) {
  const LineCase& c = GetParam();
  ScopedCurrentDir::Write("MOKTA05.INT", c.content);
  EXPECT_EQ(Read(5), c.gap) << c.what;
  EXPECT_THAT(log_.Lines(), ElementsAreArray(c.log)) << c.what;
}

const std::string kPaddedGapLine = "IFG = 9" + std::string(293, ' ') + "\n";

INSTANTIATE_TEST_SUITE_P(
    Lines, InitFileLines,
    ::testing::Values(
        LineCase{"lower case", "ifg = 25\n", 25, {Gap("25")}},
        LineCase{"no blanks, zero", "IFG=0\n", 0, {Gap("0")}},
        LineCase{"leading tab, trailing text", "\tIfg = 20 ms\n", 20, {Gap("20")}},
        LineCase{"above 16 bits", "IFG = 65556\n", 20, {Gap("65556")}},
        LineCase{"minus one", "IFG = -1\n", 65535, {Gap("4294967295")}},
        LineCase{"plus sign", "IFG = +8\n", 8, {Gap("8")}},
        LineCase{"beyond 32 bits wraps", "IFG = 4294967396\n", 100, {Gap("100")}},
        LineCase{"digits then letters", "IFG = 12abc\n", 12, {Gap("12")}},
        LineCase{"the last line counts", "IFG = 30\nIFG = 40\n", 40, {Gap("30"), Gap("40")}},
        LineCase{"no equals sign", "IFG 20\n", kStartGap, {Illegal(1)}},
        LineCase{"no number", "IFG =\n", kStartGap, {Illegal(1)}},
        LineCase{"only a sign", "IFG = -\n", kStartGap, {Illegal(1)}},
        LineCase{"no key", " = 5\n", kStartGap, {Illegal(1)}},
        LineCase{"blanks", "   \n", kStartGap, {Illegal(1)}},
        LineCase{"comment", "# gap\nIFG = 7\n", 7, {Illegal(1), Gap("7")}},
        LineCase{"empty lines are counted, not logged", "\n\nIFG 20\n", kStartGap, {Illegal(3)}},
        LineCase{"empty file", "", kStartGap, {}},
        LineCase{"no final line feed", "IFG = 30", 30, {Gap("30")}},
        LineCase{"carriage returns", "IFG = 30\r\n\r\nIFG 1\r\n", 30, {Gap("30"), Illegal(3)}},
        LineCase{"a lone carriage return is a character", "IFG = 5\rIFG = 6\n", 5, {Gap("5")}},
        LineCase{"blank carriage return line", "\r\r\n", kStartGap, {Illegal(1)}},
        LineCase{"Ctrl-Z ends the file", "IFG = 5\n\x1AIFG = 6\n", 5, {Gap("5")}},
        LineCase{"leading NUL", std::string("\0IFG = 5\n", 9), kStartGap, {Illegal(1)}},
        LineCase{"NUL after the number", std::string("IFG = 5\0 9\n", 11), 5, {Gap("5")}},
        LineCase{"binary bytes", "\xFF\xFE\x80\n", kStartGap, {Illegal(1)}},
        LineCase{"long line in pieces",
                 std::string(300, 'x') + "\n",
                 kStartGap,
                 {Illegal(1), Illegal(2)}},
        LineCase{"long gap line", kPaddedGapLine, 9, {Gap("9"), Illegal(2)}}),
    [](const ::testing::TestParamInfo<LineCase>& param) {
      return "Case" + std::to_string(param.index);
    });

TEST_F(InitFileTest, NoFileWarnsAndKeepsTheGap) {
  EXPECT_EQ(Read(5), kStartGap);
  EXPECT_THAT(log_.Lines(),
              ElementsAre(LogLine{kLogDetail, "MOKTA> ColdStart() Warning, no initfile found"}));
}

struct NamesCase {
  uint32_t channel;
  std::vector<std::string> present;  // each sets a gap of its position + 1
  uint16_t gap;
};

class InitFileNames : public InitFileTest, public ::testing::WithParamInterface<NamesCase> {};

TEST_P(InitFileNames, TheFirstNameThatOpensIsRead) {
  const NamesCase& c = GetParam();
  for (std::size_t i = 0; i < c.present.size(); ++i) {
    ScopedCurrentDir::Write(c.present[i], "IFG = " + std::to_string(i + 1) + "\n");
  }
  EXPECT_EQ(Read(c.channel), c.gap);
}

INSTANTIATE_TEST_SUITE_P(
    Names, InitFileNames,
    ::testing::Values(NamesCase{5, {"MOKTA.INT", "MOKTA5.INT", "MOKTA05.INT"}, 3},
                      NamesCase{5, {"MOKTA.INT", "MOKTA5.INT"}, 2}, NamesCase{5, {"MOKTA.INT"}, 1},
                      NamesCase{12, {"MOKTA.INT", "MOKTA12.INT"}, 2},
                      NamesCase{0, {"MOKTA.INT", "MOKTA0.INT", "MOKTA00.INT"}, 3},
                      NamesCase{0, {"MOKTA.INT", "MOKTA0.INT"}, 2},
                      NamesCase{123, {"MOKTA.INT", "MOKTA123.INT"}, 2},
                      NamesCase{4294967295u, {"MOKTA4294967295.INT"}, 1}));

TEST_F(InitFileTest, TheNameBufferHoldsTheLastNameTried) {
  std::array<char, 32> name{};
  EXPECT_EQ(OpenInitFile("MOKTA", name, 7), nullptr);
  EXPECT_STREQ(name.data(), "MOKTA.INT");

  ScopedCurrentDir::Write("MOKTA7.INT", "");
  std::FILE* file = OpenInitFile("MOKTA", name, 7);
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_STREQ(name.data(), "MOKTA7.INT");
}

TEST_F(InitFileTest, TheIllegalLineMessageNamesTheFileRead) {
  ScopedCurrentDir::Write("MOKTA.INT", "junk\n");
  Read(3);
  EXPECT_THAT(
      log_.Lines(),
      ElementsAre(LogLine{kLogOperator, "MOKTA> ReadIntFile() illegal line 1 in 'MOKTA.INT'"}));
}

}  // namespace
}  // namespace lorvant
