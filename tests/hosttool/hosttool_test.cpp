// The host tool's own pieces: statistics, output encodings, gate texts, the
// poll configuration file and the turnaround taken from the wire trace.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "hosttool/channel.h"
#include "hosttool/output.h"
#include "hosttool/poll.h"
#include "hosttool/stats.h"
#include "hosttool/wire_trace.h"
#include "support/temp_dir.h"

namespace mokta {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// ---- statistics ---------------------------------------------------------------

TEST(SummariseTest, TakesPercentilesByNearestRank) {
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) {
    hundred.push_back(i);
  }
  const Summary summary = Summarise(hundred);
  EXPECT_EQ(summary.count, 100U);
  EXPECT_EQ(summary.min, 1);
  EXPECT_EQ(summary.p50, 50);
  EXPECT_EQ(summary.p95, 95);
  EXPECT_EQ(summary.p99, 99);
  EXPECT_EQ(summary.max, 100);
  EXPECT_DOUBLE_EQ(summary.mean, 50.5);

  const Summary one = Summarise({7.5});
  EXPECT_EQ(one.p50, 7.5);
  EXPECT_EQ(one.p99, 7.5);
  EXPECT_EQ(Summarise({}).count, 0U);
  EXPECT_EQ(Describe(Summarise({})), "-");
}

// ---- output encodings ---------------------------------------------------------

struct EscapeCase {
  std::string text;
  std::string csv;
  std::string json;
};

class EscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTest, QuotesWhatNeedsQuoting) {
  EXPECT_EQ(CsvField(GetParam().text), GetParam().csv);
  EXPECT_EQ(JsonString(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTest,
    ::testing::Values(EscapeCase{"plain", "plain", "\"plain\""},
                      EscapeCase{"a,b", "\"a,b\"", "\"a,b\""},
                      EscapeCase{"say \"hi\"", "\"say \"\"hi\"\"\"", "\"say \\\"hi\\\"\""},
                      EscapeCase{"back\\slash", "back\\slash", "\"back\\\\slash\""},
                      EscapeCase{"two\nlines", "\"two\nlines\"", "\"two\\nlines\""},
                      EscapeCase{"bell\a", "bell\a", "\"bell\\u0007\""},
                      EscapeCase{"", "", "\"\""}));

TEST(ReportTest, JsonKeepsNumbersBareAndEmptyNumbersAsStrings) {
  Report report({"gate", "value", "latency"});
  report.Add({Text("01001"), Number(251LL), Text("")});
  report.Add({Text("01002"), Number(12.345, 1), Number(3LL)});
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  report.Print(OutputFormat::kJson, out);
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_EQ(text,
            "[\n  {\"gate\":\"01001\",\"value\":251,\"latency\":\"\"},\n"
            "  {\"gate\":\"01002\",\"value\":12.3,\"latency\":3}\n]\n");
}

// ---- gate texts -----------------------------------------------------------------

TEST(GateFromTextTest, TakesAnOptionalBlockSize) {
  std::string problem;
  const auto single = GateFromText("0A001", &problem);
  ASSERT_TRUE(single);
  EXPECT_EQ(single->address, "0A001");
  EXPECT_EQ(single->count, 0);
  const auto block = GateFromText("01010:127", &problem);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->address, "01010");
  EXPECT_EQ(block->count, 127);
  for (const char* bad : {"01010:0", "01010:128", "01010:", "01010:x", ":8", "01010:8x"}) {
    EXPECT_FALSE(GateFromText(bad, &problem)) << bad;
    EXPECT_THAT(problem, HasSubstr(":")) << bad;
  }
}

// ---- poll configuration -------------------------------------------------------------

class PollConfigTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    std::ofstream("poll.toml") << text;
    return "poll.toml";
  }

  lorvant::testing::ScopedCurrentDir dir_;
};

TEST_F(PollConfigTest, ReadsChannelsWithTheirSettingsAndGates) {
  PollPlan plan;
  std::string problem;
  ASSERT_TRUE(LoadPollConfig(
      Write("interval = 250\nrounds = 4\n"
            "[[channel]]\nport = \"/dev/ttyUSB0\"\nbaud = 19200\nparity = \"none\"\n"
            "stop_bits = 2\ntimeout = 300\nnumber = 3\ngates = [\"01001\", \"01010:8\"]\n"
            "[[channel]]\nport = \"COM2\"\ngates = [\"02001\"]\n"),
      plan, &problem))
      << problem;
  EXPECT_EQ(plan.intervalMs, 250);
  EXPECT_EQ(plan.rounds, 4);
  ASSERT_EQ(plan.channels.size(), 2U);
  const LineOptions& first = plan.channels[0].line;
  EXPECT_EQ(first.port, "/dev/ttyUSB0");
  EXPECT_EQ(first.baudRate, 19200);
  EXPECT_EQ(first.parity, kParityNone);
  EXPECT_EQ(first.stopBits, 2);
  EXPECT_EQ(first.timeoutMs, 300);
  EXPECT_EQ(first.channelNumber, 3U);
  EXPECT_THAT(plan.channels[0].gates, ElementsAre("01001", "01010:8"));
  const LineOptions& second = plan.channels[1].line;
  EXPECT_EQ(second.baudRate, 9600);
  EXPECT_EQ(second.parity, kParityEven);
}

