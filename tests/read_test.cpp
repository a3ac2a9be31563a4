// The read transaction through VpiMain against a scripted instrument: the
// frames that go out byte for byte, the values that land, the ACK/NAK/SOH/EOT
// sequences with their one budget of attempts, and every message.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <numeric>
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
using ::lorvant::testing::kEotReply;
using ::lorvant::testing::kNakFrame;
using ::lorvant::testing::kSohReply;
using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;
using ::lorvant::testing::Operator;
using ::lorvant::testing::ReplyBlocks;
using ::lorvant::testing::ScriptedChannel;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint16_t kUntouched = 0xEEEE;

// A block with its BCC spoiled.
Bytes Spoiled(Bytes block) {
  block.back() ^= 0x01;
  return block;
}

class ReadTest : public ::testing::Test {
 protected:
  ReadTest() {
    values.fill(kUntouched);
    gate.gateName = "G";
    gate.address = GateAddress{0x01, kFormatPlain, 5, kNoBit, kWholeWidth};
    gate.valueCount = 1;
    gate.valueBuffer = values.data();
  }

  void BlockGate(int32_t instrumentId, int32_t pno, int32_t count) {
    gate.address.instrumentId = instrumentId;
    gate.address.pno = pno;
    gate.valueCount = count;
  }

  // One request through VpiMain; the gate record must come back as it went.
  int32_t Call(uint32_t code) {
    const GateRecord before = gate;
    VpiRequest request{&line.channel, code, 0, 0, &gate};
    const int32_t result = VpiMain(&request);
    EXPECT_EQ(gate.valueCount, before.valueCount);
    EXPECT_EQ(gate.valueBuffer, before.valueBuffer);
    EXPECT_EQ(request.functionCode, code);
    return result;
  }
  int32_t Read() { return Call(5); }
  int32_t ReadBlock() { return Call(6); }

  Bytes Request() const {
    std::vector<Bytes> frames = line.Frames();
    return frames.empty() ? Bytes{} : frames.front();
  }

  std::vector<int64_t> Sleeps() const {
    std::vector<int64_t> sleeps;
    for (const auto& call : line.fake.CallsOf("Sleep")) {
      sleeps.push_back(call.args.at(0));
    }
    return sleeps;
  }

  ScriptedChannel line;
  LogCapture log;
  std::array<uint16_t, 128> values{};
  GateRecord gate{};
};

// ---- Whole transactions ----------------------------------------------------

TEST_F(ReadTest, SingleGateValueLandsInTheSecondWord) {
  line.Then({0x02, 0x85, 0x80, 0x81, 0x82, 0x03, 0x85});
  EXPECT_EQ(Read(), 0);
  EXPECT_THAT(line.Frames(), ElementsAre(Bytes{0x04, 0x81, 0x85, 0x84, 0x05}));  // no ACK
  EXPECT_EQ(values[0], kUntouched);
  EXPECT_EQ(values[1], 130);
  EXPECT_THAT(log.Lines(), IsEmpty());
}

TEST_F(ReadTest, BlockOfNineIsAcknowledgedOnceAndFillsNineWords) {
  BlockGate(0x12, 10, 9);
  std::array<uint16_t, 9> wanted{};
  std::iota(wanted.begin(), wanted.end(), uint16_t{1000});
  const std::vector<Bytes> blocks = ReplyBlocks(10, wanted);
  ASSERT_EQ(blocks[0].size(), 35u);
  ASSERT_EQ(blocks[1].size(), 7u);
  line.Then(blocks);
  EXPECT_EQ(ReadBlock(), 0);
  EXPECT_THAT(line.Frames(), ElementsAre(Bytes{0x04, 0x92, 0x8A, 0x89, 0x91, 0x05}, kAckFrame));
  EXPECT_TRUE(std::equal(wanted.begin(), wanted.end(), values.begin()));
  EXPECT_EQ(values[9], kUntouched);
  EXPECT_THAT(log.Lines(), IsEmpty());
}

struct BlockSizeCase {
  int32_t pno;
  int32_t count;
};

class BlockSizeTest : public ReadTest, public ::testing::WithParamInterface<BlockSizeCase> {};

