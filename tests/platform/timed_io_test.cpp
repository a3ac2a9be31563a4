// Reading and writing with the Win32 time-outs, input queue counts, bytes
// passing unchanged, and a line that goes away. Real time: only lower bounds
// are asserted, and upper bounds far above them to catch hangs.

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <numeric>
#include <thread>

#include "platform/linux/win32_linux.h"
#include "pty_fixture.h"

namespace lorvant::win32::testing {
namespace {

// Reads while another thread acts on the line. The time counts from before
// that thread starts: the read itself may begin late, after part of the
// other thread's delay has passed, so its own duration can be shorter.
ReadResult ReadWhile(HANDLE port, DWORD count, const std::function<void()>& meanwhile) {
  const auto start = Clock::now();
  auto other = std::async(std::launch::async, meanwhile);
  ReadResult read = Read(port, count);
  read.elapsed = Clock::now() - start;
  other.get();
  return read;
}

using ReadTimeouts = PortTest;

constexpr milliseconds kHang{5000};  // far longer than any wait these tests expect

TEST_F(ReadTimeouts, ConstantElapsesWithNothingRead) {
  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 100), TRUE);
  const ReadResult read = Read(port_, 4);
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_TRUE(read.bytes.empty());
  EXPECT_GE(read.elapsed, milliseconds(100));
  EXPECT_LT(read.elapsed, kHang);
}

TEST_F(ReadTimeouts, BytesAlreadyThereReturnAtOnce) {
  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 10000), TRUE);
  MasterWrite(BytesOf("abcd"));
  ASSERT_TRUE(WaitForInput(port_, 4));
  const ReadResult read = Read(port_, 4);
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_EQ(read.bytes, BytesOf("abcd"));
  EXPECT_LT(read.elapsed, kHang);
}

TEST_F(ReadTimeouts, PartialInputIsHandedOverAtTheTimeOut) {
  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 150), TRUE);
  MasterWrite(BytesOf("abc"));
  const ReadResult read = Read(port_, 10);
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_EQ(read.bytes, BytesOf("abc"));
  EXPECT_GE(read.elapsed, milliseconds(150));
  EXPECT_LT(read.elapsed, kHang);
}

TEST_F(ReadTimeouts, MultiplierCountsPerByteAsked) {
  ASSERT_EQ(SetReadTimeouts(port_, 0, 20, 0), TRUE);
  const ReadResult read = Read(port_, 10);  // 10 × 20 ms
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_TRUE(read.bytes.empty());
  EXPECT_GE(read.elapsed, milliseconds(200));
  EXPECT_LT(read.elapsed, kHang);
}

TEST_F(ReadTimeouts, IntervalMaxdwordAloneReturnsWhatIsThere) {
  ASSERT_EQ(SetReadTimeouts(port_, MAXDWORD, 0, 0), TRUE);
  const ReadResult empty = Read(port_, 4);
  EXPECT_EQ(empty.ok, TRUE);
  EXPECT_TRUE(empty.bytes.empty());
  EXPECT_LT(empty.elapsed, kHang);

  MasterWrite(BytesOf("xy"));
  ASSERT_TRUE(WaitForInput(port_, 2));
  const ReadResult some = Read(port_, 4);
  EXPECT_EQ(some.ok, TRUE);
  EXPECT_EQ(some.bytes, BytesOf("xy"));
}

// The total time-out of 10 s stands behind the interval: a read that ignored
// the interval would take that long.
TEST_F(ReadTimeouts, IntervalEndsTheReadWhenTheLineFallsSilent) {
  ASSERT_EQ(SetReadTimeouts(port_, 50, 0, 10000), TRUE);
  MasterWrite(BytesOf("ab"));
  const ReadResult read = Read(port_, 10);
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_EQ(read.bytes, BytesOf("ab"));
  EXPECT_GE(read.elapsed, milliseconds(50));
  EXPECT_LT(read.elapsed, kHang);
}

