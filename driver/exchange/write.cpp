// The write transaction: read the parameter, merge the gate's value into its
// data element, send the write frame and wait for ACK.

#include "exchange/write.h"

#include <algorithm>
#include <cstddef>

#include "address/parser.h"
#include "exchange/element.h"
#include "exchange/gate.h"
#include "exchange/read.h"
#include "host/dispatch.h"
#include "host/runtime.h"
#include "link/link.h"

namespace lorvant {
namespace {

constexpr uint32_t kSingleReadCode = 5;
constexpr uint32_t kSingleWriteCode = 7;

constexpr int32_t kResultPortClosed = 1;
constexpr int32_t kResultWrongReply = 2;

// Attempts per write, each with the same frame.
constexpr int kAttempts = 3;

// The write frame's places: the read reply's STX, data element and ETX are
// copied in after the instrument's identifier, which goes out twice.
constexpr std::size_t kCopiedFrom = 3;
constexpr std::size_t kCopiedLength = 6;  // STX, the data element, ETX
constexpr std::size_t kElementAt = 4;
constexpr std::size_t kBccAt = 9;

// For the read that fetches the current value, the request is a single read
// and the gate a whole-value gate; the host's code and bit number go back on
// every path.
class CurrentValueRead {
 public:
  CurrentValueRead(VpiRequest& request, GateRecord& gate)
      : request_(request),
        gate_(gate),
        functionCode_(request.functionCode),
        bitNumber_(gate.address.bitNumber) {
    gate_.address.bitNumber = kNoBit;
    request_.functionCode = kSingleReadCode;
  }
  ~CurrentValueRead() {
    gate_.address.bitNumber = bitNumber_;
    request_.functionCode = functionCode_;
  }
  CurrentValueRead(const CurrentValueRead&) = delete;
  CurrentValueRead& operator=(const CurrentValueRead&) = delete;
  CurrentValueRead(CurrentValueRead&&) = delete;
  CurrentValueRead& operator=(CurrentValueRead&&) = delete;

 private:
  VpiRequest& request_;
  GateRecord& gate_;
  uint32_t functionCode_;
  int32_t bitNumber_;
};

// A gate the write serves: one value, a bit a 16-bit value has.
bool GateIsWritable(const GateRecord& gate) {
  if (gate.valueCount != 1) {
    err(kLogDetail, "MOKTA> BuildWrite() Illegal value count %d for gate '%s'",
        static_cast<int>(gate.valueCount), NameOf(gate));
    return false;
  }
  if (!BitNumberIsValid(gate.address.bitNumber)) {
    err(kLogDetail, "MOKTA> BuildWrite() Illegal bit number %d for gate '%s'",
        static_cast<int>(gate.address.bitNumber), NameOf(gate));
    return false;
  }
  return true;
}

// The value to write: the second word of the value buffer.
uint16_t& ValueWord(const GateRecord& gate) {
  return std::span(gate.valueBuffer, 2)[1];
}

}  // namespace

int32_t BuildWrite(VpiRequest* request, std::span<uint8_t> frame, int32_t* length) {
  if (request->functionCode != kSingleWriteCode || request->context == nullptr ||
      request->params == nullptr) {
    return kResultRefused;
  }
  const ChannelContext& channel = *request->context;
  GateRecord& gate = *static_cast<GateRecord*>(request->params);
  if (gate.valueBuffer == nullptr || !GateIsWritable(gate)) {
    return kResultRefused;
  }
  const uint16_t value = ValueWord(gate);  // before the read stores over it
  {
    const CurrentValueRead scope(*request, gate);
    if (SingleRead(request) != kResultOk) {
      err(kLogDetail, "MOKTA> BuilWrite() Read error");
      return kResultRefused;
    }
  }

  const auto instrument = static_cast<uint8_t>(gate.address.instrumentId | 0x80);
  frame[0] = link::kEot;
  frame[1] = instrument;
  frame[2] = instrument;
  std::copy_n(std::begin(channel.replyBuffer), kCopiedLength, frame.subspan(kCopiedFrom).begin());

  int32_t result = kResultOk;
  const element::MutableBytes e = frame.subspan(kElementAt).first<element::kSize>();
  if ((gate.address.format & kFormatCode) != 0) {
    if (value > element::kMaxFormatCode) {
      err(kLogDetail, "MOKTA> BuildWrite() Illegal format %d", static_cast<int>(value));
      result = kResultRefused;
    } else {
      element::MergeFormatCode(e, value);
    }
  } else if (gate.address.bitNumber == kNoBit) {
    element::MergeValue(e, value);
  } else {
    element::MergeBit(e, gate.address.bitNumber, value != 0);
  }
  frame[kBccAt] = link::ComputeBcc(frame.subspan(kElementAt, kBccAt - kElementAt));
  *length = kWriteFrameLength;
  return result;
}

int32_t DoWrite(VpiRequest* request) {
  if (request->context == nullptr || request->params == nullptr) {
    return kResultNoOperation;
  }
  ChannelContext& channel = *request->context;
  const GateRecord& gate = *static_cast<const GateRecord*>(request->params);
  if (channel.portHandle == nullptr) {
    return kResultPortClosed;
  }
  if (gate.valueBuffer == nullptr) {
    err(kLogDetail, "MOKTA> DoWrite() No value buffer for gate '%s'", NameOf(gate));
    return kResultRefused;
  }
  if (gate.address.format == kFormatIfg) {
    const uint16_t gap = ValueWord(gate);
    if (gap < kIfgLimit) {
      channel.ifg = gap;
    }
    return kResultOk;
  }

  int32_t length = 0;
  const int32_t built = BuildWrite(request, channel.sendBuffer, &length);
  if (built != kResultOk) {
    return built;
  }
  const std::span<const uint8_t> frame =
      std::span(channel.sendBuffer).first(static_cast<std::size_t>(length));
  const std::span<uint8_t> reply(channel.replyBuffer);
  int32_t result = kResultOk;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    result = link::Send(frame, channel);
    if (result != link::kLinkOk) {
      err(kLogDetail, "MOKTA> DoWrite() Send request error retry %d", attempt);
      continue;
    }
    uint16_t got = 0;
    result = link::Receive(reply, &got, channel.portHandle, link::kNoEndCharacter);
    if (result != link::kLinkOk) {
      err(kLogDetail, "MOKTA> DoWrite() Read reply error retry %d", attempt);
    } else if (got > 1) {
      result = kResultRefused;
      err(kLogDetail, "MOKTA> DoWrite() Read wrong length reply retry %d", attempt);
    } else if (reply[0] != link::kAck) {
      result = kResultWrongReply;
      err(kLogDetail, "MOKTA> DoWrite() Read wrong cmd retry %d", attempt);
    } else {
      break;
    }
  }
  return result;
}

int32_t SingleWrite(VpiRequest* request) {
  const int32_t result = DoWrite(request);
  if (result != kResultOk) {
    err(kLogDetail, "MOKTA> SingleWrite() , ret val is %d for gate '%s'", static_cast<int>(result),
        NameOf(static_cast<const GateRecord*>(request->params)));
  }
  return result;
}

int32_t BlockWrite(VpiRequest* /*request*/) {
  err(kLogDetail, "MOKTA> BlockWrite() illegal operation");
  return kResultRefused;
}

}  // namespace lorvant
