// A channel on the scripted serial fake, for the link layer and the
// transactions: the instrument answers every frame the driver writes with the
// next reply of a script, and tests see each frame that went out.
//
// The wire pieces are built here on their own, not with the driver's code, so
// that a fault there cannot hide itself.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "lorvant/records.h"
#include "support/fake_serial.h"

namespace lorvant::testing {

using Bytes = std::vector<uint8_t>;

// One-byte frames and replies.
inline const Bytes kAckFrame{0x06};
inline const Bytes kNakFrame{0x15};
inline const Bytes kSohReply{0x01};
inline const Bytes kEotReply{0x04};

// The block check character: XOR of the range, bit 7 set.
uint8_t Bcc(std::span<const uint8_t> range);

// One data element; formatCode 0..4 sets its one-hot field, -1 leaves the
// field clear.
Bytes Element(int pno, uint16_t value, int formatCode = -1);

// STX, the elements, the end character, the BCC.
Bytes Block(const std::vector<Bytes>& elements, uint8_t end);

// The whole reply to a read of values.size() parameters from firstPno on, as
// its blocks: eight elements each, ETB between them, ETX on the last.
std::vector<Bytes> ReplyBlocks(int firstPno, std::span<const uint16_t> values);

class ScriptedChannel {
 public:
  // The port is open on the fake, with no gap and a read time-out of 100 ms.
  ScriptedChannel();

  // The instrument's answer to the next frame; an empty one is silence.
  void Then(Bytes reply);
  void Then(const std::vector<Bytes>& replies);

  // The bytes of every write, in order.
  [[nodiscard]] std::vector<Bytes> Frames() const;

  FakeSerial fake;
  ChannelContext channel{};

 private:
  std::deque<Bytes> script_;
};

}  // namespace lorvant::testing
