// The engine fed with byte vectors at fake times: reads block by block, writes,
// addressing, and the faults put on its answers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "mokta/sim/engine.h"
#include "mokta/sim/faults.h"
#include "mokta/sim/plant.h"
#include "mokta/wire.h"

namespace mokta::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Optional;
using Bytes = std::vector<uint8_t>;
using wire::kAck;
using wire::kEot;
using wire::kNak;

constexpr int kFull = 0x01;    // parameters 0..127
constexpr int kSparse = 0x12;  // 5, 6, 7 and 9; 7 read-only
constexpr uint16_t kSparseValue = 130;

uint16_t FullValue(int pno) {
  return static_cast<uint16_t>(pno * 517 + 3);
}

Plant TestPlant() {
  Plant plant;
  Instrument full{kFull, "full", {}};
  for (int pno = 0; pno < 128; ++pno) {
    full.parameters[pno] = Parameter{FullValue(pno), pno % 5, false, std::nullopt};
  }
  Instrument sparse{kSparse, "sparse", {}};
  sparse.parameters[5] = Parameter{kSparseValue, 0, false, std::nullopt};
  sparse.parameters[6] = Parameter{6, 1, false, std::nullopt};
  sparse.parameters[7] = Parameter{7, 2, true, std::nullopt};
  sparse.parameters[9] = Parameter{9, 0, false, std::nullopt};
  plant.instruments = {full, sparse};
  return plant;
}

// The blocks a read of count parameters from pno of the full instrument answers with.
std::vector<Bytes> FullBlocks(int pno, int count) {
  std::vector<wire::Element> elements;
  for (int p = pno; p < pno + count; ++p) {
    elements.push_back(wire::Element{p, FullValue(p), wire::FormatFieldOf(p % 5)});
  }
  std::vector<Bytes> blocks;
  for (std::size_t first = 0; first < elements.size(); first += 8) {
    const std::size_t size = std::min<std::size_t>(8, elements.size() - first);
    blocks.push_back(wire::ReplyBlock(std::span(elements).subspan(first, size),
                                      first + size == elements.size()));
  }
  return blocks;
}

class SimEngine : public ::testing::Test {
 protected:
  explicit SimEngine(FaultOptions faults = {}) : engine(TestPlant(), std::move(faults)) {}

  // The bytes the engine answers with; each call one millisecond later.
  Bytes Send(const Bytes& bytes) {
    lineTime += Seconds(0.001);
    Output out = engine.Receive(bytes, lineTime);
    events.insert(events.end(), out.events.begin(), out.events.end());
    return out.bytes;
  }

  // The note of the last event sent.
  std::string LastTxNote() const {
    const auto sent = std::find_if(events.rbegin(), events.rend(), [](const TraceEvent& event) {
      return event.direction == Direction::Tx;
    });
    return sent == events.rend() ? "(none)" : sent->note;
  }

  Engine engine;
  Seconds lineTime{};
  std::vector<TraceEvent> events;
};

TEST_F(SimEngine, ReadsBlockByBlockWithAckAndNak) {
  for (const int count : {1, 8, 9, 127}) {
    SCOPED_TRACE(::testing::Message() << count << " parameters");
    const std::vector<Bytes> blocks = FullBlocks(0, count);
    ASSERT_EQ(blocks.size(), static_cast<std::size_t>((count + 7) / 8));
    EXPECT_EQ(Send(wire::ReadRequest(kFull, 0, count)), blocks[0]);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      EXPECT_EQ(Send({kNak}), blocks[b]) << "NAK repeats block " << b;
      const Bytes next = Send({kAck});
      if (b + 1 < blocks.size()) {
        EXPECT_EQ(next, blocks[b + 1]) << "ACK gives block " << b + 1;
      } else {
        EXPECT_THAT(next, IsEmpty()) << "ACK after the last block ends the reply";
      }
    }
    EXPECT_THAT(Send({kAck}), IsEmpty());
    EXPECT_THAT(Send({kNak}), IsEmpty());
  }
  EXPECT_EQ(engine.GetCounters().requests, 4U);
}

TEST_F(SimEngine, ANakAfterTheLastBlockRepeatsIt) {
  const std::vector<Bytes> blocks = FullBlocks(120, 8);
  EXPECT_EQ(Send(wire::ReadRequest(kFull, 120, 8)), blocks[0]);
  EXPECT_EQ(Send({kNak}), blocks[0]);
  EXPECT_EQ(Send({kNak}), blocks[0]);
}

