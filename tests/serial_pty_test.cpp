// The channel lifecycle and the serial functions over a real pseudo-terminal,
// through the platform's own calls: the driver's side is the terminal's
// slave, the test plays the instrument on its master. Real time: only lower
// bounds are asserted.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "host/dispatch.h"
#include "lorvant/records.h"
#include "serial/serial.h"
#include "support/log_capture.h"
#include "support/pty_channel.h"

namespace lorvant {
namespace {

using ::testing::Contains;
using ::testing::Not;
using Clock = std::chrono::steady_clock;

constexpr const char* kAlias = ::lorvant::testing::kPtyPortName;

class PtyChannel : public ::lorvant::testing::PtyChannelTest {
 protected:
  int32_t ColdStart(int32_t replyTimeout = 10) { return PtyChannelTest::ColdStart(replyTimeout); }

  void InstrumentSends(std::vector<uint8_t> bytes) const {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::tcdrain(master_);
  }

  std::vector<uint8_t> InstrumentReceives(std::size_t count) const {
    std::vector<uint8_t> bytes;
    while (bytes.size() < count) {
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, 5000) <= 0) {
        break;
      }
      std::array<uint8_t, 256> chunk{};
      const ssize_t n = ::read(master_, chunk.data(), chunk.size());
      if (n <= 0) {
        break;
      }
      bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    return bytes;
  }
};

TEST_F(PtyChannel, ColdStartOpensTheTerminalWithTheDefaultSettings) {
  ASSERT_EQ(ColdStart(), 0);
  ASSERT_NE(channel_.portHandle, nullptr);
  std::vector<std::string> messages;
  for (const auto& line : log_.Lines()) {
    messages.push_back(line.message);
  }
  EXPECT_THAT(messages, Not(Contains("MOKTA> ColdStart() error opening COM port")));
}

TEST_F(PtyChannel, WritesAndReadsBytesUnchanged) {
  ASSERT_EQ(ColdStart(), 0);
  const std::array<uint8_t, 10> frame{0x04, 0x81, 0x81, 0x02, 0x85, 0x80, 0x82, 0xAC, 0x03, 0xA8};
  DWORD written = 0;
  ASSERT_EQ(serial::ComWrite(channel_.portHandle, frame, &written), serial::kComOk);
  EXPECT_EQ(written, frame.size());
  EXPECT_EQ(InstrumentReceives(frame.size()), std::vector<uint8_t>(frame.begin(), frame.end()));

  // Bytes a terminal would otherwise translate or act on.
  const std::vector<uint8_t> reply{0x02, 0x0D, 0x0A, 0x00, 0x11, 0x13, 0x03, 0xFF, 0x7F, 0x1A};
  InstrumentSends(reply);
  std::array<uint8_t, 10> got{};
  DWORD count = 0;
  ASSERT_EQ(serial::ComRead(channel_.portHandle, got, &count), serial::kComOk)
      << count << " " << ::testing::PrintToString(got);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()), reply);
}

TEST_F(PtyChannel, AReadWithNothingArrivingWaitsOutTheReplyTimeout) {
  ASSERT_EQ(ColdStart(15), 0);  // 150 ms
  std::array<uint8_t, 1> got{};
  DWORD count = 99;
  const auto start = Clock::now();
  EXPECT_EQ(serial::ComRead(channel_.portHandle, got, &count), serial::kComIoFailed);
  const auto waited = Clock::now() - start;
  EXPECT_EQ(count, 0u);
  EXPECT_GE(waited, std::chrono::milliseconds(140));
  EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(PtyChannel, WarmStartPurgesPendingInputAndKeepsTheTimeout) {
  ASSERT_EQ(ColdStart(15), 0);
  InstrumentSends(std::vector<uint8_t>(1500, 0x55));
  ASSERT_EQ(Call(2), 0);
  EXPECT_EQ(serial::ComSetReadTimeout(channel_.portHandle, 15), 15);  // restored after the purge
  InstrumentSends({0x06});
  std::array<uint8_t, 1> got{};
  ASSERT_EQ(serial::ComRead(channel_.portHandle, got, nullptr), serial::kComOk);
  EXPECT_EQ(got[0], 0x06);
}

TEST_F(PtyChannel, ASecondOpenOfTheHeldDeviceIsRefused) {
  ASSERT_EQ(ColdStart(), 0);
  void* const held = channel_.portHandle;
  EXPECT_EQ(Call(13), 2);  // ReOpenCom
  EXPECT_EQ(channel_.portHandle, held);

  HANDLE other = nullptr;
  EXPECT_NE(serial::ComOpen(kAlias, {9600, 8, 0, 2}, 0x0303, &other), serial::kComOk);

  // Once closed, the device opens again.
  ASSERT_EQ(Call(12), 0);
  EXPECT_EQ(Call(13), 0);
  EXPECT_NE(channel_.portHandle, nullptr);
}

TEST_F(PtyChannel, AVanishedDeviceFailsInsteadOfHanging) {
  ASSERT_EQ(ColdStart(), 0);
  ::close(master_);
  master_ = -1;
  const auto start = Clock::now();
  std::array<uint8_t, 1> got{};
  EXPECT_EQ(serial::ComRead(channel_.portHandle, got, nullptr), serial::kComIoFailed);
  const std::array<uint8_t, 1> byte{0x06};
  EXPECT_EQ(serial::ComWrite(channel_.portHandle, byte, nullptr), serial::kComIoFailed);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(Call(12), 0);  // and it still closes
}

TEST_F(PtyChannel, EndVpiClosesTheDevice) {
  ASSERT_EQ(ColdStart(), 0);
  EXPECT_EQ(Call(11), 0);
  SetShutdownFlag(0);
  HANDLE again = nullptr;
  EXPECT_EQ(serial::ComOpen(kAlias, {9600, 8, 0, 2}, 0x0303, &again), serial::kComOk);
  EXPECT_EQ(serial::ComClose(again), serial::kComOk);
}

}  // namespace
}  // namespace lorvant