TEST_P(BlockSizeTest, EveryBlockButTheLastIsAcknowledged) {
  const auto [pno, count] = GetParam();
  BlockGate(0x03, pno, count);
  std::vector<uint16_t> wanted(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    wanted[i] = static_cast<uint16_t>((i * 517) ^ 0xA5A5);
  }
  const std::vector<Bytes> blocks = ReplyBlocks(pno, wanted);
  line.Then(blocks);
  EXPECT_EQ(ReadBlock(), 0);
  const std::vector<Bytes> frames = line.Frames();
  ASSERT_EQ(frames.size(), blocks.size());
  EXPECT_EQ(frames[0].size(), 6u);
  EXPECT_EQ(frames[0][3], 0x80 | count);
  for (std::size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i], kAckFrame);
  }
  EXPECT_TRUE(std::equal(wanted.begin(), wanted.end(), values.begin()));
  EXPECT_EQ(values[wanted.size()], kUntouched);
  EXPECT_THAT(log.Lines(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockSizeTest,
                         ::testing::Values(BlockSizeCase{0, 2}, BlockSizeCase{7, 8},
                                           BlockSizeCase{20, 16}, BlockSizeCase{100, 17},
                                           BlockSizeCase{0, 127}));

// ---- Failed attempts -------------------------------------------------------

TEST_F(ReadTest, EotEndsTheTransactionAtOnce) {
  line.Then(kEotReply);
  EXPECT_EQ(Read(), 1);
  EXPECT_THAT(line.Frames(), ElementsAre(Bytes{0x04, 0x81, 0x85, 0x84, 0x05}));
  EXPECT_THAT(log.Lines(),
              ElementsAre(Detail("MOKTA> Receive() EOT Replied"),
                          Detail("MOKTA> DoRead() Receive(), Check() or Store() error 1 (gate "
                                 "'G', retry 1)"),
                          Detail("MOKTA> PNO does not correspond with a valid entry !!"),
                          Detail("MOKTA> SingleRead(), ret val is 1 for gate 'G'")));
}

TEST_F(ReadTest, ThreeBadBlocksSpendTheBudgetAndEachGetsItsNak) {
  const Bytes bad = Spoiled(Block({Element(5, 130)}, 0x03));
  line.Then({bad, bad, bad});
  EXPECT_EQ(Read(), 1);
  EXPECT_THAT(line.Frames(),
              ElementsAre(Bytes{0x04, 0x81, 0x85, 0x84, 0x05}, kNakFrame, kNakFrame, kNakFrame));
  const LogLine cc = Detail("MOKTA> CheckReply() CC error (85 <> 84)");
  EXPECT_THAT(
      log.Lines(),
      ElementsAre(
          cc, Detail("MOKTA> DoRead() Receive(), Check() or Store() error 1 (gate 'G', retry 1)"),
          cc, Detail("MOKTA> DoRead() Receive(), Check() or Store() error 1 (gate 'G', retry 2)"),
          cc, Detail("MOKTA> DoRead() Receive(), Check() or Store() error 1 (gate 'G', retry 3)"),
          Detail("MOKTA> SingleRead(), ret val is 1 for gate 'G'")));
  EXPECT_EQ(values[1], kUntouched);
}

TEST_F(ReadTest, ABlockThatFailsTwiceThenArrivesCompletesTheRead) {
  BlockGate(0x01, 0, 16);
  std::array<uint16_t, 16> wanted{};
  std::iota(wanted.begin(), wanted.end(), uint16_t{1});
  const std::vector<Bytes> blocks = ReplyBlocks(0, wanted);
  line.Then({blocks[0], Spoiled(blocks[1]), Spoiled(blocks[1]), blocks[1]});
  EXPECT_EQ(ReadBlock(), 0);
  const std::vector<Bytes> frames = line.Frames();
  EXPECT_THAT(std::vector<Bytes>(frames.begin() + 1, frames.end()),
              ElementsAre(kAckFrame, kNakFrame, kNakFrame));
  EXPECT_TRUE(std::equal(wanted.begin(), wanted.end(), values.begin()));
  EXPECT_THAT(log.Lines(), Contains(Detail("MOKTA> DoRead() Receive(), Check() or Store() error 1 "
                                           "(gate 'G', retry 2)")));
  EXPECT_THAT(log.Lines(), ::testing::Not(Contains(Detail(
                               "MOKTA> DoRead() Receive(), Check() or Store() error 1 (gate 'G', "
                               "retry 3)"))));
}

TEST_F(ReadTest, TheBudgetServesTheWholeTransactionNotEachBlock) {
  BlockGate(0x01, 0, 24);
  std::array<uint16_t, 24> wanted{};
  std::iota(wanted.begin(), wanted.end(), uint16_t{300});
  const std::vector<Bytes> blocks = ReplyBlocks(0, wanted);
  line.Then({Spoiled(blocks[0]), blocks[0], blocks[1], Spoiled(blocks[2]), Spoiled(blocks[2])});
  EXPECT_EQ(ReadBlock(), 1);
  const std::vector<Bytes> frames = line.Frames();
  EXPECT_THAT(std::vector<Bytes>(frames.begin() + 1, frames.end()),
              ElementsAre(kNakFrame, kAckFrame, kAckFrame, kNakFrame, kNakFrame));
  // What the good blocks brought stays.
  EXPECT_TRUE(std::equal(wanted.begin(), wanted.begin() + 16, values.begin()));
  EXPECT_EQ(values[16], kUntouched);
  EXPECT_EQ(log.Lines().back(), Detail("MOKTA> BlockRead(), ret val is 1 for gate 'G'"));
}

TEST_F(ReadTest, SohStartsTheReplyOverWithoutGivingTheAttemptBack) {
  line.channel.ifg = 12;
  BlockGate(0x01, 0, 16);
  std::array<uint16_t, 16> first{};
  std::iota(first.begin(), first.end(), uint16_t{1});
  std::array<uint16_t, 16> again{};
  std::iota(again.begin(), again.end(), uint16_t{501});
  const std::vector<Bytes> blocks = ReplyBlocks(0, first);
  const std::vector<Bytes> repeated = ReplyBlocks(0, again);
  // Block 0, SOH for block 1, block 0 anew, then block 1 twice bad: with the
  // SOH's attempt spent, the second bad block ends the read.
  line.Then({blocks[0], kSohReply, repeated[0], Spoiled(repeated[1]), Spoiled(repeated[1])});
  EXPECT_EQ(ReadBlock(), 1);
  const Bytes request{0x04, 0x81, 0x80, 0x90, 0x91, 0x05};
  EXPECT_THAT(line.Frames(),
              ElementsAre(request, kAckFrame, request, kAckFrame, kNakFrame, kNakFrame));
  EXPECT_TRUE(std::equal(again.begin(), again.begin() + 8, values.begin()));  // stored anew
  EXPECT_EQ(values[8], kUntouched);
  // Half the gap before the read, the gap before each frame, and one more
  // before the request goes out again.
  const std::vector<int64_t> sleeps = Sleeps();
  EXPECT_THAT(sleeps, Contains(6));
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 12), 7);
  EXPECT_THAT(log.Lines(), Contains(Detail("MOKTA> Receive() Plc sent SOH")));
}

