#include "mokta/wire.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace mokta::wire {
namespace {

constexpr uint8_t kHighBit = 0x80;
constexpr std::size_t kElementSize = 4;

void CheckId(int id) {
  if (id < 0 || id > kHighestId) {
    throw std::invalid_argument("instrument id " + std::to_string(id) + " outside 0..0x8F");
  }
}

void CheckPno(int pno) {
  if (pno < 0 || pno >= kParameterCount) {
    throw std::invalid_argument("parameter number " + std::to_string(pno) + " outside 0..127");
  }
}

// "BCC 84 ok" or "BCC 85 wrong, expected 84".
std::string BccText(uint8_t got, uint8_t expected) {
  if (got == expected) {
    return "BCC " + HexByte(got) + " ok";
  }
  return "BCC " + HexByte(got) + " wrong, expected " + HexByte(expected);
}

std::string FormatText(uint8_t formatField) {
  const std::optional<int> code = FormatCodeOf(formatField);
  if (code) {
    return "(format " + std::to_string(*code) + ")";
  }
  return "(format field " + HexByte(formatField) + ", not one code)";
}

Description DescribeReadRequest(std::span<const uint8_t> frame) {
  const std::size_t size = frame.size();
  const uint8_t expected = Bcc(frame.subspan(1, size - 3));
  const uint8_t got = frame[size - 2];
  const int pno = frame[2] & 0x7F;
  std::string text = "read request: instrument " + HexByte(frame[1] & 0x7F) + ", ";
  if (size == 6) {
    const int count = frame[3] & 0x7F;
    text += "parameters " + std::to_string(pno) + ".." + std::to_string(pno + count - 1) + " (" +
            std::to_string(count) + ")";
  } else {
    text += "parameter " + std::to_string(pno);
  }
  if (!std::all_of(frame.begin() + 1, frame.end() - 1, HasHighBit)) {
    text += ", bit 7 missing";
  }
  text += ", " + BccText(got, expected);
  return {FrameKind::ReadRequest, got == expected, text};
}

Description DescribeWriteFrame(std::span<const uint8_t> frame) {
  const uint8_t expected = Bcc(frame.subspan(4, 5));
  const uint8_t got = frame[9];
  const Element element = DecodeElement(frame.subspan(4, kElementSize));
  std::string text = "write frame: instrument " + HexByte(frame[1] & 0x7F);
  if (frame[1] != frame[2]) {
    text += " (address bytes " + HexByte(frame[1]) + " and " + HexByte(frame[2]) + " differ)";
  }
  text += ", parameter " + std::to_string(element.pno) + " := " + std::to_string(element.value) +
          " " + FormatText(element.formatField);
  if (!std::all_of(frame.begin() + 4, frame.begin() + 8, HasHighBit)) {
    text += ", bit 7 missing";
  }
  if (frame[8] != kEtx) {
    text += ", ETX missing";
  }
  text += ", " + BccText(got, expected);
  return {FrameKind::WriteFrame, got == expected, text};
}

Description DescribeReplyBlock(std::span<const uint8_t> frame) {
  const std::size_t size = frame.size();
  const bool last = frame[size - 2] == kEtx;
  const uint8_t expected = Bcc(frame.subspan(1, size - 2));
  const uint8_t got = frame[size - 1];
  std::string text = last ? "reply block (last): " : "reply block (more follow): ";
  const std::span<const uint8_t> data = frame.subspan(1, size - 3);
  if (data.size() % kElementSize != 0) {
    text += std::to_string(data.size()) + " data bytes, not whole elements";
  } else {
    for (std::size_t at = 0; at < data.size(); at += kElementSize) {
      const Element element = DecodeElement(data.subspan(at, kElementSize));
      if (at != 0) {
        text += ", ";
      }
      text += std::to_string(element.pno) + "=" + std::to_string(element.value) + " " +
              FormatText(element.formatField);
    }
    if (data.empty()) {
      text += "no elements";
    }
  }
  if (!std::all_of(data.begin(), data.end(), HasHighBit)) {
    text += ", bit 7 missing";
  }
  text += ", " + BccText(got, expected);
  return {FrameKind::ReplyBlock, got == expected, text};
}

// The frame that starts at stream[at] with an EOT: a write frame, a read
// request, or the EOT alone (with whatever bytes follow it that end nowhere).
std::size_t EotFrameLength(std::span<const uint8_t> stream, std::size_t at) {
  const std::size_t left = stream.size() - at;
  if (left >= 4 && stream[at + 3] == kStx && HasHighBit(stream[at + 1]) &&
      HasHighBit(stream[at + 2])) {
    return std::min(left, kWriteFrameSize);
  }
  std::size_t length = 1;
  while (length < left && HasHighBit(stream[at + length])) {
    ++length;
  }
  if (length < left && stream[at + length] == kEnq) {
    return length + 1;
  }
  return length;
}

// From STX up to ETX or ETB and the BCC after it; a block cut short by
// another control character or the end of the stream ends there.
std::size_t BlockLength(std::span<const uint8_t> stream, std::size_t at) {
  const std::size_t left = stream.size() - at;
  std::size_t length = 1;
  while (length < left && HasHighBit(stream[at + length])) {
    ++length;
  }
  if (length < left && (stream[at + length] == kEtx || stream[at + length] == kEtb)) {
    ++length;
    if (length < left) {
      ++length;  // the BCC, whatever it is
    }
  }
  return length;
}

}  // namespace

