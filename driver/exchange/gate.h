// What the read and write transactions share about the host's gate record.
#pragma once

#include <cstdint>

#include "address/parser.h"
#include "lorvant/records.h"

namespace lorvant {

// The gate's name for messages; a host that gave none gets an empty one.
inline const char* NameOf(const GateRecord* gate) {
  return gate != nullptr && gate->gateName != nullptr ? gate->gateName : "";
}
inline const char* NameOf(const GateRecord& gate) {
  return NameOf(&gate);
}

// A bit number a 16-bit value has, or none.
constexpr bool BitNumberIsValid(int32_t bitNumber) {
  return bitNumber == kNoBit || (bitNumber >= 0 && bitNumber <= 15);
}

}  // namespace lorvant
