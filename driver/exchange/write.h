// The write transaction: single gates by read-modify-write.
//
// A write first reads the parameter's current data element, merges the
// gate's value into it (the whole value, one bit, or the format code) and
// sends the result as a write frame, which the instrument answers with ACK;
// up to three attempts, each with the same frame. A write to the IFG
// pseudo-gate sets the channel's inter-frame gap without line traffic.
#pragma once

#include <cstdint>
#include <span>

#include "lorvant/records.h"

namespace lorvant {

// Largest inter-frame gap a write to the IFG pseudo-gate takes, plus one.
inline constexpr uint16_t kIfgLimit = 10000;

// The write frame: EOT, the instrument twice, STX, the data element, ETX, BCC.
inline constexpr int32_t kWriteFrameLength = 10;

// Function code 7. Writes the value in the second word of the gate's value
// buffer; logs and returns non-zero on failure.
int32_t SingleWrite(VpiRequest* request);

// Function code 10. Blocks are never written: logs and returns 1.
int32_t BlockWrite(VpiRequest* request);

// The engine: 0 written (or the gap set); 1 port closed, frame not built, or
// a refused reply; 2 not sent, no reply, or a reply other than ACK.
int32_t DoWrite(VpiRequest* request);

// Reads the gate's parameter and builds the write frame into frame (at least
// 10 bytes), setting length. Only for function code 7. 0 built; 1 refused
// (the read failed, or the value or gate cannot be written). The request's
// function code and the gate's bitNumber are the host's again on return; the
// value word holds what the read stored.
int32_t BuildWrite(VpiRequest* request, std::span<uint8_t> frame, int32_t* length);

}  // namespace lorvant
