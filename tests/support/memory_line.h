// A serial line in fixed memory, under the driver's seam: every frame the
// driver writes brings the next reply of a script, and reads take what has
// arrived. It allocates nothing once set up and needs no test framework, so
// the allocation test and the reply fuzzer both run the driver over it. The
// clock moves only when the driver sleeps or a read waits out its time-out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "serial/syscalls.h"

namespace lorvant::testing {

class MemoryLine {
 public:
  // The handle the driver's channel should hold.
  static HANDLE Port() { return reinterpret_cast<HANDLE>(0x77); }

  // script: replies, each a length byte and that many bytes; a length that
  // runs past the end takes what is there. The script is not copied.
  explicit MemoryLine(std::span<const uint8_t> script);
  ~MemoryLine();
  MemoryLine(const MemoryLine&) = delete;
  MemoryLine& operator=(const MemoryLine&) = delete;
  MemoryLine(MemoryLine&&) = delete;
  MemoryLine& operator=(MemoryLine&&) = delete;

  // Builds a script from whole replies.
  static std::vector<uint8_t> Script(const std::vector<std::vector<uint8_t>>& replies);

  // Used by the seam's calls.
  void Deliver();
  DWORD Take(std::span<uint8_t> bytes);
  [[nodiscard]] DWORD Pending() const { return static_cast<DWORD>(tail_ - head_); }

  int64_t nowMs = 0;

 private:
  std::span<const uint8_t> script_;
  std::array<uint8_t, 4096> input_{};
  std::size_t head_ = 0;
  std::size_t tail_ = 0;
  serial::Syscalls table_{};
};

}  // namespace lorvant::testing