TEST_F(ReadTimeouts, FirstBytesModeWaitsForTheFirstAndNoMore) {
  ASSERT_EQ(SetReadTimeouts(port_, MAXDWORD, MAXDWORD, 100), TRUE);
  const ReadResult none = Read(port_, 4);
  EXPECT_EQ(none.ok, TRUE);
  EXPECT_TRUE(none.bytes.empty());
  EXPECT_GE(none.elapsed, milliseconds(100));

  ASSERT_EQ(SetReadTimeouts(port_, MAXDWORD, MAXDWORD, 10000), TRUE);
  const ReadResult first = ReadWhile(port_, 4, [this] {
    std::this_thread::sleep_for(milliseconds(100));
    MasterWrite(BytesOf("z"));
  });
  EXPECT_EQ(first.ok, TRUE);
  EXPECT_EQ(first.bytes, BytesOf("z"));
  EXPECT_GE(first.elapsed, milliseconds(100));
  EXPECT_LT(first.elapsed, kHang);
}

TEST_F(ReadTimeouts, NoTimeOutsWaitForEveryByte) {
  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 0), TRUE);
  StartHangGuard();
  const ReadResult read = ReadWhile(port_, 4, [this] {
    MasterWrite(BytesOf("12"));
    std::this_thread::sleep_for(milliseconds(100));
    MasterWrite(BytesOf("34"));
  });
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_EQ(read.bytes, BytesOf("1234"));
  EXPECT_GE(read.elapsed, milliseconds(100));
}

TEST_F(ReadTimeouts, AreKeptPerHandle) {
  const COMMTIMEOUTS set{1, 2, 3, 4, 5};
  COMMTIMEOUTS copy = set;
  ASSERT_EQ(SetCommTimeouts(port_, &copy), TRUE);
  COMMTIMEOUTS got{};
  ASSERT_EQ(GetCommTimeouts(port_, &got), TRUE);
  EXPECT_EQ(got.ReadIntervalTimeout, 1U);
  EXPECT_EQ(got.ReadTotalTimeoutMultiplier, 2U);
  EXPECT_EQ(got.ReadTotalTimeoutConstant, 3U);
  EXPECT_EQ(got.WriteTotalTimeoutMultiplier, 4U);
  EXPECT_EQ(got.WriteTotalTimeoutConstant, 5U);

  COMMTIMEOUTS contradictory{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
  EXPECT_EQ(SetCommTimeouts(port_, &contradictory), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// Every byte value, both ways, with parity applied: a pseudo-terminal holds
// no parity, but the input flags it would bring must not be set either.
using RawBytes = PortTest;

Bytes EveryByteValue() {
  Bytes bytes(256);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  return bytes;
}

TEST_F(RawBytes, EveryValuePassesUnchangedInBothDirections) {
  ASSERT_EQ(Apply(9600, 8, EVENPARITY, ONESTOPBIT), TRUE);
  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 5000), TRUE);
  StartHangGuard();  // the write has no time-out
  const Bytes all = EveryByteValue();

  MasterWrite(all);
  const ReadResult read = Read(port_, 256);
  EXPECT_EQ(read.ok, TRUE);
  EXPECT_EQ(read.bytes, all);

  DWORD written = 0;
  ASSERT_EQ(WriteFile(port_, all.data(), 256, &written, nullptr), TRUE);
  EXPECT_EQ(written, 256U);
  EXPECT_EQ(MasterRead(256), all);
}

TEST_F(RawBytes, NothingIsEchoed) {
  ASSERT_EQ(Apply(9600, 8, EVENPARITY, ONESTOPBIT), TRUE);
  MasterWrite(BytesOf("echo?\r\n"));
  ASSERT_TRUE(WaitForInput(port_, 7));
  EXPECT_TRUE(MasterRead(1, milliseconds(100)).empty());
}

using InputQueue = PortTest;

TEST_F(InputQueue, CountsPendingBytes) {
  MasterWrite(BytesOf("1234567"));
  ASSERT_TRUE(WaitForInput(port_, 7));
  DWORD errors = 0xDEAD;
  COMSTAT status{};
  status.fCtsHold = 1;
  ASSERT_EQ(ClearCommError(port_, &errors, &status), TRUE);
  EXPECT_EQ(errors, 0U);
  EXPECT_EQ(status.cbInQue, 7U);
  EXPECT_EQ(status.cbOutQue, 0U);
  EXPECT_EQ(status.fCtsHold, 0U);

  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 1000), TRUE);
  ASSERT_EQ(Read(port_, 3).bytes, BytesOf("123"));
  ASSERT_EQ(ClearCommError(port_, nullptr, &status), TRUE);
  EXPECT_EQ(status.cbInQue, 4U);
}

