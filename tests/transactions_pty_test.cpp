// Reads and writes end to end, through VpiMain, over a real pseudo-terminal:
// the driver holds the terminal's slave, a scripted instrument on a thread of
// the test answers on its master with the line protocol. Real time: only
// lower bounds are asserted.

#include <poll.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "address/parser.h"
#include "host/dispatch.h"
#include "lorvant/records.h"
#include "support/pty_channel.h"

namespace lorvant {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Optional;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kEtb = 0x17;

constexpr std::size_t kWriteFrameSize = 10;
constexpr std::size_t kLongestReadRequest = 6;
constexpr std::size_t kElementsPerBlock = 8;

constexpr uint16_t kUntouched = 0xBEEF;

uint8_t Bcc(std::span<const uint8_t> range) {
  uint8_t bcc = 0;
  for (const uint8_t byte : range) {
    bcc ^= byte;
  }
  return static_cast<uint8_t>(bcc | 0x80u);
}

// One parameter of an instrument: its value and the format field that goes
// with it on the line (one-hot, bit k for format code k; 0 for none).
struct Parameter {
  uint16_t value = 0;
  uint8_t formatField = 0;

  friend bool operator==(const Parameter&, const Parameter&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Parameter& p) {
    return out << "value " << p.value << " format field " << static_cast<int>(p.formatField);
  }
};

uint8_t FormatFieldOf(int formatCode) {
  return static_cast<uint8_t>(1u << static_cast<unsigned>(formatCode));
}

// An instrument on the master side of the terminal. It answers read requests
// in blocks of at most eight elements, stepping on with ACK and repeating
// with NAK, answers EOT for a parameter it does not have, and stores what a
// good write frame carries. Bytes outside a frame it does not expect are
// ignored.
class ScriptedInstrument {
 public:
  void Set(int id, int pno, uint16_t value, int formatCode = 0) {
    const std::scoped_lock lock(mutex_);
    table_[id][pno] = Parameter{value, FormatFieldOf(formatCode)};
  }

  std::optional<Parameter> Get(int id, int pno) const {
    const std::scoped_lock lock(mutex_);
    const auto instrument = table_.find(id);
    if (instrument == table_.end() || !instrument->second.contains(pno)) {
      return std::nullopt;
    }
    return instrument->second.at(pno);
  }

  // The next reply block with this index goes out once with a wrong BCC.
  void GarbleBlockOnce(std::size_t index) {
    const std::scoped_lock lock(mutex_);
    garbledBlock_ = index;
  }

  // Every read request and write frame received, whole.
  std::vector<Bytes> Requests() const {
    const std::scoped_lock lock(mutex_);
    return requests_;
  }
  int Acks() const {
    const std::scoped_lock lock(mutex_);
    return acks_;
  }
  int Naks() const {
    const std::scoped_lock lock(mutex_);
    return naks_;
  }

  void Start(int master) {
    master_ = master;
    thread_ = std::jthread([this](const std::stop_token& stop) { Run(stop); });
  }

  void Stop() {
    if (thread_.joinable()) {
      thread_.request_stop();
      thread_.join();
    }
  }

 private:
  void Run(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      pollfd fd{master_, POLLIN, 0};
      const int ready = ::poll(&fd, 1, 50);
      if (ready == 0) {
        continue;
      }
      std::array<uint8_t, 256> chunk{};
      const ssize_t n = ready > 0 ? ::read(master_, chunk.data(), chunk.size()) : -1;
      if (n <= 0) {
        return;  // the line is gone
      }
      const std::scoped_lock lock(mutex_);
      for (ssize_t i = 0; i < n; ++i) {
        Take(chunk.at(static_cast<std::size_t>(i)));
      }
    }
  }

  void Take(uint8_t byte) {
    if (frame_.empty()) {
      if (byte == kEot) {
        frame_.push_back(byte);
        blocks_.clear();  // a new request ends a reply in progress
      } else if (byte == kAck && !blocks_.empty()) {
        ++acks_;
        ++block_;
        SendBlock();
      } else if (byte == kNak && !blocks_.empty()) {
        ++naks_;
        SendBlock();
      }
      return;
    }
    if (byte == kEot) {
      frame_.assign(1, kEot);  // the rest was a fragment; start over
      return;
    }
    frame_.push_back(byte);
    if (frame_.size() > 3 && frame_[3] == kStx) {
      if (frame_.size() == kWriteFrameSize) {
        requests_.push_back(frame_);
        AnswerWrite();
        frame_.clear();
      }
    } else if (byte == kEnq) {
      requests_.push_back(frame_);
      AnswerRead();
      frame_.clear();
    } else if (frame_.size() >= kLongestReadRequest) {
      frame_.clear();
    }
  }