TEST_F(SimEngine, ARequestArrivingInPiecesIsAnswered) {
  const Bytes request = wire::ReadRequest(kFull, 3, 2);
  for (std::size_t i = 0; i + 1 < request.size(); ++i) {
    EXPECT_THAT(Send({request[i]}), IsEmpty());
  }
  EXPECT_EQ(Send({request.back()}), FullBlocks(3, 2)[0]);
}

TEST_F(SimEngine, AParameterThatDoesNotExistIsAnsweredWithEotAlone) {
  struct Case {
    const char* what;
    Bytes request;
  };
  const std::array cases{
      Case{"missing single", wire::ReadRequest(kSparse, 8, 1)},
      Case{"block over a gap", wire::ReadRequest(kSparse, 5, 5)},
      Case{"block past 127", wire::ReadRequest(kFull, 120, 9)},
      Case{"count 0", Bytes{kEot, 0x81, 0x80, 0x80, 0x81, 0x05}},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(Send(c.request), ElementsAre(kEot)) << c.what;
    EXPECT_THAT(Send({kNak}), IsEmpty()) << c.what << ": no reply to repeat";
  }
  EXPECT_EQ(engine.GetCounters().refusals, cases.size());
}

TEST_F(SimEngine, EachInstrumentAnswersOnlyToItsOwnAddress) {
  const std::array sparse{wire::Element{5, kSparseValue, wire::FormatFieldOf(0)}};
  EXPECT_EQ(Send(wire::ReadRequest(kSparse, 5, 1)), wire::ReplyBlock(sparse, true));
  EXPECT_EQ(Send(wire::ReadRequest(kFull, 5, 1)), FullBlocks(5, 1)[0]);
  EXPECT_THAT(Send(wire::ReadRequest(0x05, 5, 1)), IsEmpty());
  EXPECT_THAT(Send(wire::WriteFrame(0x05, wire::Element{5, 1, 1})), IsEmpty());
  // Id 0x81 is on the line as 0x81, the address byte of instrument 0x01.
  EXPECT_EQ(Send(wire::ReadRequest(0x81, 5, 1)), FullBlocks(5, 1)[0]);
  EXPECT_EQ(engine.GetCounters().ignored, 2U);
}

TEST_F(SimEngine, ARequestWithAWrongBccGetsNoAnswer) {
  Bytes request = wire::ReadRequest(kFull, 5, 1);
  request[3] ^= 0x01;
  EXPECT_THAT(Send(request), IsEmpty());
  EXPECT_EQ(engine.GetCounters().requests, 0U);
}

TEST_F(SimEngine, BytesOutsideAFrameAreIgnored) {
  EXPECT_THAT(Send({0x81, 0x85, 0x02, 0x03, 0x05}), IsEmpty());
  EXPECT_THAT(Send({kEot, 0x81, 0x02, 0x85}), IsEmpty());  // not a request after all
  EXPECT_EQ(Send(wire::ReadRequest(kFull, 5, 1)), FullBlocks(5, 1)[0]);
}

TEST_F(SimEngine, ANewEotAbandonsTheReplyInProgress) {
  EXPECT_EQ(Send(wire::ReadRequest(kFull, 0, 9)), FullBlocks(0, 9)[0]);
  // A new request is answered, and the old reply does not come back.
  EXPECT_EQ(Send(wire::ReadRequest(kFull, 20, 1)), FullBlocks(20, 1)[0]);
  EXPECT_THAT(Send({kAck}), IsEmpty());

  EXPECT_EQ(Send(wire::ReadRequest(kFull, 0, 9)), FullBlocks(0, 9)[0]);
  Output out = engine.Receive(Bytes{kEot}, lineTime);
  EXPECT_TRUE(out.newFrame);
  EXPECT_THAT(Send({kAck}), IsEmpty()) << "an EOT alone abandons too";

  // A request cut short by a new EOT: the second one counts.
  Bytes cut = wire::ReadRequest(kFull, 1, 1);
  cut.resize(3);
  const Bytes whole = wire::ReadRequest(kFull, 2, 1);
  cut.insert(cut.end(), whole.begin(), whole.end());
  EXPECT_EQ(Send(cut), FullBlocks(2, 1)[0]);
}

