// The write transaction through VpiMain against a scripted instrument: the
// read that fetches the parameter, the merge of value, bit or format code into
// the write frame byte for byte, the attempts and their messages, the IFG
// pseudo-gate, and the host's fields put back on every path.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "address/parser.h"
#include "host/runtime.h"
#include "lorvant/records.h"
#include "support/log_capture.h"
#include "support/scripted_channel.h"

namespace lorvant {
namespace {

using ::lorvant::testing::Block;
using ::lorvant::testing::Bytes;
using ::lorvant::testing::Detail;
using ::lorvant::testing::Element;
using ::lorvant::testing::kAckFrame;
using ::lorvant::testing::kNakFrame;
using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;
using ::lorvant::testing::ScriptedChannel;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const Bytes kReadRequest{0x04, 0x81, 0x85, 0x84, 0x05};            // instrument 01, parameter 5
const Bytes kReadReply{0x02, 0x85, 0x80, 0x81, 0x82, 0x03, 0x85};  // 130

class WriteTest : public ::testing::Test {
 protected:
  WriteTest() {
    gate.gateName = "W";
    gate.address = GateAddress{0x01, kFormatPlain, 5, kNoBit, kWholeWidth};
    gate.valueCount = 1;
    gate.valueBuffer = values.data();
  }

  // One request through VpiMain; the function code and the gate's bit number
  // must come back as they went.
  int32_t Call(uint32_t code) {
    const int32_t bitNumber = gate.address.bitNumber;
    VpiRequest request{&line.channel, code, 0, 0, &gate};
    const int32_t result = VpiMain(&request);
    EXPECT_EQ(request.functionCode, code);
    EXPECT_EQ(gate.address.bitNumber, bitNumber);
    EXPECT_EQ(gate.valueCount, 1);
    EXPECT_EQ(gate.valueBuffer, values.data());
    return result;
  }
  int32_t Write(uint16_t value) {
    values[1] = value;
    return Call(7);
  }