  // EOT, id, pno, [count], BCC, ENQ
  void AnswerRead() {
    const std::size_t size = frame_.size();
    if (size < 5 || Bcc(std::span(frame_).subspan(1, size - 3)) != frame_[size - 2]) {
      return;  // a garbled request gets no answer
    }
    const int id = frame_[1] & 0x7F;
    const int pno = frame_[2] & 0x7F;
    const int count = size == 6 ? frame_[3] & 0x7F : 1;
    std::vector<Bytes> elements;
    for (int p = pno; p < pno + count; ++p) {
      const Parameter* parameter = Find(id, p);
      if (parameter == nullptr) {
        Send({kEot});
        return;
      }
      const uint16_t v = parameter->value;
      elements.push_back({static_cast<uint8_t>(0x80 | p),
                          static_cast<uint8_t>(0x80 | (parameter->formatField << 2) | (v >> 14)),
                          static_cast<uint8_t>(0x80 | ((v >> 7) & 0x7F)),
                          static_cast<uint8_t>(0x80 | (v & 0x7F))});
    }
    for (std::size_t first = 0; first < elements.size(); first += kElementsPerBlock) {
      const std::size_t last = std::min(first + kElementsPerBlock, elements.size());
      Bytes block{kStx};
      for (std::size_t e = first; e < last; ++e) {
        block.insert(block.end(), elements[e].begin(), elements[e].end());
      }
      block.push_back(last == elements.size() ? kEtx : kEtb);
      block.push_back(Bcc(std::span(block).subspan(1)));
      blocks_.push_back(std::move(block));
    }
    block_ = 0;
    SendBlock();
  }

  // Sends the current block; after the last one no ACK or NAK is expected.
  void SendBlock() {
    if (block_ >= blocks_.size()) {
      blocks_.clear();
      return;
    }
    Bytes block = blocks_[block_];
    if (garbledBlock_ == block_) {
      garbledBlock_.reset();
      block.back() ^= 0x01;
    }
    Send(block);
    if (block_ + 1 == blocks_.size()) {
      blocks_.clear();
    }
  }

  // EOT, id, id, STX, pno, high, middle, low, ETX, BCC
  void AnswerWrite() {
    const Bytes& f = frame_;
    const int id = f[1] & 0x7F;
    Parameter* parameter = Find(id, f[4] & 0x7F);
    if (f[1] != f[2] || f[8] != kEtx || Bcc(std::span(f).subspan(4, 5)) != f[9] ||
        parameter == nullptr) {
      Send({kNak});
      return;
    }
    parameter->value =
        static_cast<uint16_t>(((f[5] & 0x03) << 14) | ((f[6] & 0x7F) << 7) | (f[7] & 0x7F));
    parameter->formatField = static_cast<uint8_t>((f[5] >> 2) & 0x1F);
    Send({kAck});
  }

  Parameter* Find(int id, int pno) {
    const auto instrument = table_.find(id);
    if (instrument == table_.end()) {
      return nullptr;
    }
    const auto parameter = instrument->second.find(pno);
    return parameter != instrument->second.end() ? &parameter->second : nullptr;
  }

  void Send(const Bytes& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) {
        return;
      }
      done += static_cast<std::size_t>(n);
    }
  }

  mutable std::mutex mutex_;
  std::map<int, std::map<int, Parameter>> table_;
  Bytes frame_;
  std::vector<Bytes> blocks_;  // the reply in progress; empty when none
  std::size_t block_ = 0;
  std::optional<std::size_t> garbledBlock_;
  std::vector<Bytes> requests_;
  int acks_ = 0;
  int naks_ = 0;
  int master_ = -1;
  std::jthread thread_;
};

constexpr int32_t kReplyTimeout = 50;  // 500 ms

