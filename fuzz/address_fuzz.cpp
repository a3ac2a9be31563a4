// Fuzzes the gate address parsers through VpiMain. The first input byte picks
// the parser, the gate kind and the block size; the rest is the address
// string, in a buffer of exactly its size. Every input must be accepted with a
// well-formed address or refused, and the host's string must stay unchanged.

#include <kyrpro/kyrpro.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lorvant/records.h"

namespace {

void Discard(void* /*context*/, int /*level*/, const char* /*message*/) {}

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KyrSetLogSink(Discard, nullptr);
  const uint8_t selector = size > 0 ? data[0] : 0;
  const std::vector<char> original(data + (size > 0 ? 1 : 0), data + size);
  std::vector<char> address = original;
  address.push_back('\0');
  const auto code = static_cast<uint32_t>((selector & 1U) != 0 ? 4 : 3);
  const auto kind = static_cast<int32_t>((selector >> 1) & 7U);
  const auto blockSize = static_cast<int32_t>(selector >> 4) * 9 - 2;

  GateParseRecord record{address.data(), 0, kind, blockSize, {-9, -9, -9, -9, -9}};
  VpiRequest request{nullptr, code, 0, 0, &record};
  const int32_t result = VpiMain(&request);

  Require(std::equal(original.begin(), original.end(), address.begin()));
  Require(result == 0 || result == 1);
  if (result == 0) {
    const GateAddress& a = record.address;
    Require(a.instrumentId >= 0 && a.instrumentId <= 0x8F);
    Require(a.pno >= 0 && a.pno <= 127);
    Require(a.format >= 0 && a.format <= 4);
    Require(a.bitNumber >= -1 && a.bitNumber <= 15);
    Require(a.width == (a.bitNumber == -1 ? 16 : 1));
  }
  return 0;
}
