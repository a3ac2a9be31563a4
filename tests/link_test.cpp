// The link layer against the scripted fake: the block check character, the
// order of Send's calls whatever fails, Receive's classification and its
// bound, and the gap wait on an injected clock.

#include "link/link.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kyrpro/kyrpro.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/runtime.h"
#include "support/fake_serial.h"
#include "support/log_capture.h"
#include "support/scripted_channel.h"

namespace lorvant::link {
namespace {

using ::lorvant::testing::Bytes;
using ::lorvant::testing::FakeCall;
using ::lorvant::testing::FakeSerial;
using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;
using ::lorvant::testing::ScriptedChannel;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// ---- ComputeBcc ------------------------------------------------------------

struct BccCase {
  const char* name;
  Bytes range;
  uint8_t bcc;
};

class BccTest : public ::testing::TestWithParam<BccCase> {};

TEST_P(BccTest, IsTheXorWithBitSevenSet) {
  EXPECT_EQ(ComputeBcc(GetParam().range), GetParam().bcc);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, BccTest,
    ::testing::Values(BccCase{"OneByte", {0x81}, 0x81}, BccCase{"Digits", {0x31, 0x32, 0x33}, 0xB0},
                      BccCase{"Empty", {}, 0x80}, BccCase{"ReadRequest", {0x81, 0x85}, 0x84},
                      BccCase{"BlockRequest", {0x92, 0x8A, 0x89}, 0x91},
                      BccCase{"WriteFrame", {0x85, 0x80, 0x82, 0xAC, 0x03}, 0xA8},
                      BccCase{"ReplyBlock", {0x85, 0x80, 0x81, 0x82, 0x03}, 0x85}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// ---- Send ------------------------------------------------------------------

// Log lines recorded as calls of the fake, so a test sees them in order with
// the Win32 calls.
class LogIntoTrace {
 public:
  explicit LogIntoTrace(FakeSerial& fake) { KyrSetLogSink(Record, &fake); }
  ~LogIntoTrace() { KyrSetLogSink(nullptr, nullptr); }
  LogIntoTrace(const LogIntoTrace&) = delete;
  LogIntoTrace& operator=(const LogIntoTrace&) = delete;

 private:
  static void Record(void* fake, int level, const char* message) {
    static_cast<FakeSerial*>(fake)->Record("err", {level}, message);
  }
};

// A call as "Name(arg,...)" without the handle, or "err: message". Reads and
// writes show only their count.
std::string Show(const FakeCall& call) {
  std::string shown;
  if (call.name == "err") {
    shown.append("err: ").append(call.text);
    return shown;
  }
  std::size_t first = call.name == "Sleep" ? 0 : 1;
  std::size_t end = call.args.size();
  if (call.name == "ReadFile" || call.name == "WriteFile") {
    end = 2;
  }
  shown.append(call.name).append("(");
  for (std::size_t i = first; i < end; ++i) {
    if (i > first) {
      shown.append(",");
    }
    shown.append(std::to_string(call.args[i]));
  }
  shown.append(")");
  return shown;
}

class SendTest : public ::testing::Test {
 protected:
  std::vector<std::string> Trace() const {
    std::vector<std::string> shown;
    for (const FakeCall& call : line.fake.calls) {
      shown.push_back(Show(call));
    }
    return shown;
  }

  int SendFrame() { return Send(frame, line.channel); }

  ScriptedChannel line;
  LogIntoTrace log{line.fake};
  const std::array<uint8_t, 5> frame{0x04, 0x81, 0x85, 0x84, 0x05};
};

TEST_F(SendTest, WithoutGapRaisesRtsAtOnceAndHoldsItAfterTheDrain) {
  EXPECT_EQ(SendFrame(), kLinkOk);
  EXPECT_THAT(Trace(),
              ElementsAre("EscapeCommFunction(3)", "ClearCommError()", "WriteFile(5)",
                          "ClearCommError()", "Sleep(1)", "Sleep(15)", "EscapeCommFunction(4)"));
  EXPECT_EQ(line.fake.sent, Bytes(frame.begin(), frame.end()));
}

TEST_F(SendTest, WaitsTheGapFirstAndPollsTheOutputQueueUntilEmpty) {
  line.channel.ifg = 12;
  line.fake.input = {0x55, 0x55};  // stale input, purged before the write
  line.fake.onWrite = [this](auto) { line.fake.outQueue = {5, 2}; };
  EXPECT_EQ(SendFrame(), kLinkOk);
  EXPECT_THAT(Trace(),
              ElementsAre("Sleep(12)", "EscapeCommFunction(3)", "ClearCommError()",
                          "GetCommTimeouts()", "SetCommTimeouts(0,0,50,0,0)", "ReadFile(512)",
                          "GetCommTimeouts()", "SetCommTimeouts(0,0,100,0,0)", "WriteFile(5)",
                          "ClearCommError()", "Sleep(1)", "ClearCommError()", "Sleep(1)",
                          "ClearCommError()", "Sleep(1)", "Sleep(15)", "EscapeCommFunction(4)"));
  EXPECT_THAT(line.fake.input, IsEmpty());
}

TEST_F(SendTest, AShortWriteIsReportedOnlyAfterRtsIsDown) {
  line.fake.writeLimits = {3};
  EXPECT_EQ(SendFrame(), kLinkFailed);
  EXPECT_THAT(Trace(),
              ElementsAre("EscapeCommFunction(3)", "ClearCommError()", "WriteFile(5)",
                          "ClearCommError()", "Sleep(1)", "Sleep(15)", "EscapeCommFunction(4)",
                          "err: MOKTA> Send() Unable to send message."));
}

TEST_F(SendTest, AFailedWriteStillDropsRts) {
  line.fake.FailCall("WriteFile");
  EXPECT_EQ(SendFrame(), kLinkFailed);
  const std::vector<std::string> trace = Trace();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[trace.size() - 2], "EscapeCommFunction(4)");
  EXPECT_EQ(trace.back(), "err: MOKTA> Send() Unable to send message.");
}

TEST_F(SendTest, OnADeviceWithoutModemLinesTheResultDependsOnlyOnTheWrite) {
  line.fake.FailAlways("EscapeCommFunction");
  line.fake.FailAlways("ClearCommError");
  EXPECT_EQ(SendFrame(), kLinkOk);
  std::vector<std::string> messages;
  for (const FakeCall& call : line.fake.CallsOf("err")) {
    messages.push_back(call.text);
  }
  EXPECT_THAT(messages, ElementsAre("MOKTA> Send() EscapeCommFunction() failed",
                                    "MOKTA> Send() ClearCommError() failed",
                                    "MOKTA> Send() EscapeCommFunction() failed"));
  EXPECT_EQ(line.fake.sent.size(), frame.size());
}

TEST_F(SendTest, AFailedStatusCallEndsTheDrainAndRtsIsStillHeld) {
  line.fake.onWrite = [this](auto) {
    line.fake.outQueue = {3};
    line.fake.FailCall("ClearCommError", 2);
  };
  EXPECT_EQ(SendFrame(), kLinkOk);
  EXPECT_THAT(Trace(), ElementsAre("EscapeCommFunction(3)", "ClearCommError()", "WriteFile(5)",
                                   "ClearCommError()", "Sleep(1)", "ClearCommError()",
                                   "err: MOKTA> Send() ClearCommError() failed", "Sleep(15)",
                                   "EscapeCommFunction(4)"));
}

// ---- Receive ---------------------------------------------------------------

struct ReceiveCase {
  const char* name;
  Bytes input;
  uint8_t endCharacter;
  int result;
  uint16_t length;  // checked with result 0
  std::size_t reads;
  std::vector<std::string> log;
};

class ReceiveTest : public ::testing::TestWithParam<ReceiveCase> {
 protected:
  ScriptedChannel line;
  LogCapture log;
};

TEST_P(ReceiveTest, ClassifiesByTheFirstByteAndReadsByteByByte) {
  const ReceiveCase& c = GetParam();
  line.fake.input.assign(c.input.begin(), c.input.end());
  uint16_t length = 0xBEEF;
  EXPECT_EQ(Receive(line.channel.replyBuffer, &length, line.channel.portHandle, c.endCharacter),
            c.result);
  if (c.result == kLinkOk) {
    EXPECT_EQ(length, c.length);
    const std::size_t stored = std::min<std::size_t>(c.length, c.input.size());
    EXPECT_TRUE(std::equal(c.input.begin(), c.input.begin() + static_cast<long>(stored),
                           std::begin(line.channel.replyBuffer)));
  } else {
    EXPECT_EQ(length, 0xBEEF);
  }
  const std::vector<FakeCall> reads = line.fake.CallsOf("ReadFile");
  EXPECT_EQ(reads.size(), c.reads);
  for (const FakeCall& read : reads) {
    EXPECT_EQ(read.args.at(1), 1) << "one byte per read";
  }
  std::vector<std::string> messages;
  for (const LogLine& logged : log.Lines()) {
    EXPECT_EQ(logged.level, kLogDetail);
    messages.push_back(logged.message);
  }
  EXPECT_EQ(messages, c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReceiveTest,
    ::testing::Values(
        ReceiveCase{"LoneAck", {0x06, 0x02, 0x03}, kEtx, kLinkOk, 1, 1, {}},
        ReceiveCase{"Nothing", {}, kEtx, kLinkFailed, 0, 1, {"MOKTA> Receive() No reply"}},
        ReceiveCase{
            "Soh", {0x01, 0x02}, kEtx, kLinkRefused, 0, 1, {"MOKTA> Receive() Plc sent SOH"}},
        ReceiveCase{"Eot", {0x04}, kEtx, kLinkRefused, 0, 1, {"MOKTA> Receive() EOT Replied"}},
        ReceiveCase{"Nak", {0x15}, kEtx, kLinkRefused, 0, 1, {"MOKTA> Receive() Reply with NAK"}},
        ReceiveCase{"Etx",
                    {0x03},
                    kEtx,
                    kLinkRefused,
                    0,
                    1,
                    {"MOKTA> Receive() Unknown start of reply (hex. 03)"}},
        ReceiveCase{"HighByte",
                    {0xAB},
                    kEtx,
                    kLinkRefused,
                    0,
                    1,
                    {"MOKTA> Receive() Unknown start of reply (hex. AB)"}},
        ReceiveCase{"Block", {0x02, 0x81, 0x82, 0x83, 0x03, 0x83, 0x99}, kEtx, kLinkOk, 6, 6, {}},
        ReceiveCase{"BlockWithoutItsBcc", {0x02, 0x85, 0x03}, kEtx, kLinkOk, 4, 4, {}},
        ReceiveCase{"EtbWantedEtxCame",
                    {0x02, 0x81, 0x03, 0x82},
                    kEtb,
                    kLinkRefused,
                    0,
                    5,
                    {"MOKTA> Receive() Reply not ended with 17"}},
        ReceiveCase{
            "WriteReplyEndsAtZero", {0x02, 0x85, 0x00, 0x99, 0x06}, 0x00, kLinkOk, 4, 4, {}},
        ReceiveCase{"WriteReplyNeverEnds",
                    {0x02, 0x85},
                    0x00,
                    kLinkRefused,
                    0,
                    3,
                    {"MOKTA> Receive() Reply not ended with 00"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A line that sends more than the reply buffer holds without the end
// character: storing stops at the buffer's end, the rest stays unread.
class ReceiveBoundTest : public ::testing::Test {
 protected:
  // STX, then filler up to place endAt, where the end character stands.
  void Input(std::size_t endAt, std::size_t total) {
    line.fake.input.assign(total, 0x85);
    line.fake.input[0] = kStx;
    if (endAt < total) {
      line.fake.input[endAt] = kEtx;
    }
  }

  int Receive129(uint16_t* length) {
    return Receive(std::span(bytes).subspan(1, 129), length, line.channel.portHandle, kEtx);
  }

  ScriptedChannel line;
  LogCapture log;
  std::array<uint8_t, 131> bytes{};  // guard bytes on both sides of 129
};

TEST_F(ReceiveBoundTest, AnEndlessBlockStopsAtTheBuffersEnd) {
  bytes.fill(0xEE);
  Input(1000, 300);
  uint16_t length = 0;
  EXPECT_EQ(Receive129(&length), kLinkRefused);
  EXPECT_EQ(bytes.front(), 0xEE);
  EXPECT_EQ(bytes.back(), 0xEE);
  EXPECT_EQ(line.fake.CallsOf("ReadFile").size(), 129u);
  EXPECT_EQ(line.fake.input.size(), 300u - 129u);
  EXPECT_THAT(log.Lines(),
              ElementsAre(LogLine{kLogDetail, "MOKTA> Receive() Reply not ended with 03"}));
}

TEST_F(ReceiveBoundTest, AnEndCharacterInTheLastPlaceLeavesNoRoomForItsBcc) {
  bytes.fill(0xEE);
  Input(128, 130);
  uint16_t length = 0;
  EXPECT_EQ(Receive129(&length), kLinkRefused);
  EXPECT_EQ(bytes.back(), 0xEE);
  EXPECT_EQ(line.fake.input.size(), 1u);
}

TEST_F(ReceiveBoundTest, ABlockThatJustFitsIsAccepted) {
  Input(127, 129);
  uint16_t length = 0;
  EXPECT_EQ(Receive129(&length), kLinkOk);
  EXPECT_EQ(length, 129);
  EXPECT_THAT(line.fake.input, IsEmpty());
}

// ---- WaitIFG ---------------------------------------------------------------

class WaitTest : public ::testing::Test {
 protected:
  std::vector<int64_t> Sleeps() const {
    std::vector<int64_t> sleeps;
    for (const FakeCall& call : fake.CallsOf("Sleep")) {
      sleeps.push_back(call.args.at(0));
    }
    return sleeps;
  }

  FakeSerial fake;
  LogCapture log;
};

TEST_F(WaitTest, ASleepThatComesBackEarlyIsLoggedAndSleptAgain) {
  fake.sleepAdvance = {10};
  WaitIFG(12);
  EXPECT_THAT(Sleeps(), ElementsAre(12, 12));
  EXPECT_THAT(log.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> IFG failed (10ms < 12ms)"}));
}

TEST_F(WaitTest, TheMeasurementRunsFromTheStartOfTheWait) {
  fake.sleepAdvance = {5, 5, 5};  // 5, 10, then 15 ms since the start
  WaitIFG(12);
  EXPECT_THAT(Sleeps(), ElementsAre(12, 12, 12));
  EXPECT_THAT(log.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> IFG failed (5ms < 12ms)"},
                                       LogLine{kLogDetail, "MOKTA> IFG failed (10ms < 12ms)"}));
}

TEST_F(WaitTest, ChannelGapIsTheOneWaited) {
  ChannelContext channel{};
  channel.ifg = 25;
  WaitIFG(channel);
  EXPECT_THAT(Sleeps(), ElementsAre(25));
}

struct GapCase {
  uint16_t gap;
  int64_t clockAtStart;
};

class WaitGapTest : public WaitTest, public ::testing::WithParamInterface<GapCase> {};

// Exactly the gap on the clock is enough, for every gap up to the largest and
// wherever the clock stands.
TEST_P(WaitGapTest, ExactlyTheGapEndsTheWaitAfterOneSleep) {
  fake.nowMs = GetParam().clockAtStart;
  WaitIFG(GetParam().gap);
  EXPECT_THAT(Sleeps(), ElementsAre(GetParam().gap));
  EXPECT_THAT(log.Lines(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Gaps, WaitGapTest,
                         ::testing::Values(GapCase{0, 0}, GapCase{1, 0}, GapCase{12, 0},
                                           GapCase{12, 31'536'000'000}, GapCase{999, 7},
                                           GapCase{9999, 0}, GapCase{65534, 0}, GapCase{65535, 0},
                                           GapCase{65535, 31'536'000'000}));

TEST_F(WaitTest, AShortSleepOfTheLargestGapIsStillMeasuredRight) {
  fake.sleepAdvance = {65000};
  WaitIFG(65535);
  EXPECT_THAT(Sleeps(), ElementsAre(65535, 65535));
  EXPECT_THAT(log.Lines(),
              ElementsAre(LogLine{kLogDetail, "MOKTA> IFG failed (65065ms < 65535ms)"}));
}

TEST(Stopwatch, ReadsSecondsOnTheClockOfTheSeam) {
  FakeSerial fake;
  fake.nowMs = 2500;
  double start = 0.0;
  EXPECT_DOUBLE_EQ(StartStopwatch(&start), 2.5);
  EXPECT_DOUBLE_EQ(start, 2.5);
  fake.nowMs = 2750;
  EXPECT_NEAR(ReadStopwatch(start), 0.25, 1e-9);
}

}  // namespace
}  // namespace lorvant::link
