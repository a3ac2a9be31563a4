// Gate address parser: checks the address string of a gate and turns it into
// the GateAddress that the host keeps with the gate.
//
// Accepted forms (I instrument digits, P parameter digits, h a hex digit):
//   IIPPP        whole value            IIPPPh       bit h of the value
//   IIPPP.       format code            IIPPP* ...   the same, marked with '*'
//   IFG...       the channel's inter-frame gap, no line traffic
// Letters may be in either case. The host's string is never changed; a
// refusal is logged with its reason.
#pragma once

#include <cstdint>

#include "lorvant/records.h"

namespace lorvant {

// GateAddress::format values.
inline constexpr int32_t kFormatPlain = 0;
inline constexpr int32_t kFormatMarked = 1;
inline constexpr int32_t kFormatCode = 2;  // tested as a bit: 2 and 3
inline constexpr int32_t kFormatCodeMarked = 3;
inline constexpr int32_t kFormatIfg = 4;

inline constexpr int32_t kNoBit = -1;
inline constexpr int32_t kWholeWidth = 16;
inline constexpr int32_t kBitWidth = 1;

// Longest address string accepted, in characters.
inline constexpr int kMaxAddressLength = 32;

// Host kinds of gate.
inline constexpr int32_t kGateAnalog0 = 0;
inline constexpr int32_t kGateAnalog2 = 2;
inline constexpr int32_t kGateDigital = 6;
inline constexpr int32_t kGateString = 7;

// The common parser. Reads request->params as a GateParseRecord and writes its
// address. Returns 0 when the address is accepted, 1 when it is refused; on a
// refusal the fields written before the failing check keep their new values.
int32_t Parse(VpiRequest* request);

// Function code 3: a gate that holds one value. A bit gate must be digital,
// every other one analog; string gates are refused.
int32_t SingleAddressParser(VpiRequest* request);

// Function code 4: a block of blockSize consecutive parameters from pno on,
// blockSize at least 2 and the last parameter at most 126; no bit addresses.
int32_t BlockAddressParser(VpiRequest* request);

}  // namespace lorvant
