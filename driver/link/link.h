// The link layer: one master/slave exchange on the serial line.
//
// The driver is the master. It sends a frame with the transmitter switched by
// RTS, paced by the channel's inter-frame gap, and reads the instrument's
// reply byte by byte, classified by its first byte. The layer knows of a reply
// only that first byte and the end character its caller names; the caller
// checks the block check character. Every message goes to err at level 64.
#pragma once

#include <cstdint>
#include <span>

#include "lorvant/records.h"
#include "platform/win32_api.h"

namespace lorvant::link {

// Control characters of the protocol. Every other byte of a frame has bit 7 set.
inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kEtb = 0x17;

// The end character of a reply that should be a lone ACK (the reply to a write).
inline constexpr uint8_t kNoEndCharacter = 0x00;

// Results of Send and Receive.
inline constexpr int kLinkOk = 0;
inline constexpr int kLinkRefused = 1;  // Receive: refused first byte, block not ended
inline constexpr int kLinkFailed = 2;   // Send: not sent; Receive: no reply at all

// How long RTS stays up after the output queue was found empty, in ms.
inline constexpr DWORD kRtsHoldMs = 15;

// The block check character of a range: the XOR of its bytes with bit 7 set.
// An empty range gives 0x80.
constexpr uint8_t ComputeBcc(std::span<const uint8_t> range) {
  uint8_t bcc = 0;
  for (const uint8_t byte : range) {
    bcc ^= byte;
  }
  return static_cast<uint8_t>(bcc | 0x80u);
}

// Sends one frame: waits the channel's gap (unless it is 0), raises RTS,
// discards stale input, writes, waits until the output queue is empty and
// kRtsHoldMs more, drops RTS. RTS is dropped whatever happened in between.
// 0 the whole frame was written; 2 the write failed or was short.
int Send(std::span<const uint8_t> frame, const ChannelContext& channel);

// Reads one reply into buffer, from its first byte on. A lone ACK is accepted
// (length 1). A reply starting with STX is read byte by byte through
// endCharacter and the one byte after it, its BCC (length: STX through BCC,
// counted even when the BCC did not come). Every other first byte is refused
// and nothing more is read. A block that would not fit the buffer is refused
// as soon as the buffer is full. 0 accepted; 1 refused or not ended; 2 no byte
// at all. length is set only with 0.
int Receive(std::span<uint8_t> buffer, uint16_t* length, HANDLE port, uint8_t endCharacter);

// Waits at least gapMs milliseconds, measured from the call on the clock of
// the seam; a sleep that comes back early is logged and followed by another.
void WaitIFG(uint16_t gapMs);
// The same for the channel's own gap.
void WaitIFG(const ChannelContext& channel);

// A stopwatch in seconds on the clock of the seam.
double StartStopwatch(double* start);
double ReadStopwatch(double start);

}  // namespace lorvant::link
