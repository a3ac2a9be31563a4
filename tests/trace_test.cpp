// The wire trace around the seam: what a request and its reply leave in the
// trace, that calls pass through unchanged, and when the trace is switched on.

#include "serial/trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "link/link.h"
#include "support/scripted_channel.h"
#include "support/temp_dir.h"

namespace lorvant::serial {
namespace {

using ::lorvant::testing::Bytes;
using ::lorvant::testing::ScriptedChannel;
using ::testing::ElementsAre;

// Puts the tracing layer around the fake's table, into a temporary file.
class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_ = std::tmpfile();
    ASSERT_NE(sink_, nullptr);
    SetSyscalls(&TracingSyscalls(Sys(), sink_));
  }
  void TearDown() override {
    SetSyscalls(nullptr);
    std::fclose(sink_);
  }

  // The trace's lines without their time and handle, after checking that
  // every line starts with them.
  std::vector<std::string> Events() {
    std::rewind(sink_);
    std::vector<std::string> events;
    std::array<char, 512> text{};
    const std::regex shape(R"(^\d+\.\d{6} h\d+ (.*)\n$)");
    while (std::fgets(text.data(), static_cast<int>(text.size()), sink_) != nullptr) {
      std::cmatch match;
      EXPECT_TRUE(std::regex_match(text.data(), match, shape)) << text.data();
      events.push_back(match[1].str());
    }
    return events;
  }

  ScriptedChannel line;
  std::FILE* sink_ = nullptr;
};

TEST_F(TraceTest, ShowsRtsEdgesTheFrameItsDepartureAndEachReplyByte) {
  line.Then(Bytes{0x02, 0x85, 0x84, 0x81, 0x82, 0x03, 0x81});
  const std::array<uint8_t, 5> request{0x04, 0x81, 0x85, 0x84, 0x05};
  ASSERT_EQ(link::Send(request, line.channel), link::kLinkOk);
  std::array<uint8_t, 129> reply{};
  uint16_t length = 0;
  ASSERT_EQ(link::Receive(reply, &length, line.channel.portHandle, 0x03), link::kLinkOk);

  EXPECT_EQ(length, 7);
  EXPECT_EQ(line.fake.sent, Bytes(request.begin(), request.end()));
  EXPECT_THAT(Events(), ElementsAre("rts-on", "tx 04 81 85 84 05", "sent", "rts-off", "rx 02",
                                    "rx 85", "rx 84", "rx 81", "rx 82", "rx 03", "rx 81"));
}

TEST_F(TraceTest, SplitsLongTransfersAndMarksFailedCalls) {
  line.fake.input.assign(130, 0x55);  // stale input, purged in one read
  line.fake.FailCall("EscapeCommFunction");
  const std::array<uint8_t, 1> ack{0x06};
  EXPECT_EQ(link::Send(ack, line.channel), link::kLinkOk);

  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 7U);
  EXPECT_EQ(events[0], "rts-on failed");
  std::string sixtyFour = "rx";
  for (int i = 0; i < 64; ++i) {
    sixtyFour += " 55";
  }
  EXPECT_EQ(events[1], sixtyFour);
  EXPECT_EQ(events[2], sixtyFour);
  EXPECT_EQ(events[3], "rx 55 55");
  EXPECT_THAT(std::vector(events.begin() + 4, events.end()),
              ElementsAre("tx 06", "sent", "rts-off"));
}

// The variable is read when the table is chosen.
TEST(InitialTraceTest, IsOnOnlyWhenTheVariableNamesAFileThatOpens) {
  ::unsetenv(kTraceVariable);
  EXPECT_EQ(&InitialSyscalls(), &PlatformSyscalls());

  ::setenv(kTraceVariable, "/nonexistent-folder/trace.txt", 1);
  EXPECT_EQ(&InitialSyscalls(), &PlatformSyscalls());

  const lorvant::testing::ScopedCurrentDir dir;
  ::setenv(kTraceVariable, "trace.txt", 1);
  const Syscalls& traced = InitialSyscalls();
  ::unsetenv(kTraceVariable);
  EXPECT_NE(&traced, &PlatformSyscalls());
  std::FILE* file = std::fopen("trace.txt", "rb");
  EXPECT_NE(file, nullptr);
  if (file != nullptr) {
    std::fclose(file);
  }
}

}  // namespace
}  // namespace lorvant::serial
