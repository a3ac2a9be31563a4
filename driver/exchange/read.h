// The read transaction: single gates and blocks of parameters.
//
// A read sends one request frame and takes the instrument's reply in blocks
// of at most eight data elements: every block but the last is acknowledged
// with ACK, a bad block is asked for again with NAK, and one budget of three
// failed attempts serves the whole transaction. Values go straight into the
// gate's value buffer. The IFG pseudo-gate is read without line traffic.
#pragma once

#include <cstdint>
#include <span>

#include "lorvant/records.h"

namespace lorvant {

// Most parameters one read can ask for, and most data elements in one block.
inline constexpr int32_t kMaxValueCount = 127;
inline constexpr int32_t kElementsPerBlock = 8;

// Function code 5. Reads one gate; logs and returns non-zero on failure.
int32_t SingleRead(VpiRequest* request);

// Function code 6. Waits half the channel's gap, then reads a block of
// consecutive parameters; logs and returns non-zero on failure.
int32_t BlockRead(VpiRequest* request);

// The engine of both: 0 success; 1 port closed, or the transaction failed
// with a refused or bad reply; 2 the request was not sent, the gate record is
// unusable, or the last attempt brought no reply; for the IFG pseudo-gate the
// code of the host's conversion function. The gate's valueCount and
// valueBuffer are the host's again when it returns.
int32_t DoRead(VpiRequest* request);

// Builds the read request for the gate into frame (at least 6 bytes) and
// returns its length: 5, or 6 when the gate asks for more than one value.
uint16_t BuildReadRequest(const GateRecord& gate, std::span<uint8_t> frame);

// Checks one received block (reply: STX through BCC) against the expected
// length of block number block; endPno is the first parameter after the
// requested range. 0 accepted; 1 bad BCC or length. Parameter numbers out of
// sequence are logged, never refused here.
int CheckReply(const GateRecord& gate, std::span<const uint8_t> reply, uint16_t expected, int block,
               uint16_t endPno);

// Stores the data elements of block number block, which start at elements,
// in the gate's value buffer. gate.valueCount is the block's element count
// and gate.valueBuffer the block's destination; a single gate's value goes to
// the second word. 0 stored (also when values were passed over); 1 a later
// block does not carry its parameters in sequence.
int StoreData(const GateRecord& gate, std::span<const uint8_t> elements, int block);

}  // namespace lorvant