TEST_F(SimEngine, AGoodWriteIsStoredAndAcknowledged) {
  EXPECT_THAT(Send(wire::WriteFrame(kSparse, wire::Element{5, 300, wire::FormatFieldOf(3)})),
              ElementsAre(kAck));
  const std::optional<Parameter> stored = engine.Get(kSparse, 5);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->value, 300);
  EXPECT_EQ(stored->formatCode, 3);
  const std::array after{wire::Element{5, 300, wire::FormatFieldOf(3)}};
  EXPECT_EQ(Send(wire::ReadRequest(kSparse, 5, 1)), wire::ReplyBlock(after, true));
  EXPECT_EQ(engine.GetCounters().writesAccepted, 1U);
}

TEST_F(SimEngine, ABadWriteIsRefusedWithNakAndStoresNothing) {
  const Bytes good = wire::WriteFrame(kSparse, wire::Element{5, 300, wire::FormatFieldOf(1)});
  struct Case {
    const char* what;
    Bytes frame;
    const char* reason;
  };
  const auto changed = [&good](std::size_t at, uint8_t byte) {
    Bytes frame = good;
    frame[at] = byte;
    return frame;
  };
  Bytes highBitMissing = changed(7, static_cast<uint8_t>(good[7] & 0x7F));
  highBitMissing[9] = wire::Bcc(std::span(highBitMissing).subspan(4, 5));
  const std::array cases{
      Case{"wrong BCC", changed(9, static_cast<uint8_t>(good[9] ^ 0x01)), "BCC wrong"},
      Case{"no format", wire::WriteFrame(kSparse, wire::Element{5, 300, 0}), "format field"},
      Case{"two formats", wire::WriteFrame(kSparse, wire::Element{5, 300, 0x03}), "format field"},
      Case{"address bytes differ", changed(2, 0x93), "address bytes differ"},
      Case{"ETX missing", changed(8, 0x83), "ETX missing"},
      Case{"bit 7 missing", highBitMissing, "bit 7 missing"},
      Case{"read-only", wire::WriteFrame(kSparse, wire::Element{7, 300, 1}), "read-only"},
      Case{"no such parameter", wire::WriteFrame(kSparse, wire::Element{8, 300, 1}),
           "no parameter 8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(Send(c.frame), ElementsAre(kNak));
    EXPECT_THAT(LastTxNote(), HasSubstr(c.reason));
  }
  EXPECT_EQ(engine.Get(kSparse, 5)->value, kSparseValue);
  EXPECT_EQ(engine.Get(kSparse, 7)->value, 7);
  EXPECT_EQ(engine.GetCounters().writesRefused, cases.size());
}

TEST_F(SimEngine, SetReachesReadOnlyParametersAndRefusesMissingOnes) {
  EXPECT_TRUE(engine.Set(kSparse, 7, 70, 4));
  EXPECT_EQ(engine.Get(kSparse, 7)->value, 70);
  EXPECT_EQ(engine.Get(kSparse, 7)->formatCode, 4);
  EXPECT_FALSE(engine.Set(kSparse, 8, 1));
  EXPECT_FALSE(engine.Set(0x44, 0, 1));
  EXPECT_FALSE(engine.Set(kSparse, 5, 1, 5));
  EXPECT_EQ(engine.Get(0x92, 5), std::nullopt) << "0x92 is not 0x12 although it shares the byte";
}

// --- drift ---

TEST(SimDrift, AWaveAddsToTheValueAndStaysInRange) {
  Plant plant;
  Instrument instrument{1, "", {}};
  instrument.parameters[0] = Parameter{100, 0, false, Drift{10.0, 4.0, std::nullopt, 0.0}};
  instrument.parameters[1] = Parameter{3, 0, false, Drift{10.0, 4.0, std::nullopt, 0.0}};
  instrument.parameters[2] = Parameter{65530, 0, false, Drift{10.0, 4.0, std::nullopt, 0.0}};
  plant.instruments.push_back(instrument);
  Engine engine(plant);
  EXPECT_THAT(engine.LiveValue(1, 0, Seconds(0.0)), Optional(100));
  EXPECT_THAT(engine.LiveValue(1, 0, Seconds(1.0)), Optional(110));
  EXPECT_THAT(engine.LiveValue(1, 0, Seconds(3.0)), Optional(90));
  EXPECT_THAT(engine.LiveValue(1, 1, Seconds(3.0)), Optional(0));
  EXPECT_THAT(engine.LiveValue(1, 2, Seconds(1.0)), Optional(65535));
  // A read answers with the live value.
  const std::array element{wire::Element{0, 110, wire::FormatFieldOf(0)}};
  EXPECT_EQ(engine.Receive(wire::ReadRequest(1, 0, 1), Seconds(5.0)).bytes,
            wire::ReplyBlock(element, true));
}

TEST(SimDrift, AFollowerApproachesItsTargetAsAFirstOrderLag) {
  Plant plant;
  Instrument instrument{1, "", {}};
  instrument.parameters[0] = Parameter{0, 0, true, Drift{0.0, 0.0, 1, 10.0}};
  instrument.parameters[1] = Parameter{1000, 0, false, std::nullopt};
  plant.instruments.push_back(instrument);
  Engine engine(plant);
  EXPECT_THAT(engine.LiveValue(1, 0, Seconds(10.0)), Optional(632));  // 1 - 1/e
  EXPECT_THAT(engine.LiveValue(1, 0, Seconds(20.0)), Optional(865));
  // A new setpoint is approached from where the value stands.
  const Bytes write = wire::WriteFrame(1, wire::Element{1, 0, wire::FormatFieldOf(0)});
  EXPECT_THAT(engine.Receive(write, Seconds(20.0)).bytes, ElementsAre(kAck));
  EXPECT_THAT(engine.LiveValue(1, 0, Seconds(30.0)), Optional(318));
}

// --- faults ---

TEST(SimFaultsScript, EachKindOnAReplyBlock) {
  const Bytes block = FullBlocks(0, 9)[0];  // eight elements, more follow
  Bytes swapped = block;
  std::swap_ranges(swapped.begin() + 1, swapped.begin() + 5, swapped.begin() + 5);
  Bytes dropped = block;
  dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(block.size() / 2));
  Bytes extra = block;
  extra.insert(extra.begin() + static_cast<std::ptrdiff_t>(block.size() / 2), 0xA5);
  Bytes badBcc = block;
  badBcc.back() ^= 0x01;
  const std::array<std::pair<FaultKind, Bytes>, 8> cases{{
      {FaultKind::Bcc, badBcc},
      {FaultKind::Nak, Bytes{kNak}},
      {FaultKind::Soh, Bytes{wire::kSoh}},
      {FaultKind::Eot, Bytes{kEot}},
      {FaultKind::Silence, Bytes{}},
      {FaultKind::Drop, dropped},
      {FaultKind::Extra, extra},
      {FaultKind::Order, swapped},
  }};
  for (const auto& [kind, expected] : cases) {
    SCOPED_TRACE(std::string(FaultName(kind)));
    FaultOptions options;
    options.script = {{2, kind}};
    Engine engine(TestPlant(), options);
    Seconds now{};
    const auto send = [&](const Bytes& bytes) {
      now += Seconds(0.001);
      return engine.Receive(bytes, now);
    };
    EXPECT_EQ(send(wire::ReadRequest(kFull, 0, 9)).bytes, block) << "answer 1 is left alone";
    const Output faulty = send({kNak});
    EXPECT_EQ(faulty.bytes, expected);
    ASSERT_FALSE(faulty.events.empty());
    EXPECT_EQ(faulty.events.back().note, "fault: " + std::string(FaultName(kind)));
    EXPECT_EQ(send({kNak}).bytes, block) << "the true block comes again";
    EXPECT_EQ(send({kAck}).bytes, FullBlocks(0, 9)[1]);
    EXPECT_EQ(engine.GetCounters().faults, 1U);
  }
}

