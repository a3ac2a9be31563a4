// The read and write paths allocate no heap memory: every operator new and
// every malloc, calloc and realloc of the process is counted while a read of
// one gate, a read of 127 parameters and a write run through VpiMain, with
// their retries and failures. The serial line lives in fixed memory, so the
// only allocations that could be counted are the driver's.
//
// Built without sanitizers only: they bring allocators of their own.

#include <kyrpro/kyrpro.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <vector>

#include "lorvant/records.h"
#include "support/memory_line.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void Count() {
  if (counting.load(std::memory_order_relaxed)) {
    allocations.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

// NOLINTBEGIN: the allocation functions of the process, replaced to count.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);

void* malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  Count();
  return __libc_realloc(pointer, size);
}
}

void* operator new(std::size_t size) {
  Count();
  if (void* pointer = __libc_malloc(size == 0 ? 1 : size)) {
    return pointer;
  }
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* pointer) noexcept {
  std::free(pointer);
}
void operator delete[](void* pointer) noexcept {
  std::free(pointer);
}
void operator delete(void* pointer, std::size_t /*size*/) noexcept {
  std::free(pointer);
}
void operator delete[](void* pointer, std::size_t /*size*/) noexcept {
  std::free(pointer);
}
// NOLINTEND

namespace lorvant {
namespace {

void Ignore(void* /*context*/, int /*level*/, const char* /*message*/) {}

// ---- Replies ---------------------------------------------------------------------

uint8_t Bcc(std::span<const uint8_t> range) {
  uint8_t bcc = 0;
  for (const uint8_t byte : range) {
    bcc ^= byte;
  }
  return static_cast<uint8_t>(bcc | 0x80u);
}

std::vector<uint8_t> Block(int firstPno, int count, bool last) {
  std::vector<uint8_t> block{0x02};
  for (int i = 0; i < count; ++i) {
    const auto value = static_cast<uint16_t>((firstPno + i) * 100);
    block.insert(block.end(), {static_cast<uint8_t>(0x80 | (firstPno + i)),
                               static_cast<uint8_t>(0x80 | (value >> 14)),
                               static_cast<uint8_t>(0x80 | ((value >> 7) & 0x7F)),
                               static_cast<uint8_t>(0x80 | (value & 0x7F))});
  }
  block.push_back(last ? 0x03 : 0x17);
  block.push_back(Bcc(std::span(block).subspan(1)));
  return block;
}

class NoAllocation : public ::testing::Test {
 protected:
  NoAllocation() {
    KyrSetLogSink(Ignore, nullptr);
    channel_.portHandle = testing::MemoryLine::Port();
    channel_.ifg = 12;
    gate_.gateName = "A";
    gate_.address = GateAddress{0x01, 0, 0, -1, 16};
    gate_.valueCount = 1;
    gate_.valueBuffer = values_.data();
  }
  ~NoAllocation() override { KyrSetLogSink(nullptr, nullptr); }
  NoAllocation(const NoAllocation&) = delete;
  NoAllocation& operator=(const NoAllocation&) = delete;
  NoAllocation(NoAllocation&&) = delete;
  NoAllocation& operator=(NoAllocation&&) = delete;

  // Runs one request over a line that answers with replies, and returns the
  // allocations made meanwhile.
  long Allocations(uint32_t code, const std::vector<std::vector<uint8_t>>& replies,
                   int32_t* result) {
    const std::vector<uint8_t> script = testing::MemoryLine::Script(replies);
    const testing::MemoryLine line(script);
    VpiRequest request{&channel_, code, 0, 0, &gate_};
    allocations = 0;
    counting = true;
    *result = VpiMain(&request);
    counting = false;
    return allocations.load();
  }

  ChannelContext channel_{};
  GateRecord gate_{};
  std::array<uint16_t, 128> values_{};
};

TEST_F(NoAllocation, SingleRead) {
  int32_t result = -1;
  EXPECT_EQ(Allocations(5, {Block(0, 1, true)}, &result), 0);
  EXPECT_EQ(result, 0);
}

TEST_F(NoAllocation, BlockReadOf127WithABadBlockOnTheWay) {
  gate_.valueCount = 127;
  std::vector<std::vector<uint8_t>> replies;
  for (int b = 0; b < 16; ++b) {
    const bool last = b == 15;
    std::vector<uint8_t> block = Block(b * 8, last ? 7 : 8, last);
    if (b == 3) {
      std::vector<uint8_t> bad = block;
      bad.back() ^= 1;
      replies.push_back(bad);  // answered with NAK, then sent again
    }
    replies.push_back(block);
  }
  int32_t result = -1;
  EXPECT_EQ(Allocations(6, replies, &result), 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(values_[126], 12600);
}

TEST_F(NoAllocation, ReadThatFailsEveryAttempt) {
  int32_t result = -1;
  EXPECT_EQ(Allocations(5, {}, &result), 0);  // silence, three times
  EXPECT_EQ(result, 2);
}

TEST_F(NoAllocation, SingleWriteWithARetry) {
  gate_.address.pno = 5;
  gate_.address.bitNumber = 4;
  values_[1] = 1;
  int32_t result = -1;
  EXPECT_EQ(Allocations(7, {Block(5, 1, true), {0x15}, {0x06}}, &result), 0);
  EXPECT_EQ(result, 0);
}

TEST_F(NoAllocation, TheCounterSeesAllocations) {
  counting = true;
  allocations = 0;
  const auto* kept = new std::vector<int>(1000);
  void* raw = std::malloc(64);  // NOLINT(cppcoreguidelines-no-malloc)
  counting = false;
  std::free(raw);  // NOLINT(cppcoreguidelines-no-malloc)
  delete kept;
  EXPECT_GE(allocations.load(), 3);
}

}  // namespace
}  // namespace lorvant