struct BadConfig {
  const char* name;
  const char* text;
  const char* message;  // what the problem must say, after "poll.toml:LINE: "
};

class BadPollConfigTest : public PollConfigTest, public ::testing::WithParamInterface<BadConfig> {};

TEST_P(BadPollConfigTest, IsRefusedWithFileLineAndReason) {
  PollPlan plan;
  std::string problem;
  EXPECT_FALSE(LoadPollConfig(Write(GetParam().text), plan, &problem));
  EXPECT_THAT(problem, HasSubstr(GetParam().message));
  EXPECT_THAT(problem, ::testing::StartsWith("poll.toml:"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadPollConfigTest,
    ::testing::Values(
        BadConfig{"Syntax", "interval = \n", "poll.toml:1:"},
        BadConfig{"UnknownTopKey", "speed = 3\n[[channel]]\nport=\"x\"\ngates=[\"01001\"]\n",
                  "poll.toml:1: unknown key 'speed'"},
        BadConfig{"UnknownChannelKey", "[[channel]]\nport=\"x\"\ngates=[\"01001\"]\nbaudrate=1\n",
                  "poll.toml:4: unknown key 'baudrate'"},
        BadConfig{"NoChannel", "interval = 5\n", "no [[channel]]"},
        BadConfig{"NoPort", "[[channel]]\ngates=[\"01001\"]\n", "needs port"},
        BadConfig{"NoGates", "[[channel]]\nport=\"x\"\n", "needs gates"},
        BadConfig{"GateNotText", "[[channel]]\nport=\"x\"\ngates=[1]\n",
                  "poll.toml:3: a gate is a string"},
        BadConfig{"BadParity", "[[channel]]\nport=\"x\"\nparity=\"sideways\"\ngates=[\"01001\"]\n",
                  "poll.toml:3: 'parity'"},
        BadConfig{"BaudTooHigh", "[[channel]]\nport=\"x\"\nbaud=115200\ngates=[\"01001\"]\n",
                  "poll.toml:3: 'baud'"},
        BadConfig{"IntervalNotANumber",
                  "interval = \"fast\"\n[[channel]]\nport=\"x\"\ngates=[\"01001\"]\n",
                  "poll.toml:1: 'interval'"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// ---- turnaround from the wire trace ----------------------------------------------

// Lines go in as the driver writes them: into the file named by the
// environment variable that WireTrace::Start sets.
class WireTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string problem;
    trace_ = WireTrace::Start("wire.trace", &problem);
    ASSERT_TRUE(trace_) << problem;
    driverSide_ = std::fopen(std::getenv("LORVANT_TRACE"), "ab");  // NOLINT(concurrency-mt-unsafe)
    ASSERT_NE(driverSide_, nullptr);
  }
  void TearDown() override {
    std::fclose(driverSide_);
    trace_.reset();
    ::unsetenv("LORVANT_TRACE");
  }
  void Lines(const char* text) {
    std::fputs(text, driverSide_);
    std::fflush(driverSide_);
  }
  static const void* Handle(uintptr_t number) {
    return reinterpret_cast<const void*>(number);
  }  // NOLINT

  lorvant::testing::ScopedCurrentDir dir_;
  std::unique_ptr<WireTrace> trace_;
  std::FILE* driverSide_ = nullptr;
};

TEST_F(WireTraceTest, MeasuresFromARequestLeavingToItsFirstReplyByte) {
  Lines(
      "10.000000 h3 rts-on\n10.001000 h3 tx 04 81 85 84 05\n10.006000 h3 sent\n"
      "10.021000 h3 rts-off\n10.030000 h3 rx 02\n10.031000 h3 rx 85\n"
      // An ACK frame asks for the next block: not a request.
      "10.050000 h3 tx 06\n10.051000 h3 sent\n10.070000 h3 rx 02\n"
      // Another channel's request, measured for its own handle.
      "10.100000 h4 tx 04 82 85 87 05\n10.101000 h4 sent\n10.140500 h4 rx 15\n");
  const std::vector<double> three = trace_->Collect(Handle(3));
  ASSERT_EQ(three.size(), 1U);
  EXPECT_NEAR(three[0], 24.0, 1e-6);
  const std::vector<double> four = trace_->Collect(Handle(4));
  ASSERT_EQ(four.size(), 1U);
  EXPECT_NEAR(four[0], 39.5, 1e-6);
  EXPECT_THAT(trace_->Collect(Handle(3)), IsEmpty());
}

TEST_F(WireTraceTest, ARequestThatGetsNoReplyBeforeTheNextFrameIsNotMeasured) {
  Lines(
      "1.000000 h3 tx 04 81 85 84 05\n1.001000 h3 sent\n1.200000 h3 tx 15\n1.201000 h3 "
      "sent\n1.300000 h3 rx 02\n");
  EXPECT_THAT(trace_->Collect(Handle(3)), IsEmpty());
}

TEST_F(WireTraceTest, CopiesTheDriversLinesToTheTraceFile) {
  Lines("1.000000 h3 tx 06\n");
  trace_->Collect(Handle(3));
  trace_.reset();
  std::ifstream file("wire.trace");
  std::string header;
  std::string line;
  std::getline(file, header);
  std::getline(file, line);
  EXPECT_THAT(header, ::testing::StartsWith("#"));
  EXPECT_EQ(line, "1.000000 h3 tx 06");
}

}  // namespace
}  // namespace mokta
