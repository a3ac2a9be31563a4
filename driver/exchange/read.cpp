// The read transaction: the request frame, the reply blocks with their ACK
// and NAK, the checks of each block and the storing of its values.

#include "exchange/read.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "address/parser.h"
#include "exchange/element.h"
#include "exchange/gate.h"
#include "host/dispatch.h"
#include "host/runtime.h"
#include "link/link.h"

namespace lorvant {
namespace {

constexpr int32_t kResultPortClosed = 1;
constexpr int32_t kResultBadBlock = 1;

// Failed attempts one transaction may make, over all its blocks.
constexpr int kAttempts = 3;

// A block: STX, its data elements, the end character, the BCC.
constexpr int32_t kElementSize = element::kSize;
constexpr uint16_t kBlockOverhead = 3;
constexpr uint16_t kFullBlockLength = kBlockOverhead + (kElementSize * kElementsPerBlock);

constexpr std::array<uint8_t, 1> kAckFrame{link::kAck};
constexpr std::array<uint8_t, 1> kNakFrame{link::kNak};

// The length of the whole reply to a read of count values: every block but
// the last carries eight elements.
constexpr uint16_t ReplyLength(int32_t count) {
  const int32_t blocks = (count + kElementsPerBlock - 1) / kElementsPerBlock;
  return static_cast<uint16_t>((kBlockOverhead * blocks) + (kElementSize * count));
}
static_assert(ReplyLength(1) == 7 && ReplyLength(8) == 35 && ReplyLength(9) == 42);
static_assert(ReplyLength(127) == (15 * 35) + 31);

// The element at place k of a run of data elements.
element::Bytes ElementAt(std::span<const uint8_t> elements, std::size_t k) {
  return elements.subspan(k * element::kSize).first<element::kSize>();
}

// While a transaction runs, the gate record carries the current block's
// element count and destination; the host's own values go back on every path.
class TransactionScope {
 public:
  explicit TransactionScope(GateRecord& gate)
      : gate_(gate), valueCount_(gate.valueCount), valueBuffer_(gate.valueBuffer) {}
  ~TransactionScope() {
    gate_.valueCount = valueCount_;
    gate_.valueBuffer = valueBuffer_;
  }
  TransactionScope(const TransactionScope&) = delete;
  TransactionScope& operator=(const TransactionScope&) = delete;
  TransactionScope(TransactionScope&&) = delete;
  TransactionScope& operator=(TransactionScope&&) = delete;

  // Points the record at block number block of the host's buffer.
  void MoveToBlock(int block) {
    gate_.valueBuffer = std::span(valueBuffer_, static_cast<std::size_t>(valueCount_))
                            .subspan(static_cast<std::size_t>(block) * kElementsPerBlock)
                            .data();
  }