std::string HexByte(uint8_t byte) {
  std::array<char, 3> text{};
  std::snprintf(text.data(), text.size(), "%02X", static_cast<unsigned>(byte));
  return {text.data(), 2};
}

uint8_t Bcc(std::span<const uint8_t> range) {
  uint8_t bcc = 0;
  for (const uint8_t byte : range) {
    bcc ^= byte;
  }
  return static_cast<uint8_t>(bcc | kHighBit);
}

uint8_t FormatFieldOf(int formatCode) {
  if (formatCode < 0 || formatCode >= kFormatCodes) {
    throw std::invalid_argument("format code " + std::to_string(formatCode) + " outside 0..4");
  }
  return static_cast<uint8_t>(1U << static_cast<unsigned>(formatCode));
}

std::array<uint8_t, 4> EncodeElement(int pno, uint16_t value, int formatCode) {
  CheckPno(pno);
  return EncodeElement(Element{pno, value, FormatFieldOf(formatCode)});
}

std::array<uint8_t, 4> EncodeElement(const Element& element) {
  const unsigned value = element.value;
  const unsigned field = element.formatField & 0x1FU;
  return {static_cast<uint8_t>(kHighBit | (static_cast<unsigned>(element.pno) & 0x7FU)),
          static_cast<uint8_t>(kHighBit | (field << 2U) | (value >> 14U)),
          static_cast<uint8_t>(kHighBit | ((value >> 7U) & 0x7FU)),
          static_cast<uint8_t>(kHighBit | (value & 0x7FU))};
}

Element DecodeElement(std::span<const uint8_t> fourBytes) {
  if (fourBytes.size() != kElementSize) {
    throw std::invalid_argument("a data element has 4 bytes, not " +
                                std::to_string(fourBytes.size()));
  }
  const unsigned high = fourBytes[1];
  const unsigned middle = fourBytes[2];
  const unsigned low = fourBytes[3];
  return Element{
      fourBytes[0] & 0x7F,
      static_cast<uint16_t>(((high & 0x03U) << 14U) | ((middle & 0x7FU) << 7U) | (low & 0x7FU)),
      static_cast<uint8_t>((high >> 2U) & 0x1FU)};
}

std::optional<int> FormatCodeOf(uint8_t formatField) {
  for (int code = 0; code < kFormatCodes; ++code) {
    if (formatField == (1U << static_cast<unsigned>(code))) {
      return code;
    }
  }
  return std::nullopt;
}

std::vector<uint8_t> ReadRequest(int id, int pno, int count) {
  CheckId(id);
  CheckPno(pno);
  if (count < 1 || count >= kParameterCount) {
    throw std::invalid_argument("parameter count " + std::to_string(count) + " outside 1..127");
  }
  std::vector<uint8_t> frame{kEot, static_cast<uint8_t>(kHighBit | id),
                             static_cast<uint8_t>(kHighBit | pno)};
  if (count > 1) {
    frame.push_back(static_cast<uint8_t>(kHighBit | count));
  }
  frame.push_back(Bcc(std::span(frame).subspan(1)));
  frame.push_back(kEnq);
  return frame;
}