class TransactionsOverPty : public ::lorvant::testing::PtyChannelTest {
 protected:
  void SetUp() override {
    PtyChannelTest::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    ASSERT_EQ(ColdStart(kReplyTimeout), 0);
    ASSERT_NE(channel_.portHandle, nullptr);
    ASSERT_EQ(channel_.ifg, 12);
    instrument_.Start(master_);
  }

  void TearDown() override {
    instrument_.Stop();
    PtyChannelTest::TearDown();
  }

  // Function code 5 or 7 on a single gate, or 6 on a block; values is the
  // gate's value buffer.
  int32_t Gate(uint32_t code, GateAddress address, std::span<uint16_t> values,
               int32_t valueCount = 1) {
    GateRecord gate{};
    gate.gateName = "G";
    gate.address = address;
    gate.valueCount = valueCount;
    gate.valueBuffer = values.data();
    return Call(code, &gate);
  }

  static GateAddress Whole(int32_t id, int32_t pno, int32_t format = kFormatPlain) {
    return GateAddress{id, format, pno, kNoBit, kWholeWidth};
  }

  // What the driver logged, for failure messages.
  std::string Log() const { return ::testing::PrintToString(log_.Lines()); }

  ScriptedInstrument instrument_;
};

TEST_F(TransactionsOverPty, ASingleReadAsksForOneParameterAndFillsTheValueWord) {
  instrument_.Set(0x01, 5, 130);
  std::array<uint16_t, 2> values{kUntouched, 0};
  ASSERT_EQ(Gate(5, Whole(0x01, 5), values), 0) << Log();
  EXPECT_THAT(values, ElementsAre(kUntouched, 130));
  EXPECT_THAT(instrument_.Requests(), ElementsAre(Bytes{0x04, 0x81, 0x85, 0x84, 0x05}));
}

TEST_F(TransactionsOverPty, SingleReadsDecodeEveryValueBitWhateverTheFormat) {
  struct Case {
    int id;
    int pno;
    uint16_t value;
    int formatCode;
  };
  const std::array cases{Case{0x01, 0, 0, 0},        Case{0x12, 10, 0xFFFF, 4},
                         Case{0x01, 126, 0x4000, 1}, Case{0x12, 64, 0x8000, 2},
                         Case{0x01, 33, 0x3F80, 3},  Case{0x12, 7, 0x007F, 0}};
  for (const Case& c : cases) {
    instrument_.Set(c.id, c.pno, c.value, c.formatCode);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "id " << c.id << " pno " << c.pno);
    std::array<uint16_t, 2> values{kUntouched, 0x5555};
    EXPECT_EQ(Gate(5, Whole(c.id, c.pno), values), 0) << Log();
    EXPECT_THAT(values, ElementsAre(kUntouched, c.value));
  }
}

TEST_F(TransactionsOverPty, AFormatCodeReadGivesTheParametersFormatCode) {
  for (int code = 0; code <= 4; ++code) {
    SCOPED_TRACE(::testing::Message() << "format code " << code);
    instrument_.Set(0x01, 20, 0x1234, code);
    std::array<uint16_t, 2> values{kUntouched, 0x5555};
    EXPECT_EQ(Gate(5, Whole(0x01, 20, kFormatCode), values), 0) << Log();
    EXPECT_THAT(values, ElementsAre(kUntouched, code));
  }
}

TEST_F(TransactionsOverPty, AReadOfAParameterTheInstrumentLacksAnswersOne) {
  instrument_.Set(0x01, 5, 130);
  std::array<uint16_t, 2> values{kUntouched, 0x5555};
  EXPECT_EQ(Gate(5, Whole(0x01, 99), values), 1) << Log();
  EXPECT_THAT(values, ElementsAre(kUntouched, 0x5555));

  // A block that runs past the instrument's parameters is refused the same way.
  std::array<uint16_t, 4> block{};
  EXPECT_EQ(Gate(6, Whole(0x01, 4), block, 3), 1) << Log();
}

class BlockReadOverPty : public TransactionsOverPty {
 protected:
  static constexpr int kId = 0x12;
  static constexpr int kCount = 127;

  void SetUp() override {
    TransactionsOverPty::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    for (int pno = 0; pno < kCount; ++pno) {
      const auto value = static_cast<uint16_t>(pno * 517 + 3);
      instrument_.Set(kId, pno, value, pno % 5);
      expected_.push_back(value);
    }
    values_.assign(kCount + 1, kUntouched);
  }