 private:
  GateRecord& gate_;
  int32_t valueCount_;
  uint16_t* valueBuffer_;
};

// A gate whose record the read cannot serve safely: no buffer, a count the
// protocol cannot carry, a bit that a value does not have.
bool GateIsReadable(const GateRecord& gate) {
  if (gate.valueBuffer == nullptr) {
    err(kLogDetail, "MOKTA> DoRead() No value buffer for gate '%s'", NameOf(gate));
    return false;
  }
  if (gate.valueCount < 1 || gate.valueCount > kMaxValueCount) {
    err(kLogDetail, "MOKTA> DoRead() Illegal value count %d for gate '%s'",
        static_cast<int>(gate.valueCount), NameOf(gate));
    return false;
  }
  if (!BitNumberIsValid(gate.address.bitNumber)) {
    err(kLogDetail, "MOKTA> DoRead() Illegal bit number %d for gate '%s'",
        static_cast<int>(gate.address.bitNumber), NameOf(gate));
    return false;
  }
  return true;
}

int32_t ReadIfgGate(const ChannelContext& channel, const GateRecord& gate) {
  const auto code = static_cast<uint16_t>(
      Kyr5UnCook(0, gate.conversion, static_cast<double>(channel.ifg), gate.valueBuffer));
  if (code != 0) {
    err(kLogDetail, "MOKTA> DoRead() UnCook err. %d for gate %s", static_cast<int>(code),
        NameOf(gate));
  }
  return code;
}

}  // namespace

uint16_t BuildReadRequest(const GateRecord& gate, std::span<uint8_t> frame) {
  std::size_t n = 0;
  frame[n++] = link::kEot;
  frame[n++] = static_cast<uint8_t>(gate.address.instrumentId | 0x80);
  frame[n++] = static_cast<uint8_t>(gate.address.pno | 0x80);
  if (gate.valueCount > 1) {
    frame[n++] = static_cast<uint8_t>(gate.valueCount | 0x80);
  }
  frame[n] = link::ComputeBcc(frame.subspan(1, n - 1));
  ++n;
  frame[n++] = link::kEnq;
  return static_cast<uint16_t>(n);
}

int CheckReply(const GateRecord& gate, std::span<const uint8_t> reply, uint16_t expected, int block,
               uint16_t endPno) {
  const std::size_t length = reply.size();
  const std::span<const uint8_t> checked =
      length >= 2 ? reply.subspan(1, length - 2) : std::span<const uint8_t>{};
  const uint8_t computed = link::ComputeBcc(checked);
  const uint8_t received = reply.empty() ? 0 : reply.back();
  if (computed != received) {
    err(kLogDetail, "MOKTA> CheckReply() CC error (%02X <> %02X)", static_cast<unsigned>(computed),
        static_cast<unsigned>(received));
    return kResultBadBlock;
  }
  if (length != expected) {
    err(kLogDetail, "MOKTA> CheckReply() Invalid response length %d (<> %d)",
        static_cast<int>(length), static_cast<int>(expected));
    return kResultBadBlock;
  }

  // Parameter numbers as the frames carry them, bit 7 set.
  const std::span<const uint8_t> elements = reply.subspan(1, length - kBlockOverhead);
  const std::size_t count = elements.size() / element::kSize;
  const int firstExpected = (gate.address.pno | 0x80) + (block * kElementsPerBlock);
  for (std::size_t i = 0; i < count; ++i) {
    const int place = (block * kElementsPerBlock) + static_cast<int>(i);
    const int got = ElementAt(elements, i)[element::kPno];
    const int wanted = firstExpected + static_cast<int>(i);
    if (got == wanted) {
      continue;
    }
    if (got > endPno + 128) {
      err(kLogOperator, "MOKTA> CheckReply() Overlapping spaces in list of PNO !! Block '%s'+%d",
          NameOf(gate), place);
      break;
    }
    err(kLogDetail, "MOKTA> CheckReply() Invalid response, different PNO (%d!=%d)", got, wanted);
    if (got > wanted) {
      err(kLogDetail, "MOKTA> CheckReply() Check for overlapping spaces in PNO list '%s'",
          NameOf(gate));
    }
  }
  return kResultOk;
}

int StoreData(const GateRecord& gate, std::span<const uint8_t> elements, int block) {
  const std::size_t count = std::min(static_cast<std::size_t>(std::max(gate.valueCount, 0)),
                                     elements.size() / kElementSize);
  if (count < 1) {
    return kResultOk;
  }
  // A single gate's value lives in the second word.
  const bool single = count == 1 && block == 0;
  const std::span<uint16_t> words =
      single ? std::span(gate.valueBuffer, 2).subspan(1) : std::span(gate.valueBuffer, count);

  if (gate.address.bitNumber != kNoBit) {
    words[0] = element::Bit(ElementAt(elements, 0), gate.address.bitNumber);
    return kResultOk;
  }
  if ((gate.address.format & kFormatCode) != 0) {
    for (std::size_t i = 0; i < count; ++i) {
      words[i] = element::FormatCode(ElementAt(elements, i));
    }
    return kResultOk;
  }

  // Whole values, placed by the parameter each element names.
  const int first = static_cast<uint16_t>(gate.address.pno + (block * kElementsPerBlock));
  std::size_t k = 0;  // the element
  std::size_t i = 0;  // the word
  while (i < count) {
    const element::Bytes e = ElementAt(elements, k);
    const int offset = element::Pno(e) - first;
    if (std::cmp_not_equal(offset, i)) {
      err(kLogDetail, "MOKTA> StoreData() Different PNO (%d!=%d)", element::Pno(e),
          first + static_cast<int>(i));
      if (block > 0) {
        err(kLogOperator, "MOKTA> StoreData() Lower the length of theblock '%s'!!", NameOf(gate));
        return kResultBadBlock;
      }
      // In the first block a value is placed by its number; the words passed
      // over keep what they held, and a number behind or beyond ends storing.
      if (std::cmp_less(offset, i) || std::cmp_greater_equal(offset, count)) {
        return kResultOk;
      }
      i = static_cast<std::size_t>(offset);
    }
    words[i] = element::Value(e);
    ++i;
    ++k;
  }
  return kResultOk;
}

int32_t DoRead(VpiRequest* request) {
  if (request->context == nullptr || request->params == nullptr) {
    return kResultNoOperation;
  }
  ChannelContext& channel = *request->context;
  GateRecord& gate = *static_cast<GateRecord*>(request->params);
  if (channel.portHandle == nullptr) {
    return kResultPortClosed;
  }
  if (gate.address.format == kFormatIfg) {
    return ReadIfgGate(channel, gate);
  }
  if (!GateIsReadable(gate)) {
    return kResultNoOperation;
  }

  TransactionScope scope(gate);
  const int32_t valueCount = gate.valueCount;
  const std::span<const uint8_t> frame =
      std::span(channel.sendBuffer).first(BuildReadRequest(gate, channel.sendBuffer));
  if (link::Send(frame, channel) != link::kLinkOk) {
    err(kLogDetail, "MOKTA> DoRead() Send request error");
    return kResultNoOperation;
  }

  const std::span<uint8_t> reply(channel.replyBuffer);
  const uint16_t total = ReplyLength(valueCount);
  const uint16_t firstLength = std::min(total, kFullBlockLength);
  const auto endPno = static_cast<uint16_t>(gate.address.pno + valueCount);
  uint16_t remaining = total;
  uint16_t expected = firstLength;
  int block = 0;
  int budget = kAttempts;
  int32_t result = kResultOk;
  for (;;) {
    --budget;
    const bool last = expected == remaining;
    uint16_t length = 0;
    result = link::Receive(reply, &length, channel.portHandle, last ? link::kEtx : link::kEtb);
    const bool silent = result == link::kLinkFailed;
    if (result == link::kLinkOk) {
      result = CheckReply(gate, reply.first(length), expected, block, endPno);
    }
    gate.valueCount = expected / kElementSize;
    if (result == kResultOk) {
      result = StoreData(gate, reply.subspan(1, length - 1), block);
    }

    if (result == kResultOk) {
      if (last) {
        break;  // the last block is not acknowledged
      }
      ++block;
      ++budget;
      link::Send(kAckFrame, channel);
      remaining -= kFullBlockLength;
      expected = std::min(remaining, kFullBlockLength);
      scope.MoveToBlock(block);
      continue;
    }

    err(kLogDetail, "MOKTA> DoRead() Receive(), Check() or Store() error %d (gate '%s', retry %d)",
        static_cast<int>(result), NameOf(gate), kAttempts - budget);
    // An instrument that stayed silent is asked again with NAK, whatever an
    // earlier reply left in the buffer.
    const uint8_t start = silent ? link::kNak : reply[0];
    if (start == link::kEot) {
      err(kLogDetail, "MOKTA> PNO does not correspond with a valid entry !!");
      break;
    }
    if (start == link::kSoh) {
      if (channel.ifg != 0) {
        link::WaitIFG(channel);
      }
      expected = firstLength;
      remaining = total;
      block = 0;
      scope.MoveToBlock(block);
      link::Send(frame, channel);
    } else {
      link::Send(kNakFrame, channel);
    }
    if (budget <= 0) {
      break;
    }
  }
  return result;
}

int32_t SingleRead(VpiRequest* request) {
  const int32_t result = DoRead(request);
  if (result != kResultOk) {
    err(kLogDetail, "MOKTA> SingleRead(), ret val is %d for gate '%s'", static_cast<int>(result),
        NameOf(static_cast<const GateRecord*>(request->params)));
  }
  return result;
}

int32_t BlockRead(VpiRequest* request) {
  if (request->context != nullptr && request->context->ifg != 0) {
    link::WaitIFG(static_cast<uint16_t>(request->context->ifg >> 1));
  }
  const int32_t result = DoRead(request);
  if (result != kResultOk) {
    err(kLogDetail, "MOKTA> BlockRead(), ret val is %d for gate '%s'", static_cast<int>(result),
        NameOf(static_cast<const GateRecord*>(request->params)));
  }
  return result;
}

}  // namespace lorvant