TEST_F(ReadTest, ASilentInstrumentIsAskedAgainWhateverTheBufferHeld) {
  line.channel.replyBuffer[0] = 0x04;  // left by an earlier reply that began with EOT
  EXPECT_EQ(Read(), 2);
  EXPECT_THAT(line.Frames(),
              ElementsAre(Bytes{0x04, 0x81, 0x85, 0x84, 0x05}, kNakFrame, kNakFrame, kNakFrame));
  EXPECT_THAT(
      log.Lines(),
      ElementsAre(
          Detail("MOKTA> Receive() No reply"),
          Detail("MOKTA> DoRead() Receive(), Check() or Store() error 2 (gate 'G', retry 1)"),
          Detail("MOKTA> Receive() No reply"),
          Detail("MOKTA> DoRead() Receive(), Check() or Store() error 2 (gate 'G', retry 2)"),
          Detail("MOKTA> Receive() No reply"),
          Detail("MOKTA> DoRead() Receive(), Check() or Store() error 2 (gate 'G', retry 3)"),
          Detail("MOKTA> SingleRead(), ret val is 2 for gate 'G'")));
}

TEST_F(ReadTest, ALoneAckIsABadBlock) {
  line.Then({kAckFrame, Block({Element(5, 7)}, 0x03)});
  EXPECT_EQ(Read(), 0);
  EXPECT_THAT(line.Frames(), ElementsAre(Bytes{0x04, 0x81, 0x85, 0x84, 0x05}, kNakFrame));
  EXPECT_EQ(values[1], 7);
  EXPECT_THAT(log.Lines(),
              ElementsAre(Detail("MOKTA> CheckReply() CC error (80 <> 06)"),
                          Detail("MOKTA> DoRead() Receive(), Check() or Store() error 1 (gate "
                                 "'G', retry 1)")));
}

