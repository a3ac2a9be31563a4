// The data element: the four bytes that carry one parameter on the wire.
//
//   byte 0  PNO     1 p p p p p p p    the parameter number
//   byte 1  high    1 f f f f f v v    format code field, value bits 15..14
//   byte 2  middle  1 v v v v v v v    value bits 13..7
//   byte 3  low     1 v v v v v v v    value bits 6..0
//
// The format code k (0..4) travels one-hot in the field: bit 2 + k of the
// high group. Reading and merging are pure functions over the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lorvant::element {

inline constexpr std::size_t kSize = 4;
inline constexpr std::size_t kPno = 0;
inline constexpr std::size_t kHigh = 1;
inline constexpr std::size_t kMiddle = 2;
inline constexpr std::size_t kLow = 3;

inline constexpr uint16_t kMaxFormatCode = 4;

using Bytes = std::span<const uint8_t, kSize>;
using MutableBytes = std::span<uint8_t, kSize>;

// The parameter number the element names.
constexpr int Pno(Bytes e) {
  return e[kPno] & 0x7F;
}

// The 16-bit value.
constexpr uint16_t Value(Bytes e) {
  return static_cast<uint16_t>(((e[kHigh] & 0x03u) << 14) | ((e[kMiddle] & 0x7Fu) << 7) |
                               (e[kLow] & 0x7Fu));
}

// Bit n of the value, 0 or 1; a value has no bit outside 0..15.
constexpr uint16_t Bit(Bytes e, int n) {
  if (n < 0 || n > 15) {
    return 0;
  }
  return static_cast<uint16_t>((Value(e) >> n) & 1u);
}

// The format code: k when exactly bit 2 + k of the field is set for k among
// 1..4; 0 for code 0 and for a field that is not one-hot.
constexpr uint16_t FormatCode(Bytes e) {
  const unsigned field = (e[kHigh] >> 2) & 0x1Fu;
  for (uint16_t k = kMaxFormatCode; k >= 1; --k) {
    if (field == (1u << k)) {
      return k;
    }
  }
  return 0;
}

// Puts the whole value in; the format code field and bit 7 stay.
constexpr void MergeValue(MutableBytes e, uint16_t value) {
  e[kHigh] = static_cast<uint8_t>((e[kHigh] & 0xFCu) | (value >> 14));
  e[kMiddle] = static_cast<uint8_t>(((value >> 7) & 0x7Fu) | 0x80u);
  e[kLow] = static_cast<uint8_t>((value & 0x7Fu) | 0x80u);
}

// Sets or clears value bit n (0..15) in the group that carries it; every
// other bit stays. Any other n changes nothing.
constexpr void MergeBit(MutableBytes e, int n, bool set) {
  if (n < 0 || n > 15) {
    return;
  }
  std::size_t group = kLow;
  int bit = n;
  if (n >= 14) {
    group = kHigh;
    bit = n - 14;
  } else if (n >= 7) {
    group = kMiddle;
    bit = n - 7;
  }
  const auto mask = static_cast<uint8_t>(1u << bit);
  e[group] = set ? static_cast<uint8_t>(e[group] | mask) : static_cast<uint8_t>(e[group] & ~mask);
}

// Puts format code k (0..4) in the field; the value bits and bit 7 stay.
constexpr void MergeFormatCode(MutableBytes e, uint16_t k) {
  e[kHigh] = static_cast<uint8_t>((e[kHigh] & 0x83u) | (0x04u << k));
}

}  // namespace lorvant::element
