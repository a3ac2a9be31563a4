// Fuzzes what an instrument may send back: reads of single gates and blocks
// and writes run through VpiMain while the line answers each frame the driver
// writes with the next reply of the input. Whatever arrives, the driver must
// answer 0, 1 or 2, keep within the gate's value buffer (sized exactly, so the
// sanitizer sees a word too far) and within its own buffers, and give the
// host's fields back.
//
// Input: one byte choosing the operation and the kind of gate, one byte of
// parameter number, one of value count, then replies, each a length byte and
// that many bytes.

#include <kyrpro/kyrpro.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "lorvant/records.h"
#include "support/memory_line.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void Discard(void* /*context*/, int /*level*/, const char* /*message*/) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) {
    return 0;
  }
  KyrSetLogSink(Discard, nullptr);
  const std::span<const uint8_t> input(data, size);
  const lorvant::testing::MemoryLine line(input.subspan(3));

  const uint8_t selector = input[0];
  const bool write = (selector & 1U) != 0;
  const bool block = !write && (selector & 2U) != 0;
  const int32_t count = block ? 2 + (input[2] % 126) : 1;
  const int32_t bitNumber = (selector & 4U) != 0 ? (selector >> 4) : -1;
  const int32_t format = (selector & 8U) != 0 ? 2 : 0;

  // The context alone in its allocation, so that a write past it is seen.
  auto channel = std::make_unique<ChannelContext>();
  channel->portHandle = lorvant::testing::MemoryLine::Port();
  channel->ifg = static_cast<uint16_t>(selector >> 6);
  const uint16_t ifg = channel->ifg;

  const std::size_t words = count == 1 ? 2 : static_cast<std::size_t>(count);
  auto values = std::make_unique<uint16_t[]>(words);  // exactly the gate's words
  values[1 % words] = 300;
  GateRecord gate{};
  gate.gateName = "F";
  gate.address = GateAddress{0x01, format, input[1] & 0x7F, bitNumber, bitNumber < 0 ? 16 : 1};
  gate.valueCount = count;
  gate.valueBuffer = values.get();
  const uint32_t code = write ? 7 : (block ? 6 : 5);
  VpiRequest request{channel.get(), code, 0, 0, &gate};

  const int32_t result = VpiMain(&request);

  Require(result >= 0 && result <= 2);
  Require(request.functionCode == code);
  Require(gate.valueCount == count && gate.valueBuffer == values.get());
  Require(gate.address.bitNumber == bitNumber);
  Require(channel->portHandle == lorvant::testing::MemoryLine::Port());
  Require(channel->ifg == ifg);
  return 0;
}