TEST_F(ReadTest, ABlockOfTheWrongLengthIsABadBlock) {
  line.Then({Block({Element(5, 1), Element(6, 2)}, 0x03), Block({Element(5, 3)}, 0x03)});
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(values[1], 3);
  EXPECT_EQ(log.Lines().front(), Detail("MOKTA> CheckReply() Invalid response length 11 (<> 7)"));
}

TEST_F(ReadTest, AnUnendedBlockIsAskedForAgain) {
  Bytes cut = Block({Element(5, 9)}, 0x03);
  cut.resize(4);
  line.Then({cut, Block({Element(5, 9)}, 0x03)});
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(values[1], 9);
  EXPECT_EQ(log.Lines().front(), Detail("MOKTA> Receive() Reply not ended with 03"));
}

TEST_F(ReadTest, AFailedRequestIsNotAnAttempt) {
  line.fake.FailCall("WriteFile");
  EXPECT_EQ(Read(), 2);
  EXPECT_THAT(line.fake.CallsOf("ReadFile"), IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre(Detail("MOKTA> Send() Unable to send message."),
                                       Detail("MOKTA> DoRead() Send request error"),
                                       Detail("MOKTA> SingleRead(), ret val is 2 for gate 'G'")));
}

// ---- Parameter numbers out of sequence ---------------------------------------

struct PnoCase {
  const char* name;
  int32_t pno;
  int32_t count;
  std::vector<int> sent;  // the parameter numbers the instrument puts in
  std::vector<LogLine> log;
  std::vector<int> stored;  // the words that receive a value; the others keep theirs
};

class PnoTest : public ReadTest, public ::testing::WithParamInterface<PnoCase> {};

