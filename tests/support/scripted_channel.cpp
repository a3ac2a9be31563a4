// The scripted channel; see scripted_channel.h.

#include "support/scripted_channel.h"

#include <algorithm>
#include <utility>

namespace lorvant::testing {

uint8_t Bcc(std::span<const uint8_t> range) {
  uint8_t bcc = 0;
  for (const uint8_t byte : range) {
    bcc ^= byte;
  }
  return static_cast<uint8_t>(bcc | 0x80u);
}

Bytes Element(int pno, uint16_t value, int formatCode) {
  uint8_t high = 0x80;
  if (formatCode >= 0) {
    high = static_cast<uint8_t>(high | (0x04u << formatCode));
  }
  return {static_cast<uint8_t>(0x80 | pno), static_cast<uint8_t>(high | (value >> 14)),
          static_cast<uint8_t>(0x80 | ((value >> 7) & 0x7F)),
          static_cast<uint8_t>(0x80 | (value & 0x7F))};
}

Bytes Block(const std::vector<Bytes>& elements, uint8_t end) {
  Bytes block{0x02};
  for (const Bytes& element : elements) {
    block.insert(block.end(), element.begin(), element.end());
  }
  block.push_back(end);
  block.push_back(Bcc(std::span(block).subspan(1)));
  return block;
}

std::vector<Bytes> ReplyBlocks(int firstPno, std::span<const uint16_t> values) {
  std::vector<Bytes> blocks;
  for (std::size_t start = 0; start < values.size(); start += 8) {
    const std::size_t end = std::min(values.size(), start + 8);
    std::vector<Bytes> elements;
    for (std::size_t i = start; i < end; ++i) {
      elements.push_back(Element(firstPno + static_cast<int>(i), values[i]));
    }
    blocks.push_back(Block(elements, end == values.size() ? 0x03 : 0x17));
  }
  return blocks;
}

ScriptedChannel::ScriptedChannel() {
  channel.portHandle = fake.handle;
  channel.replyTimeout = 10;
  fake.timeouts.ReadTotalTimeoutConstant = 100;
  fake.onWrite = [this](std::span<const uint8_t> /*frame*/) {
    if (script_.empty()) {
      return;
    }
    const Bytes reply = std::move(script_.front());
    script_.pop_front();
    fake.input.insert(fake.input.end(), reply.begin(), reply.end());
  };
}

void ScriptedChannel::Then(Bytes reply) {
  script_.push_back(std::move(reply));
}

void ScriptedChannel::Then(const std::vector<Bytes>& replies) {
  for (const Bytes& reply : replies) {
    Then(reply);
  }
}

std::vector<Bytes> ScriptedChannel::Frames() const {
  std::vector<Bytes> frames;
  for (const FakeCall& call : fake.CallsOf("WriteFile")) {
    frames.emplace_back(call.text.begin(), call.text.end());
  }
  return frames;
}

}  // namespace lorvant::testing