std::vector<uint8_t> ReplyBlock(std::span<const Element> elements, bool last) {
  std::vector<uint8_t> block{kStx};
  for (const Element& element : elements) {
    const std::array<uint8_t, 4> bytes = EncodeElement(element);
    block.insert(block.end(), bytes.begin(), bytes.end());
  }
  block.push_back(last ? kEtx : kEtb);
  block.push_back(Bcc(std::span(block).subspan(1)));
  return block;
}

std::vector<uint8_t> WriteFrame(int id, const Element& element) {
  CheckId(id);
  CheckPno(element.pno);
  const auto address = static_cast<uint8_t>(kHighBit | id);
  const std::array<uint8_t, 4> bytes = EncodeElement(element);
  std::vector<uint8_t> frame{kEot,     address,  address,  kStx, bytes[0],
                             bytes[1], bytes[2], bytes[3], kEtx, 0};
  frame[9] = Bcc(std::span(frame).subspan(4, 5));
  return frame;
}

std::optional<std::vector<uint8_t>> ParseHex(std::string_view text) {
  std::vector<uint8_t> bytes;
  const auto isSeparator = [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0 || c == ',' || c == ':' || c == ';';
  };
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') {
      return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
      return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
      return c - 'A' + 10;
    }
    return -1;
  };
  std::size_t at = 0;
  while (at < text.size()) {
    if (isSeparator(text[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !isSeparator(text[end])) {
      ++end;
    }
    std::string_view token = text.substr(at, end - at);
    at = end;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
      token.remove_prefix(2);
    }
    if (!std::all_of(token.begin(), token.end(), [&](char c) { return digit(c) >= 0; })) {
      return std::nullopt;
    }
    if (token.size() == 1) {
      bytes.push_back(static_cast<uint8_t>(digit(token[0])));
      continue;
    }
    if (token.size() % 2 != 0) {
      return std::nullopt;
    }
    for (std::size_t i = 0; i < token.size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(digit(token[i]) * 16 + digit(token[i + 1])));
    }
  }
  if (bytes.empty()) {
    return std::nullopt;
  }
  return bytes;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string text;
  for (const uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ' ';
    }
    text += HexByte(byte);
  }
  return text;
}

std::optional<std::string_view> ControlName(uint8_t byte) {
  switch (byte) {
    case kSoh:
      return "SOH";
    case kStx:
      return "STX";
    case kEtx:
      return "ETX";
    case kEot:
      return "EOT";
    case kEnq:
      return "ENQ";
    case kAck:
      return "ACK";
    case kNak:
      return "NAK";
    case kEtb:
      return "ETB";
    default:
      return std::nullopt;
  }
}

Description Describe(std::span<const uint8_t> frame) {
  const std::size_t size = frame.size();
  if (size == 1 && ControlName(frame[0])) {
    return {FrameKind::Control, true, std::string(*ControlName(frame[0]))};
  }
  if (size == kWriteFrameSize && frame[0] == kEot && frame[3] == kStx) {
    return DescribeWriteFrame(frame);
  }
  if ((size == 5 || size == 6) && frame[0] == kEot && frame[size - 1] == kEnq) {
    return DescribeReadRequest(frame);
  }
  if (size >= 3 && frame[0] == kStx && (frame[size - 2] == kEtx || frame[size - 2] == kEtb)) {
    return DescribeReplyBlock(frame);
  }
  std::string text = "unknown: " + std::to_string(size) + (size == 1 ? " byte" : " bytes");
  if (size > 0 && frame[0] == kEot) {
    text += ", an unfinished request or write frame";
  } else if (size > 0 && frame[0] == kStx) {
    text += ", an unfinished reply block";
  }
  return {FrameKind::Unknown, false, text};
}

std::vector<std::vector<uint8_t>> SplitFrames(std::span<const uint8_t> stream) {
  std::vector<std::vector<uint8_t>> frames;
  std::size_t at = 0;
  while (at < stream.size()) {
    const uint8_t byte = stream[at];
    std::size_t length = 1;
    if (byte == kEot) {
      length = EotFrameLength(stream, at);
    } else if (byte == kStx) {
      length = BlockLength(stream, at);
    } else if (HasHighBit(byte) || !ControlName(byte)) {
      // A run of bytes outside any frame, up to the next control character.
      while (at + length < stream.size() && !ControlName(stream[at + length])) {
        ++length;
      }
    }
    const auto first = stream.begin() + static_cast<std::ptrdiff_t>(at);
    frames.emplace_back(first, first + static_cast<std::ptrdiff_t>(length));
    at += length;
  }
  return frames;
}

}  // namespace mokta::wire
