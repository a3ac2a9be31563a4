// The runtime library stand-in: message formatting, sinks and levels, and the
// value conversion.

#include <kyrpro/kyrpro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "support/log_capture.h"

namespace {

using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;

TEST(KyrproErr, FormatsAndDeliversWithItsLevel) {
  const LogCapture log;
  err(64, "MOKTA> ColdStart() File handle %u", 7U);
  err(32, "MOKTA> IFG failed (%dms < %dms)", 10, 12);
  err(8, "MOKTA> %s %02x %02X", "x", 0xAB, 0x3);
  EXPECT_THAT(log.Lines(), ::testing::ElementsAre(LogLine{64, "MOKTA> ColdStart() File handle 7"},
                                                  LogLine{32, "MOKTA> IFG failed (10ms < 12ms)"},
                                                  LogLine{8, "MOKTA> x ab 03"}));
}

TEST(KyrproErr, LongMessageArrivesWhole) {
  const LogCapture log;
  const std::string address(5000, 'Z');
  err(64, "MOKTA> '%s' too long", address.c_str());
  ASSERT_EQ(log.Lines().size(), 1U);
  EXPECT_EQ(log.Lines()[0].message, "MOKTA> '" + address + "' too long");
}

TEST(KyrproErr, DefaultSinkWritesLinesOfTheChosenLevels) {
  KyrSetLogLevels(KYRPRO_LEVEL_INFO | KYRPRO_LEVEL_OPERATOR);
  ::testing::internal::CaptureStderr();
  err(8, "MOKTA> GetVpiInfo() exited");
  err(64, "MOKTA> hidden");
  err(32, "MOKTA> shown %d", 1);
  const std::string written = ::testing::internal::GetCapturedStderr();
  KyrSetLogLevels(KYRPRO_LEVEL_ALL);
  EXPECT_EQ(written, "[8] MOKTA> GetVpiInfo() exited\n[32] MOKTA> shown 1\n");
}

struct UnCookCase {
  const char* name;
  double value;
  int result;
  uint16_t word1;  // the gate's value word afterwards (starts as 0xBEEF)
};

void PrintTo(const UnCookCase& c, std::ostream* out) {
  *out << c.name;
}

class KyrproUnCook : public ::testing::TestWithParam<UnCookCase> {};

TEST_P(KyrproUnCook, StoresRoundedValueInTheSecondWord) {
  const UnCookCase& c = GetParam();
  uint16_t buffer[3] = {0x1111, 0xBEEF, 0x3333};
  EXPECT_EQ(Kyr5UnCook(0, 42, c.value, buffer), c.result);
  EXPECT_EQ(buffer[1], c.word1);
  EXPECT_EQ(buffer[0], 0x1111);
  EXPECT_EQ(buffer[2], 0x3333);
}

INSTANTIATE_TEST_SUITE_P(
    Values, KyrproUnCook,
    ::testing::Values(UnCookCase{"Gap12", 12.0, KYRPRO_UNCOOK_OK, 12},
                      UnCookCase{"Zero", 0.0, KYRPRO_UNCOOK_OK, 0},
                      UnCookCase{"Top", 65535.0, KYRPRO_UNCOOK_OK, 65535},
                      UnCookCase{"RoundsDown", 12.4, KYRPRO_UNCOOK_OK, 12},
                      UnCookCase{"RoundsHalfUp", 12.5, KYRPRO_UNCOOK_OK, 13},
                      UnCookCase{"SmallNegativeRoundsToZero", -0.4, KYRPRO_UNCOOK_OK, 0},
                      UnCookCase{"Negative", -1.0, KYRPRO_UNCOOK_OUT_OF_RANGE, 0xBEEF},
                      UnCookCase{"AboveSixteenBits", 65535.5, KYRPRO_UNCOOK_OUT_OF_RANGE, 0xBEEF},
                      UnCookCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(),
                                 KYRPRO_UNCOOK_OUT_OF_RANGE, 0xBEEF},
                      UnCookCase{"Infinite", std::numeric_limits<double>::infinity(),
                                 KYRPRO_UNCOOK_OUT_OF_RANGE, 0xBEEF}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(KyrproUnCookBuffer, NullBufferIsRefused) {
  EXPECT_EQ(Kyr5UnCook(0, 0, 12.0, nullptr), KYRPRO_UNCOOK_NO_BUFFER);
}

}  // namespace