  int32_t ReadAll() { return Gate(6, Whole(kId, 0), values_, kCount); }

  // The block's words; the one after them must stay untouched.
  std::vector<uint16_t> Words() const { return {values_.begin(), values_.begin() + kCount}; }

  std::vector<uint16_t> expected_;
  std::vector<uint16_t> values_;
};

TEST_F(BlockReadOverPty, AllParametersArriveInSixteenBlocksPacedByTheGap) {
  const auto start = Clock::now();
  ASSERT_EQ(ReadAll(), 0) << Log();
  const auto took = Clock::now() - start;

  EXPECT_THAT(Words(), ElementsAreArray(expected_));
  EXPECT_EQ(values_[kCount], kUntouched);
  EXPECT_THAT(instrument_.Requests(), ElementsAre(Bytes{0x04, 0x92, 0x80, 0xFF, 0xED, 0x05}));
  EXPECT_EQ(instrument_.Acks(), 15);  // every block but the last
  EXPECT_EQ(instrument_.Naks(), 0);
  // The request and fifteen ACKs, each after a gap.
  EXPECT_GE(took, 16 * std::chrono::milliseconds(channel_.ifg));
  EXPECT_LT(took, std::chrono::seconds(30));
}

TEST_F(BlockReadOverPty, AGarbledBlockIsAskedForAgain) {
  instrument_.GarbleBlockOnce(5);
  ASSERT_EQ(ReadAll(), 0) << Log();
  EXPECT_THAT(Words(), ElementsAreArray(expected_));
  EXPECT_EQ(instrument_.Naks(), 1);
  EXPECT_EQ(instrument_.Acks(), 15);
}

TEST_F(TransactionsOverPty, ASingleWriteStoresTheValueKeepsTheFormatAndReadsBack) {
  for (const uint16_t value : {uint16_t{300}, uint16_t{0}, uint16_t{0xFFFF}, uint16_t{0x4081}}) {
    SCOPED_TRACE(::testing::Message() << "value " << value);
    instrument_.Set(0x01, 5, 130, 3);
    std::array<uint16_t, 2> values{kUntouched, value};
    ASSERT_EQ(Gate(7, Whole(0x01, 5), values), 0) << Log();
    EXPECT_THAT(instrument_.Get(0x01, 5), Optional(Parameter{value, FormatFieldOf(3)}));

    std::array<uint16_t, 2> back{kUntouched, 0x5555};
    ASSERT_EQ(Gate(5, Whole(0x01, 5), back), 0) << Log();
    EXPECT_THAT(back, ElementsAre(kUntouched, value));
  }
}

TEST_F(TransactionsOverPty, ABitWriteChangesOnlyThatBit) {
  struct Case {
    uint16_t before;
    int32_t bit;
    uint16_t bitValue;
    uint16_t after;
  };
  const std::array cases{Case{0x00F0, 3, 1, 0x00F8}, Case{0x00F0, 4, 0, 0x00E0},
                         Case{0xFFFF, 15, 0, 0x7FFF}, Case{0x0000, 14, 1, 0x4000},
                         Case{0x00F8, 3, 1, 0x00F8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bit " << c.bit << " of " << c.before);
    instrument_.Set(0x01, 8, c.before, 1);
    instrument_.Set(0x01, 9, 0x1111);  // a neighbour that must not change
    std::array<uint16_t, 2> values{kUntouched, c.bitValue};
    ASSERT_EQ(Gate(7, GateAddress{0x01, kFormatPlain, 8, c.bit, kBitWidth}, values), 0) << Log();
    EXPECT_THAT(instrument_.Get(0x01, 8), Optional(Parameter{c.after, FormatFieldOf(1)}));
    EXPECT_THAT(instrument_.Get(0x01, 9), Optional(Parameter{0x1111, FormatFieldOf(0)}));
  }
}

TEST_F(TransactionsOverPty, AFormatCodeWriteChangesOnlyTheFormat) {
  instrument_.Set(0x01, 20, 0x1234, 0);
  std::array<uint16_t, 2> values{kUntouched, 4};
  ASSERT_EQ(Gate(7, Whole(0x01, 20, kFormatCode), values), 0) << Log();
  EXPECT_THAT(instrument_.Get(0x01, 20), Optional(Parameter{0x1234, FormatFieldOf(4)}));
}

}  // namespace
}  // namespace lorvant
