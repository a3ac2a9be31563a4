// The wire library against worked frames of the line protocol, byte for byte.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mokta/wire.h"

namespace mokta::wire {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Optional;
using Bytes = std::vector<uint8_t>;

TEST(WireFrames, WorkedExamples) {
  EXPECT_THAT(ReadRequest(0x01, 5, 1), ElementsAre(0x04, 0x81, 0x85, 0x84, 0x05));
  EXPECT_THAT(ReadRequest(0x12, 10, 9), ElementsAre(0x04, 0x92, 0x8A, 0x89, 0x91, 0x05));
  const std::array one{Element{5, 130, FormatFieldOf(0)}};
  EXPECT_THAT(ReplyBlock(one, true), ElementsAre(0x02, 0x85, 0x84, 0x81, 0x82, 0x03, 0x81));
  // A write frame carries the format field as given, here none at all.
  EXPECT_THAT(WriteFrame(0x01, Element{5, 300, 0}),
              ElementsAre(0x04, 0x81, 0x81, 0x02, 0x85, 0x80, 0x82, 0xAC, 0x03, 0xA8));
}

TEST(WireFrames, ABlockThatMoreFollowEndsWithEtbAndItsBccCoversIt) {
  const std::array two{Element{0, 1, 1}, Element{1, 2, 2}};
  const Bytes block = ReplyBlock(two, false);
  ASSERT_EQ(block.size(), 11U);
  EXPECT_EQ(block[9], kEtb);
  EXPECT_EQ(block[10], Bcc(std::span(block).subspan(1, 9)));
}

TEST(WireFrames, TheCountByteIsLeftOutForOneParameterOnly) {
  EXPECT_EQ(ReadRequest(0x8F, 127, 1).size(), 5U);
  EXPECT_EQ(ReadRequest(0x00, 0, 2).size(), 6U);
  EXPECT_EQ(ReadRequest(0x00, 0, 127)[3], 0xFF);
  EXPECT_EQ(ReadRequest(0x8F, 0, 1)[1], 0x8F);
}

TEST(WireFrames, OutOfRangeArgumentsAreRefused) {
  EXPECT_THROW(ReadRequest(0x90, 0, 1), std::invalid_argument);
  EXPECT_THROW(ReadRequest(-1, 0, 1), std::invalid_argument);
  EXPECT_THROW(ReadRequest(1, 128, 1), std::invalid_argument);
  EXPECT_THROW(ReadRequest(1, 0, 0), std::invalid_argument);
  EXPECT_THROW(ReadRequest(1, 0, 128), std::invalid_argument);
  EXPECT_THROW(EncodeElement(1, 0, 5), std::invalid_argument);
  EXPECT_THROW(EncodeElement(128, 0, 0), std::invalid_argument);
  EXPECT_THROW(WriteFrame(0x90, Element{}), std::invalid_argument);
  EXPECT_THROW(DecodeElement(Bytes{0x80, 0x84, 0x80}), std::invalid_argument);
}

TEST(WireElement, BitLayout) {
  struct Case {
    int pno;
    uint16_t value;
    int code;
    std::array<uint8_t, 4> bytes;
  };
  const std::array cases{
      Case{0, 0, 0, {0x80, 0x84, 0x80, 0x80}},      Case{127, 0xFFFF, 4, {0xFF, 0xC3, 0xFF, 0xFF}},
      Case{1, 0x4000, 1, {0x81, 0x89, 0x80, 0x80}}, Case{2, 0x8000, 2, {0x82, 0x92, 0x80, 0x80}},
      Case{3, 0x3F80, 3, {0x83, 0xA0, 0xFF, 0x80}}, Case{4, 0x007F, 0, {0x84, 0x84, 0x80, 0xFF}},
      Case{5, 130, 0, {0x85, 0x84, 0x81, 0x82}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "pno " << c.pno << " value " << c.value);
    EXPECT_EQ(EncodeElement(c.pno, c.value, c.code), c.bytes);
    const Element decoded = DecodeElement(c.bytes);
    EXPECT_EQ(decoded, (Element{c.pno, c.value, FormatFieldOf(c.code)}));
    EXPECT_THAT(FormatCodeOf(decoded.formatField), Optional(c.code));
  }
}

TEST(WireElement, OnlyASingleBitIsAFormatCode) {
  const std::array<std::pair<uint8_t, std::optional<int>>, 9> cases{{{0x01, 0},
                                                                     {0x02, 1},
                                                                     {0x04, 2},
                                                                     {0x08, 3},
                                                                     {0x10, 4},
                                                                     {0x00, std::nullopt},
                                                                     {0x03, std::nullopt},
                                                                     {0x11, std::nullopt},
                                                                     {0x1F, std::nullopt}}};
  for (const auto& [field, code] : cases) {
    EXPECT_EQ(FormatCodeOf(field), code) << "field " << static_cast<int>(field);
  }
}

TEST(WireHex, ParseGoodAndBad) {
  struct Case {
    std::string text;
    std::optional<Bytes> bytes;
  };
  const std::array cases{
      Case{"04 81 85", Bytes{0x04, 0x81, 0x85}},
      Case{"048185", Bytes{0x04, 0x81, 0x85}},
      Case{"04,81", Bytes{0x04, 0x81}},
      Case{"0x04 0x81", Bytes{0x04, 0x81}},
      Case{"0X04,0xaB", Bytes{0x04, 0xAB}},
      Case{"  4 \t81\n", Bytes{0x04, 0x81}},
      Case{"0x4", Bytes{0x04}},
      Case{"04:81;85", Bytes{0x04, 0x81, 0x85}},
      Case{"", std::nullopt},
      Case{" , ", std::nullopt},
      Case{"048", std::nullopt},
      Case{"0g", std::nullopt},
      Case{"0x", std::nullopt},
      Case{"04 -1", std::nullopt},
      Case{"0x0x04", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseHex(c.text), c.bytes) << "'" << c.text << "'";
  }
  EXPECT_EQ(Hex(Bytes{0x04, 0x81, 0x0A}), "04 81 0A");
  EXPECT_EQ(Hex(Bytes{}), "");
}

TEST(WireDescribe, EachKindOfFrame) {
  struct Case {
    Bytes frame;
    FrameKind kind;
    bool bccOk;
    std::string text;
  };
  const std::array elements{Element{5, 130, 1}, Element{6, 7, 0x03}};
  Bytes wrongBlock = ReplyBlock(std::span(elements).first(1), true);
  wrongBlock.back() ^= 0x01;
  Bytes wrongWrite = WriteFrame(0x01, Element{5, 300, 1});
  wrongWrite.back() ^= 0x01;
  const std::array cases{
      Case{ReadRequest(0x01, 5, 1), FrameKind::ReadRequest, true,
           "read request: instrument 01, parameter 5, BCC 84 ok"},
      Case{ReadRequest(0x12, 10, 9), FrameKind::ReadRequest, true,
           "read request: instrument 12, parameters 10..18 (9), BCC 91 ok"},
      Case{Bytes{0x04, 0x81, 0x85, 0x85, 0x05}, FrameKind::ReadRequest, false,
           "read request: instrument 01, parameter 5, BCC 85 wrong, expected 84"},
      Case{ReplyBlock(std::span(elements).first(1), true), FrameKind::ReplyBlock, true,
           "reply block (last): 5=130 (format 0), BCC 81 ok"},
      Case{wrongBlock, FrameKind::ReplyBlock, false,
           "reply block (last): 5=130 (format 0), BCC 80 wrong, expected 81"},
      Case{ReplyBlock(elements, false), FrameKind::ReplyBlock, true,
           "reply block (more follow): 5=130 (format 0), 6=7 (format field 03, not one code), "
           "BCC 98 ok"},
      Case{WriteFrame(0x01, Element{5, 300, 1}), FrameKind::WriteFrame, true,
           "write frame: instrument 01, parameter 5 := 300 (format 0), BCC AC ok"},
      Case{wrongWrite, FrameKind::WriteFrame, false,
           "write frame: instrument 01, parameter 5 := 300 (format 0), BCC AD wrong, expected AC"},
      Case{Bytes{kAck}, FrameKind::Control, true, "ACK"},
      Case{Bytes{kNak}, FrameKind::Control, true, "NAK"},
      Case{Bytes{kEot}, FrameKind::Control, true, "EOT"},
      Case{Bytes{kSoh}, FrameKind::Control, true, "SOH"},
      Case{Bytes{0x81, 0x85}, FrameKind::Unknown, false, "unknown: 2 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.frame));
    const Description description = Describe(c.frame);
    EXPECT_EQ(description.kind, c.kind);
    EXPECT_EQ(description.bccOk, c.bccOk);
    EXPECT_EQ(description.text, c.text);
  }
}

TEST(WireDescribe, AWriteFrameSaysWhatIsWrongWithIt) {
  Bytes frame = WriteFrame(0x01, Element{5, 300, 1});
  frame[2] = 0x82;
  EXPECT_THAT(Describe(frame).text, HasSubstr("address bytes 81 and 82 differ"));
  frame = WriteFrame(0x01, Element{5, 300, 1});
  frame[8] = 0x83;
  EXPECT_THAT(Describe(frame).text, HasSubstr("ETX missing"));
}

TEST(WireSplit, AStreamOfEveryKindOfFrame) {
  const std::array one{Element{5, 130, 1}};
  const Bytes request = ReadRequest(0x01, 5, 1);
  const Bytes block = ReplyBlock(one, true);
  const Bytes write = WriteFrame(0x01, Element{5, 300, 1});
  const Bytes blockRequest = ReadRequest(0x12, 10, 9);
  std::vector<Bytes> expected{Bytes{0x81, 0x99},  // noise before the first frame
                              request,           block,       Bytes{kAck}, write,
                              Bytes{kAck},       Bytes{kEot},  // a refusal
                              blockRequest,      Bytes{kNak}, Bytes{kEtx}};
  Bytes stream;
  for (const Bytes& frame : expected) {
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  EXPECT_THAT(SplitFrames(stream), ElementsAreArray(expected));
}

TEST(WireSplit, UnfinishedFramesComeOutAsTheyAre) {
  // A request without its ENQ, then a block cut short by a new EOT.
  EXPECT_THAT(SplitFrames(Bytes{0x04, 0x81, 0x85, 0x84, 0x02, 0x85, 0x84, 0x04}),
              ElementsAre(Bytes{0x04, 0x81, 0x85, 0x84}, Bytes{0x02, 0x85, 0x84}, Bytes{0x04}));
  // A block whose BCC has not come yet.
  EXPECT_THAT(SplitFrames(Bytes{0x02, 0x85, 0x84, 0x81, 0x82, 0x03}),
              ElementsAre(Bytes{0x02, 0x85, 0x84, 0x81, 0x82, 0x03}));
  EXPECT_EQ(Describe(Bytes{0x04, 0x81, 0x85, 0x84}).kind, FrameKind::Unknown);
  EXPECT_THAT(SplitFrames(Bytes{}), ElementsAre());
}

}  // namespace
}  // namespace mokta::wire