TEST(SimFaultsScript, OrderLeavesAOneElementBlockAlone) {
  FaultOptions options;
  options.script = {{1, FaultKind::Order}};
  Engine engine(TestPlant(), options);
  EXPECT_EQ(engine.Receive(wire::ReadRequest(kFull, 4, 1), Seconds(0.0)).bytes,
            FullBlocks(4, 1)[0]);
  EXPECT_EQ(engine.GetCounters().faults, 0U);
}

TEST(SimFaultsScript, OnAWriteAnswer) {
  const Bytes write = wire::WriteFrame(kSparse, wire::Element{5, 300, wire::FormatFieldOf(0)});
  const Bytes refused = wire::WriteFrame(kSparse, wire::Element{7, 300, wire::FormatFieldOf(0)});
  struct Case {
    FaultKind kind;
    Bytes frame;
    Bytes answer;
  };
  const std::array cases{
      Case{FaultKind::Nak, write, Bytes{kNak}},   Case{FaultKind::Soh, write, Bytes{0x01}},
      Case{FaultKind::Eot, write, Bytes{kEot}},   Case{FaultKind::Silence, write, Bytes{}},
      Case{FaultKind::Bcc, write, Bytes{kAck}},   Case{FaultKind::Drop, write, Bytes{kAck}},
      Case{FaultKind::Extra, write, Bytes{kAck}}, Case{FaultKind::Order, write, Bytes{kAck}},
      Case{FaultKind::Silence, refused, Bytes{}}, Case{FaultKind::Nak, refused, Bytes{kNak}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << FaultName(c.kind) << " on " << wire::Hex(c.frame));
    FaultOptions options;
    options.script = {{1, c.kind}};
    Engine engine(TestPlant(), options);
    EXPECT_EQ(engine.Receive(c.frame, Seconds(0.0)).bytes, c.answer);
    const bool applies =
        c.answer != Bytes{kAck} && !(c.frame == refused && c.answer == Bytes{kNak});
    EXPECT_EQ(engine.GetCounters().faults, applies ? 1U : 0U);
    if (c.frame == write) {
      EXPECT_EQ(engine.Get(kSparse, 5)->value, 300) << "the value is stored all the same";
    }
  }
}