using Writes = PortTest;

// The far end reads nothing: the write stops at its time-out with what fit,
// as Win32 does, successfully.
TEST_F(Writes, TimeOutEndsAStalledWriteWithThePartialCount) {
  COMMTIMEOUTS timeouts{0, 0, 0, 0, 200};
  ASSERT_EQ(SetCommTimeouts(port_, &timeouts), TRUE);
  StartHangGuard();
  const Bytes big(1 << 20, 0x55);
  DWORD written = 0;
  const auto start = Clock::now();
  EXPECT_EQ(WriteFile(port_, big.data(), static_cast<DWORD>(big.size()), &written, nullptr), TRUE);
  const auto elapsed = Clock::now() - start;
  EXPECT_GT(written, 0U);
  EXPECT_LT(written, big.size());
  EXPECT_GE(elapsed, milliseconds(200));
  EXPECT_LT(elapsed, kHang);
}

// The far end of the line goes away: every call that touches the line fails
// at once, none waits for ever.
class LineGone : public PortTest {
 protected:
  void SetUp() override {
    PortTest::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 0), TRUE);  // reads without a time limit
  }
};

TEST_F(LineGone, CallsFailWithoutWaiting) {
  CloseMaster();
  const auto start = Clock::now();
  const ReadResult read = Read(port_, 4);
  EXPECT_EQ(read.ok, FALSE);
  EXPECT_EQ(read.error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(read.bytes.empty());

  DWORD written = 0xDEAD;
  EXPECT_EQ(WriteFile(port_, "x", 1, &written, nullptr), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(written, 0U);

  COMSTAT status{};
  EXPECT_EQ(ClearCommError(port_, nullptr, &status), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  DCB dcb{};
  EXPECT_EQ(GetCommState(port_, &dcb), FALSE);
  EXPECT_LT(Clock::now() - start, kHang);
}

TEST_F(LineGone, AWaitingReadEndsWhenTheLineGoes) {
  const ReadResult read = ReadWhile(port_, 4, [this] {
    std::this_thread::sleep_for(milliseconds(100));
    CloseMaster();
  });
  EXPECT_EQ(read.ok, FALSE);
  EXPECT_EQ(read.error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_GE(read.elapsed, milliseconds(100));
  EXPECT_LT(read.elapsed, kHang);
}

TEST_F(LineGone, BytesThatArrivedFirstAreStillHandedOver) {
  MasterWrite(BytesOf("ab"));
  ASSERT_TRUE(WaitForInput(port_, 2));
  const ReadResult first = ReadWhile(port_, 4, [this] {  // "ab", then the line goes
    std::this_thread::sleep_for(milliseconds(100));
    CloseMaster();
  });
  EXPECT_EQ(first.ok, TRUE);
  EXPECT_EQ(first.bytes, BytesOf("ab"));
  const ReadResult next = Read(port_, 4);
  EXPECT_EQ(next.ok, FALSE);
  EXPECT_EQ(next.error, ERROR_DEVICE_NOT_CONNECTED);
}

}  // namespace
}  // namespace lorvant::win32::testing