TEST_P(PnoTest, ValuesArePlacedByTheirNumberInTheFirstBlock) {
  const PnoCase& c = GetParam();
  BlockGate(0x01, c.pno, c.count);
  std::vector<Bytes> elements;
  for (const int pno : c.sent) {
    elements.push_back(Element(pno, static_cast<uint16_t>(pno * 10)));
  }
  line.Then(Block(elements, 0x03));
  EXPECT_EQ(Call(c.count == 1 ? 5 : 6), 0);
  EXPECT_EQ(line.Frames().size(), 1u);
  EXPECT_EQ(log.Lines(), c.log);
  const std::size_t first = c.count == 1 ? 1 : 0;
  for (int word = 0; word < c.count; ++word) {
    const bool isStored = std::find(c.stored.begin(), c.stored.end(), word) != c.stored.end();
    const uint16_t expected = isStored ? static_cast<uint16_t>((c.pno + word) * 10) : kUntouched;
    EXPECT_EQ(values[first + static_cast<std::size_t>(word)], expected) << "word " << word;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, PnoTest,
    ::testing::Values(
        PnoCase{"SingleNamesTheNext",
                5,
                1,
                {6},
                {Detail("MOKTA> CheckReply() Invalid response, different PNO (134!=133)"),
                 Detail("MOKTA> CheckReply() Check for overlapping spaces in PNO list 'G'"),
                 Detail("MOKTA> StoreData() Different PNO (6!=5)")},
                {}},
        PnoCase{"SingleNamesOneFarBeyond",
                5,
                1,
                {9},
                {Operator("MOKTA> CheckReply() Overlapping spaces in list of PNO !! Block 'G'+0"),
                 Detail("MOKTA> StoreData() Different PNO (9!=5)")},
                {}},
        PnoCase{"SingleNamesAnEarlierOne",
                5,
                1,
                {4},
                {Detail("MOKTA> CheckReply() Invalid response, different PNO (132!=133)"),
                 Detail("MOKTA> StoreData() Different PNO (4!=5)")},
                {}},
        PnoCase{"BlockWithAGap",
                10,
                4,
                {10, 11, 13, 14},
                {Detail("MOKTA> CheckReply() Invalid response, different PNO (141!=140)"),
                 Detail("MOKTA> CheckReply() Check for overlapping spaces in PNO list 'G'"),
                 Detail("MOKTA> CheckReply() Invalid response, different PNO (142!=141)"),
                 Detail("MOKTA> CheckReply() Check for overlapping spaces in PNO list 'G'"),
                 Detail("MOKTA> StoreData() Different PNO (13!=12)")},
                {0, 1, 3}},
        PnoCase{"BlockEndingFarBeyond",
                10,
                4,
                {10, 11, 12, 15},
                {Operator("MOKTA> CheckReply() Overlapping spaces in list of PNO !! Block 'G'+3"),
                 Detail("MOKTA> StoreData() Different PNO (15!=13)")},
                {0, 1, 2}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ReadTest, AGapInALaterBlockIsRefusedUntilTheBudgetIsSpent) {
  BlockGate(0x01, 10, 12);
  std::array<uint16_t, 12> wanted{};
  std::iota(wanted.begin(), wanted.end(), uint16_t{40});
  const std::vector<Bytes> blocks = ReplyBlocks(10, wanted);
  // Parameter 19 missing: 18, 20, 21, 22.
  const Bytes gap =
      Block({Element(18, 48), Element(20, 50), Element(21, 51), Element(22, 52)}, 0x03);
  line.Then({blocks[0], gap, gap, gap});
  EXPECT_EQ(ReadBlock(), 1);
  const std::vector<Bytes> frames = line.Frames();
  EXPECT_THAT(std::vector<Bytes>(frames.begin() + 1, frames.end()),
              ElementsAre(kAckFrame, kNakFrame, kNakFrame, kNakFrame));
  EXPECT_TRUE(std::equal(wanted.begin(), wanted.begin() + 9, values.begin()));  // 18 in word 8
  EXPECT_EQ(values[9], kUntouched);
  EXPECT_THAT(log.Lines(), Contains(Detail("MOKTA> StoreData() Different PNO (20!=19)")));
  EXPECT_THAT(log.Lines(),
              Contains(Operator("MOKTA> StoreData() Lower the length of theblock 'G'!!")));
}

// ---- Kinds of gate -----------------------------------------------------------

struct KindCase {
  const char* name;
  int32_t format;
  int32_t bitNumber;
  Bytes element;  // PNO byte, high, middle, low
  uint16_t word;
};

class KindTest : public ReadTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(KindTest, TheGateKindChoosesWhatIsStored) {
  gate.address.format = GetParam().format;
  gate.address.bitNumber = GetParam().bitNumber;
  line.Then(Block({GetParam().element}, 0x03));
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(values[1], GetParam().word);
  EXPECT_EQ(values[0], kUntouched);
}

INSTANTIATE_TEST_SUITE_P(
    Elements, KindTest,
    ::testing::Values(
        KindCase{"WholeAllOnes", kFormatPlain, kNoBit, {0x85, 0x93, 0xFF, 0xFF}, 65535},
        KindCase{"WholeHighBitsOnly", kFormatMarked, kNoBit, {0x85, 0xFF, 0x80, 0x80}, 0xC000},
        KindCase{"Bit15", kFormatPlain, 15, {0x85, 0x93, 0x80, 0x80}, 1},
        KindCase{"Bit14", kFormatPlain, 14, {0x85, 0x91, 0x80, 0x80}, 1},
        KindCase{"Bit14Clear", kFormatPlain, 14, {0x85, 0x92, 0xFF, 0xFF}, 0},
        KindCase{"Bit13", kFormatPlain, 13, {0x85, 0x80, 0xC0, 0x80}, 1},
        KindCase{"Bit7", kFormatPlain, 7, {0x85, 0x80, 0x81, 0x80}, 1},
        KindCase{"Bit7Clear", kFormatPlain, 7, {0x85, 0x83, 0xFE, 0xFF}, 0},
        KindCase{"Bit0", kFormatPlain, 0, {0x85, 0x80, 0x80, 0x81}, 1},
        KindCase{"Bit6", kFormatPlain, 6, {0x85, 0x80, 0x80, 0xC0}, 1},
        KindCase{"FormatTwo", kFormatCode, kNoBit, {0x85, 0x93, 0xFF, 0xFF}, 2},
        KindCase{"FormatFour", kFormatCodeMarked, kNoBit, {0x85, 0xC0, 0x80, 0x80}, 4},
        KindCase{"FormatOne", kFormatCode, kNoBit, {0x85, 0x88, 0x80, 0x80}, 1},
        KindCase{"FormatZero", kFormatCode, kNoBit, {0x85, 0x84, 0x80, 0x80}, 0},
        KindCase{"FormatTwoBitsSet", kFormatCode, kNoBit, {0x85, 0x8C, 0x80, 0x80}, 0},
        KindCase{"FormatFieldEmpty", kFormatCode, kNoBit, {0x85, 0x80, 0x80, 0x80}, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ReadTest, FormatCodesOfABlockAreStoredWithoutANumberCheck) {
  BlockGate(0x01, 10, 3);
  gate.address.format = kFormatCode;
  line.Then(Block({Element(10, 0, 3), Element(99, 0, 1), Element(12, 0, 4)}, 0x03));
  EXPECT_EQ(ReadBlock(), 0);
  EXPECT_THAT(std::vector<uint16_t>(values.begin(), values.begin() + 3), ElementsAre(3, 1, 4));
}

// ---- Port, gap and gate record -------------------------------------------------

TEST_F(ReadTest, AClosedPortAnswersOneWithoutTraffic) {
  line.channel.portHandle = nullptr;
  EXPECT_EQ(Read(), 1);
  EXPECT_THAT(line.fake.calls, IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre(Detail("MOKTA> SingleRead(), ret val is 1 for gate 'G'")));
}

TEST_F(ReadTest, BlockReadWaitsHalfTheGapEvenWithThePortClosed) {
  line.channel.portHandle = nullptr;
  line.channel.ifg = 25;
  EXPECT_EQ(ReadBlock(), 1);
  EXPECT_THAT(Sleeps(), ElementsAre(12));
  EXPECT_EQ(line.channel.ifg, 25);
  EXPECT_THAT(log.Lines(), ElementsAre(Detail("MOKTA> BlockRead(), ret val is 1 for gate 'G'")));
}

struct GapCase {
  uint16_t ifg;
  std::vector<int64_t> sleepsBeforeRts;
};

class BlockGapTest : public ReadTest, public ::testing::WithParamInterface<GapCase> {};

TEST_P(BlockGapTest, HalfTheGapThenTheFullGapBeforeTheRequest) {
  line.channel.ifg = GetParam().ifg;
  BlockGate(0x01, 0, 2);
  const std::array<uint16_t, 2> wanted{1, 2};
  line.Then(ReplyBlocks(0, wanted));
  EXPECT_EQ(ReadBlock(), 0);
  std::vector<int64_t> sleeps;
  for (const auto& call : line.fake.calls) {
    if (call.name == "EscapeCommFunction") {
      break;
    }
    if (call.name == "Sleep") {
      sleeps.push_back(call.args.at(0));
    }
  }
  EXPECT_EQ(sleeps, GetParam().sleepsBeforeRts);
}

INSTANTIATE_TEST_SUITE_P(Gaps, BlockGapTest,
                         ::testing::Values(GapCase{25, {12, 25}}, GapCase{1, {0, 1}},
                                           GapCase{0, {}}));

struct RecordCase {
  const char* name;
  int32_t count;
  int32_t bitNumber;
  bool buffer;
  std::string message;
};

class RecordTest : public ReadTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RecordTest, AnUnusableGateRecordIsRefusedBeforeAnyTraffic) {
  gate.valueCount = GetParam().count;
  gate.address.bitNumber = GetParam().bitNumber;
  if (!GetParam().buffer) {
    gate.valueBuffer = nullptr;
  }
  EXPECT_EQ(ReadBlock(), 2);
  EXPECT_THAT(line.Frames(), IsEmpty());
  EXPECT_THAT(log.Lines(), ElementsAre(Detail(GetParam().message),
                                       Detail("MOKTA> BlockRead(), ret val is 2 for gate 'G'")));
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordTest,
    ::testing::Values(
        RecordCase{"NoBuffer", 1, kNoBit, false, "MOKTA> DoRead() No value buffer for gate 'G'"},
        RecordCase{"NoValues", 0, kNoBit, true,
                   "MOKTA> DoRead() Illegal value count 0 for gate 'G'"},
        RecordCase{"NegativeCount", -5, kNoBit, true,
                   "MOKTA> DoRead() Illegal value count -5 for gate 'G'"},
        RecordCase{"TooMany", 128, kNoBit, true,
                   "MOKTA> DoRead() Illegal value count 128 for gate 'G'"},
        RecordCase{"Bit16", 1, 16, true, "MOKTA> DoRead() Illegal bit number 16 for gate 'G'"},
        RecordCase{"BitMinus2", 1, -2, true, "MOKTA> DoRead() Illegal bit number -2 for gate 'G'"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ReadTest, ARequestWithoutAGateRecordAnswersTwo) {
  VpiRequest request{&line.channel, 5, 0, 0, nullptr};
  EXPECT_EQ(VpiMain(&request), 2);
  VpiRequest noChannel{nullptr, 6, 0, 0, &gate};
  EXPECT_EQ(VpiMain(&noChannel), 2);
  EXPECT_THAT(line.fake.calls, IsEmpty());
}

}  // namespace
}  // namespace lorvant