// Many requests with ACKs, the engine's whole output.
Bytes Traffic(const FaultOptions& options) {
  Engine engine(TestPlant(), options);
  Bytes all;
  for (int i = 0; i < 100; ++i) {
    const Seconds now(i * 0.1);
    for (const Bytes& in : {wire::ReadRequest(kFull, i % 100, 20), Bytes{kAck}, Bytes{kAck}}) {
      const Output out = engine.Receive(in, now);
      all.insert(all.end(), out.bytes.begin(), out.bytes.end());
    }
  }
  return all;
}

TEST(SimFaultsRate, TheSameSeedGivesTheSameFaults) {
  FaultOptions options;
  options.rate = 0.2;
  options.seed = 42;
  const Bytes first = Traffic(options);
  EXPECT_EQ(Traffic(options), first);
  options.seed = 43;
  EXPECT_NE(Traffic(options), first);
  options.rate = 0.0;
  EXPECT_NE(Traffic(options), first);
}

TEST(SimFaultsRate, TheRateAndKindsAreKept) {
  FaultOptions options;
  options.rate = 0.1;
  options.seed = 7;
  options.kinds = {FaultKind::Nak};
  FaultPlan plan(options);
  int faults = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::optional<FaultKind> fault = plan.Next();
    if (fault) {
      EXPECT_EQ(*fault, FaultKind::Nak);
      ++faults;
    }
  }
  EXPECT_GT(faults, 50);
  EXPECT_LT(faults, 150);
  // Every answer at rate 1; a scripted answer keeps its own kind.
  options.rate = 1.0;
  options.script = {{3, FaultKind::Order}};
  FaultPlan always(options);
  EXPECT_THAT(always.Next(), Optional(FaultKind::Nak));
  EXPECT_THAT(always.Next(), Optional(FaultKind::Nak));
  EXPECT_THAT(always.Next(), Optional(FaultKind::Order));
}

TEST(SimFaultsParse, ScriptsAndKinds) {
  EXPECT_EQ(ParseFaultScript("3:bcc, 5:silence"),
            (std::map<uint64_t, FaultKind>{{3, FaultKind::Bcc}, {5, FaultKind::Silence}}));
  EXPECT_THAT(ParseFaultScript(""), IsEmpty());
  for (const char* bad : {"0:bcc", "x:bcc", "3", "3:bogus", "-1:nak", "3 :"}) {
    EXPECT_THROW(ParseFaultScript(bad), std::invalid_argument) << bad;
  }
  EXPECT_THAT(ParseFaultKinds("bcc,nak,order"),
              ElementsAre(FaultKind::Bcc, FaultKind::Nak, FaultKind::Order));
  EXPECT_THROW(ParseFaultKinds("bcc,crc"), std::invalid_argument);
}

// --- trace ---

TEST(SimTrace, OneLinePerFrameWithTimeBytesMeaningAndNote) {
  const TraceEvent rx{Seconds(1.5), Direction::Rx, wire::ReadRequest(1, 5, 1), ""};
  EXPECT_EQ(FormatTrace(rx),
            "   1.500000 rx 04 81 85 84 05  read request: instrument 01, parameter 5, BCC 84 ok");
  const TraceEvent tx{Seconds(2.0), Direction::Tx, {}, "fault: silence"};
  EXPECT_EQ(FormatTrace(tx), "   2.000000 tx (nothing) [fault: silence]");
}

}  // namespace
}  // namespace mokta::sim