  ScriptedChannel line;
  LogCapture log;
  std::array<uint16_t, 2> values{0x1111, 0};
  GateRecord gate{};
};

TEST_F(WriteTest, WholeValueIsReadModifiedAndWritten) {
  line.Then({kReadReply, kAckFrame});
  EXPECT_EQ(Write(300), 0);
  EXPECT_THAT(line.Frames(), ElementsAre(kReadRequest, Bytes{0x04, 0x81, 0x81, 0x02, 0x85, 0x80,
                                                             0x82, 0xAC, 0x03, 0xA8}));
  EXPECT_EQ(values[1], 130);  // what the read found, not what was written
  EXPECT_EQ(values[0], 0x1111);
  EXPECT_THAT(log.Lines(), IsEmpty());
}

// ---- Merges ------------------------------------------------------------------

struct MergeCase {
  const char* name;
  int32_t format;
  int32_t bitNumber;
  Bytes read;  // high, middle, low of the parameter as read
  uint16_t value;
  Bytes written;  // high, middle, low of the write frame
};

class MergeTest : public WriteTest, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(MergeTest, OnlyWhatTheGateOwnsChanges) {
  const MergeCase& c = GetParam();
  gate.address.format = c.format;
  gate.address.bitNumber = c.bitNumber;
  const Bytes element{0x85, c.read[0], c.read[1], c.read[2]};
  line.Then({Block({element}, 0x03), kAckFrame});
  EXPECT_EQ(Write(c.value), 0);
  const std::vector<Bytes> frames = line.Frames();
  ASSERT_EQ(frames.size(), 2u);
  Bytes frame{0x04, 0x81, 0x81, 0x02, 0x85, c.written[0], c.written[1], c.written[2], 0x03};
  frame.push_back(::lorvant::testing::Bcc(std::span(frame).subspan(4)));
  EXPECT_EQ(frames[1], frame);
}

INSTANTIATE_TEST_SUITE_P(
    Gates, MergeTest,
    ::testing::Values(
        MergeCase{"WholeAllOnesKeepsTheFormatField",
                  kFormatPlain,
                  kNoBit,
                  {0x88, 0x80, 0x80},
                  0xFFFF,
                  {0x8B, 0xFF, 0xFF}},
        MergeCase{"WholeZero", kFormatPlain, kNoBit, {0x93, 0xFF, 0xFF}, 0, {0x90, 0x80, 0x80}},
        MergeCase{
            "WholeHighBits", kFormatMarked, kNoBit, {0xC0, 0x80, 0x80}, 0x8000, {0xC2, 0x80, 0x80}},
        MergeCase{"Bit15Set", kFormatPlain, 15, {0x80, 0x80, 0x80}, 1, {0x82, 0x80, 0x80}},
        MergeCase{"Bit15Cleared", kFormatPlain, 15, {0x93, 0xFF, 0xFF}, 0, {0x91, 0xFF, 0xFF}},
        MergeCase{
            "Bit15AnyNonZeroSets", kFormatPlain, 15, {0x80, 0x80, 0x80}, 0x100, {0x82, 0x80, 0x80}},
        MergeCase{"Bit14Set", kFormatPlain, 14, {0x80, 0x80, 0x80}, 1, {0x81, 0x80, 0x80}},
        MergeCase{"Bit7Set", kFormatPlain, 7, {0x80, 0x80, 0x80}, 1, {0x80, 0x81, 0x80}},
        MergeCase{"Bit13Cleared", kFormatPlain, 13, {0x83, 0xFF, 0xFF}, 0, {0x83, 0xBF, 0xFF}},
        MergeCase{"Bit6Set", kFormatPlain, 6, {0x80, 0x80, 0x80}, 1, {0x80, 0x80, 0xC0}},
        MergeCase{"Bit0Cleared", kFormatPlain, 0, {0x83, 0xFF, 0xFF}, 0, {0x83, 0xFF, 0xFE}},
        MergeCase{"FormatFour", kFormatCode, kNoBit, {0xBF, 0x85, 0x86}, 4, {0xC3, 0x85, 0x86}},
        MergeCase{
            "FormatZero", kFormatCodeMarked, kNoBit, {0xC2, 0x85, 0x86}, 0, {0x86, 0x85, 0x86}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(WriteTest, AFormatCodeAboveFourIsRefusedAfterTheRead) {
  gate.address.format = kFormatCode;
  line.Then({kReadReply, kAckFrame});
  EXPECT_EQ(Write(5), 1);
  EXPECT_THAT(line.Frames(), ElementsAre(kReadRequest));
  EXPECT_THAT(log.Lines(), ElementsAre(Detail("MOKTA> BuildWrite() Illegal format 5"),
                                       Detail("MOKTA> SingleWrite() , ret val is 1 for gate 'W'")));
}

TEST_F(WriteTest, AFormatCodeIsShownAsAnUnsignedNumber) {
  gate.address.format = kFormatCode;
  line.Then({kReadReply, kAckFrame});
  EXPECT_EQ(Write(0xFFFF), 1);
  EXPECT_EQ(log.Lines().front(), Detail("MOKTA> BuildWrite() Illegal format 65535"));
}

TEST_F(WriteTest, ABitGateLeavesTheWholeValueReadInItsWord) {
  gate.address.bitNumber = 3;
  line.Then({kReadReply, kAckFrame});
  EXPECT_EQ(Write(1), 0);
  EXPECT_EQ(values[1], 130);
}

// ---- Attempts ----------------------------------------------------------------

struct AttemptCase {
  const char* name;
  std::vector<Bytes> answers;  // to the write frame, attempt by attempt
  int32_t result;
  std::vector<LogLine> log;
};

class AttemptTest : public WriteTest, public ::testing::WithParamInterface<AttemptCase> {};

TEST_P(AttemptTest, TheSameFrameGoesOutUntilAckOrThreeAttempts) {
  const AttemptCase& c = GetParam();
  line.Then(kReadReply);
  line.Then(c.answers);
  EXPECT_EQ(Write(300), c.result);
  const std::vector<Bytes> frames = line.Frames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(frames[0], kReadRequest);
  const std::size_t attempts = std::min<std::size_t>(c.answers.size(), 3);
  EXPECT_EQ(frames.size(), 1 + attempts);
  for (std::size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i], frames[1]);
  }
  EXPECT_EQ(log.Lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AttemptTest,
    ::testing::Values(AttemptCase{"AckAtOnce", {kAckFrame}, 0, {}},
                      AttemptCase{"NakThenAck",
                                  {kNakFrame, kAckFrame},
                                  0,
                                  {Detail("MOKTA> Receive() Reply with NAK"),
                                   Detail("MOKTA> DoWrite() Read reply error retry 1")}},
                      AttemptCase{"NakThreeTimes",
                                  {kNakFrame, kNakFrame, kNakFrame},
                                  1,
                                  {Detail("MOKTA> Receive() Reply with NAK"),
                                   Detail("MOKTA> DoWrite() Read reply error retry 1"),
                                   Detail("MOKTA> Receive() Reply with NAK"),
                                   Detail("MOKTA> DoWrite() Read reply error retry 2"),
                                   Detail("MOKTA> Receive() Reply with NAK"),
                                   Detail("MOKTA> DoWrite() Read reply error retry 3"),
                                   Detail("MOKTA> SingleWrite() , ret val is 1 for gate 'W'")}},
                      AttemptCase{"Silent",
                                  {{}, {}, {}},
                                  2,
                                  {Detail("MOKTA> Receive() No reply"),
                                   Detail("MOKTA> DoWrite() Read reply error retry 1"),
                                   Detail("MOKTA> Receive() No reply"),
                                   Detail("MOKTA> DoWrite() Read reply error retry 2"),
                                   Detail("MOKTA> Receive() No reply"),
                                   Detail("MOKTA> DoWrite() Read reply error retry 3"),
                                   Detail("MOKTA> SingleWrite() , ret val is 2 for gate 'W'")}},
                      AttemptCase{"LongReplyThenAck",
                                  {{0x02, 0x85, 0x00, 0x99}, kAckFrame},
                                  0,
                                  {Detail("MOKTA> DoWrite() Read wrong length reply retry 1")}},
                      AttemptCase{"LongReplies",
                                  {{0x02, 0x00, 0x81}, {0x02, 0x00, 0x81}, {0x02, 0x00, 0x81}},
                                  1,
                                  {Detail("MOKTA> DoWrite() Read wrong length reply retry 1"),
                                   Detail("MOKTA> DoWrite() Read wrong length reply retry 2"),
                                   Detail("MOKTA> DoWrite() Read wrong length reply retry 3"),
                                   Detail("MOKTA> SingleWrite() , ret val is 1 for gate 'W'")}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(WriteTest, AFrameThatDoesNotGoOutIsAFailedAttempt) {
  line.Then({kReadReply, kAckFrame});
  line.fake.FailCall("WriteFile", 2);  // the first write frame
  EXPECT_EQ(Write(300), 0);
  EXPECT_THAT(log.Lines(), ElementsAre(Detail("MOKTA> Send() Unable to send message."),
                                       Detail("MOKTA> DoWrite() Send request error retry 1")));
  EXPECT_EQ(line.Frames().size(), 3u);
}

TEST_F(WriteTest, AFrameThatNeverGoesOutEndsWithTwo) {
  line.Then(kReadReply);
  line.fake.FailCall("WriteFile", 2);
  line.fake.FailCall("WriteFile", 3);
  line.fake.FailCall("WriteFile", 4);
  EXPECT_EQ(Write(300), 2);
  EXPECT_EQ(log.Lines().back(), Detail("MOKTA> SingleWrite() , ret val is 2 for gate 'W'"));
  EXPECT_EQ(line.fake.CallsOf("ReadFile").size(), 7u);  // the read's reply only
}

// ---- Refusals ------------------------------------------------------------------

TEST_F(WriteTest, AParameterThatCannotBeReadIsNotWritten) {
  gate.address.bitNumber = 9;
  line.Then(Bytes{0x04});
  EXPECT_EQ(Write(1), 1);
  EXPECT_THAT(line.Frames(), ElementsAre(kReadRequest));
  EXPECT_THAT(log.Lines(),
              ElementsAre(Detail("MOKTA> Receive() EOT Replied"),
                          Detail("MOKTA> DoRead() Receive(), Check() or Store() error 1 (gate "
                                 "'W', retry 1)"),
                          Detail("MOKTA> PNO does not correspond with a valid entry !!"),
                          Detail("MOKTA> SingleRead(), ret val is 1 for gate 'W'"),
                          Detail("MOKTA> BuilWrite() Read error"),
                          Detail("MOKTA> SingleWrite() , ret val is 1 for gate 'W'")));
  EXPECT_EQ(values[1], 1);  // the read stored nothing
}

TEST_F(WriteTest, ASilentReadAlsoEndsWithOne) {
  EXPECT_EQ(Write(300), 1);
  EXPECT_EQ(line.Frames().size(), 4u);  // the request and its three NAKs
  EXPECT_EQ(log.Lines().back(), Detail("MOKTA> SingleWrite() , ret val is 1 for gate 'W'"));
}

TEST_F(WriteTest, BlockWriteIsAlwaysRefused) {
  gate.valueCount = 1;
  EXPECT_EQ(Call(10), 1);
  EXPECT_THAT(line.fake.calls, IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre(Detail("MOKTA> BlockWrite() illegal operation")));
}

TEST_F(WriteTest, AClosedPortAnswersOne) {
  line.channel.portHandle = nullptr;
  EXPECT_EQ(Write(300), 1);
  EXPECT_THAT(line.fake.calls, IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre(Detail("MOKTA> SingleWrite() , ret val is 1 for gate 'W'")));
}

TEST_F(WriteTest, AGateOfMoreThanOneValueIsRefusedBeforeAnyTraffic) {
  std::array<uint16_t, 4> block{};
  gate.valueBuffer = block.data();
  gate.valueCount = 4;
  VpiRequest request{&line.channel, 7, 0, 0, &gate};
  EXPECT_EQ(VpiMain(&request), 1);
  EXPECT_THAT(line.fake.calls, IsEmpty());
  EXPECT_EQ(log.Lines().front(), Detail("MOKTA> BuildWrite() Illegal value count 4 for gate 'W'"));
  EXPECT_EQ(gate.valueCount, 4);
}

TEST_F(WriteTest, ABitNumberAValueDoesNotHaveIsRefused) {
  gate.address.bitNumber = 16;
  EXPECT_EQ(Write(1), 1);
  EXPECT_THAT(line.fake.calls, IsEmpty());
  EXPECT_EQ(log.Lines().front(), Detail("MOKTA> BuildWrite() Illegal bit number 16 for gate 'W'"));
}

TEST_F(WriteTest, AGateWithoutBufferIsRefused) {
  gate.valueBuffer = nullptr;
  VpiRequest request{&line.channel, 7, 0, 0, &gate};
  EXPECT_EQ(VpiMain(&request), 1);
  EXPECT_THAT(line.fake.calls, IsEmpty());
  EXPECT_EQ(log.Lines().front(), Detail("MOKTA> DoWrite() No value buffer for gate 'W'"));
}

// ---- The IFG pseudo-gate ------------------------------------------------------------

struct IfgCase {
  const char* name;
  bool portOpen;
  uint16_t value;
  int32_t result;
  uint16_t ifg;
};

class IfgWriteTest : public WriteTest, public ::testing::WithParamInterface<IfgCase> {};

TEST_P(IfgWriteTest, SetsTheGapBelowTenSecondsWithoutTraffic) {
  gate.address = GateAddress{0, kFormatIfg, 0, kNoBit, kWholeWidth};
  line.channel.ifg = 12;
  if (!GetParam().portOpen) {
    line.channel.portHandle = nullptr;
  }
  EXPECT_EQ(Write(GetParam().value), GetParam().result);
  EXPECT_EQ(line.channel.ifg, GetParam().ifg);
  EXPECT_THAT(line.fake.calls, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Values, IfgWriteTest,
                         ::testing::Values(IfgCase{"Largest", true, 9999, 0, 9999},
                                           IfgCase{"TooLarge", true, 10000, 0, 12},
                                           IfgCase{"Zero", true, 0, 0, 0},
                                           IfgCase{"PortClosed", false, 50, 1, 12}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace lorvant
