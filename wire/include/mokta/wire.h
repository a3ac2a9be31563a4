// The line protocol between the driver (master) and the instruments (slaves),
// as the tools see it: frames built, split into pieces and explained in words.
// Written apart from the driver's own framing code on purpose, so that the
// tools check the driver instead of repeating its mistakes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mokta::wire {

inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kEtb = 0x17;

inline constexpr int kElementsPerBlock = 8;
inline constexpr int kParameterCount = 128;  // pno 0..127
inline constexpr int kHighestId = 0x8F;
inline constexpr int kFormatCodes = 5;  // format codes 0..4
inline constexpr std::size_t kWriteFrameSize = 10;

// XOR of the bytes, with bit 7 set.
uint8_t Bcc(std::span<const uint8_t> range);

// Every byte of a frame but the control characters has bit 7 set.
constexpr bool HasHighBit(uint8_t byte) {
  return (byte & 0x80U) != 0;
}

// One byte as two hexadecimal digits, "0A".
std::string HexByte(uint8_t byte);

// One data element as it travels: formatField is the 5-bit field of the high
// group exactly as on the line (one-hot for a good element).
struct Element {
  int pno = 0;
  uint16_t value = 0;
  uint8_t formatField = 0;

  friend bool operator==(const Element&, const Element&) = default;
};

// The one-hot field of format code 0..4.
uint8_t FormatFieldOf(int formatCode);

// PNO byte, high group, middle group, low group. Throws std::invalid_argument
// for a pno outside 0..127 or a format code outside 0..4.
std::array<uint8_t, 4> EncodeElement(int pno, uint16_t value, int formatCode);
// The same for an element whose format field is taken as it is (masked to 5 bits).
std::array<uint8_t, 4> EncodeElement(const Element& element);
// Throws std::invalid_argument unless given exactly four bytes. Bit 7 is not checked.
Element DecodeElement(std::span<const uint8_t> fourBytes);
// The format code of a one-hot field; nullopt for 0 or more than one bit.
std::optional<int> FormatCodeOf(uint8_t formatField);

// EOT, id, pno, [count when > 1], BCC, ENQ. Throws std::invalid_argument for
// an id outside 0..0x8F, a pno outside 0..127 or a count outside 1..127.
std::vector<uint8_t> ReadRequest(int id, int pno, int count);
// STX, elements, ETX (last) or ETB (more follow), BCC over all after STX.
std::vector<uint8_t> ReplyBlock(std::span<const Element> elements, bool last);
// EOT, id, id, STX, pno, high, middle, low, ETX, BCC over pno..ETX. The
// element's format field goes out as given. Throws std::invalid_argument for
// an id outside 0..0x8F or a pno outside 0..127.
std::vector<uint8_t> WriteFrame(int id, const Element& element);

// Hex bytes: "04 81 85", "048185", "04,81", "0x04 0x81". Tokens are separated
// by white space, commas, colons or semicolons; a token is one or more pairs of
// hex digits, or a single digit, with an optional 0x prefix. nullopt for
// anything else, and for text without any byte.
std::optional<std::vector<uint8_t>> ParseHex(std::string_view text);
// Upper-case pairs separated by single spaces: "04 81 85".
std::string Hex(std::span<const uint8_t> bytes);

enum class FrameKind { ReadRequest, WriteFrame, ReplyBlock, Control, Unknown };

// What a frame is, on one line. bccOk is true for a frame whose check
// character is right and for a lone control character, which has none; it is
// false for a wrong check character and for an Unknown frame.
struct Description {
  FrameKind kind = FrameKind::Unknown;
  bool bccOk = false;
  std::string text;
};

// Examples:
//   "read request: instrument 01, parameter 5, BCC 84 ok"
//   "read request: instrument 12, parameters 10..18 (9), BCC 91 ok"
//   "reply block (last): 5=130 (format 0), BCC 81 ok"
//   "reply block (more follow): 0=1 (format 0), ..., BCC 85 wrong, expected 84"
//   "write frame: instrument 01, parameter 5 := 300 (format 0), BCC A8 ok"
//   "ACK"
Description Describe(std::span<const uint8_t> frame);

// Cuts a byte stream into frames: each control character alone, read requests
// from EOT up to ENQ, write frames (EOT, a, a, STX, ... ten bytes), reply
// blocks from STX up to ETX or ETB and the BCC after it. Bytes that fit none
// of these come out as frames of their own (Unknown when described).
std::vector<std::vector<uint8_t>> SplitFrames(std::span<const uint8_t> stream);

// The name of a control character ("ACK"), or nullopt for any other byte.
std::optional<std::string_view> ControlName(uint8_t byte);

}  // namespace mokta::wire
