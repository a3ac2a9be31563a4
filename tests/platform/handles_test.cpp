// Handles: what is not an open handle is refused by every call; pointers
// Win32 requires are checked; handles are independent across threads.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/win32_linux.h"
#include "pty_fixture.h"

namespace lorvant::win32::testing {
namespace {

struct Call {
  const char* name;
  std::function<BOOL(HANDLE)> run;
};

// Every call that takes a handle, with arguments valid in every other way.
std::vector<Call> EveryHandleCall() {
  return {
      {"CloseHandle", [](HANDLE h) { return CloseHandle(h); }},
      {"GetCommState",
       [](HANDLE h) {
         DCB dcb{};
         return GetCommState(h, &dcb);
       }},
      {"SetCommState",
       [](HANDLE h) {
         DCB dcb{};
         dcb.BaudRate = 9600;
         dcb.ByteSize = 8;
         return SetCommState(h, &dcb);
       }},
      {"GetCommTimeouts",
       [](HANDLE h) {
         COMMTIMEOUTS timeouts{};
         return GetCommTimeouts(h, &timeouts);
       }},
      {"SetCommTimeouts",
       [](HANDLE h) {
         COMMTIMEOUTS timeouts{};
         return SetCommTimeouts(h, &timeouts);
       }},
      {"SetupComm", [](HANDLE h) { return SetupComm(h, 1200, 1200); }},
      {"ClearCommError",
       [](HANDLE h) {
         DWORD errors = 0;
         COMSTAT status{};
         return ClearCommError(h, &errors, &status);
       }},
      {"ReadFile",
       [](HANDLE h) {
         std::array<uint8_t, 4> buffer{};
         DWORD got = 0xDEAD;
         const BOOL ok = ReadFile(h, buffer.data(), 4, &got, nullptr);
         EXPECT_EQ(got, 0U);
         return ok;
       }},
      {"WriteFile",
       [](HANDLE h) {
         DWORD written = 0xDEAD;
         const BOOL ok = WriteFile(h, "x", 1, &written, nullptr);
         EXPECT_EQ(written, 0U);
         return ok;
       }},
      {"EscapeCommFunction", [](HANDLE h) { return EscapeCommFunction(h, SETBREAK); }},
      {"SetCommBreak", [](HANDLE h) { return SetCommBreak(h); }},
      {"ClearCommBreak", [](HANDLE h) { return ClearCommBreak(h); }},
  };
}

void ExpectRefusedEverywhere(HANDLE handle, const std::string& label) {
  for (const Call& call : EveryHandleCall()) {
    EXPECT_EQ(call.run(handle), FALSE) << call.name << " with " << label;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << call.name << " with " << label;
  }
}

TEST(BadHandles, AreRefusedByEveryCall) {
  // NOLINTBEGIN(performance-no-int-to-ptr): made-up handles
  ExpectRefusedEverywhere(nullptr, "null");
  ExpectRefusedEverywhere(kInvalidHandle, "INVALID_HANDLE_VALUE");
  ExpectRefusedEverywhere(reinterpret_cast<HANDLE>(uintptr_t{64}), "an unused slot");
  ExpectRefusedEverywhere(reinterpret_cast<HANDLE>(uintptr_t{0x12345678}), "a large number");
  ExpectRefusedEverywhere(reinterpret_cast<HANDLE>(uintptr_t{0xFFFFFFFFFFFF0001}), "beyond range");
  // NOLINTEND(performance-no-int-to-ptr)
}

TEST(BadHandles, AClosedHandleStaysDeadWhenItsSlotIsReused) {
  HANDLE closed = OpenPort("NUL");
  ASSERT_NE(closed, kInvalidHandle);
  ASSERT_EQ(CloseHandle(closed), TRUE);
  ExpectRefusedEverywhere(closed, "a closed handle");

  HANDLE reopened = OpenPort("NUL");
  ASSERT_NE(reopened, kInvalidHandle);
  ExpectRefusedEverywhere(closed, "a closed handle after reuse");
  DWORD written = 0;
  EXPECT_EQ(WriteFile(reopened, "x", 1, &written, nullptr), TRUE);
  EXPECT_EQ(CloseHandle(reopened), TRUE);
}

TEST(BadHandles, TableFullIsReportedAndRecovers) {
  std::vector<HANDLE> open;
  HANDLE handle = kInvalidHandle;
  while (open.size() < 10000 && (handle = OpenPort("NUL")) != kInvalidHandle) {
    open.push_back(handle);
  }
  EXPECT_EQ(handle, kInvalidHandle);
  EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_OPEN_FILES);
  EXPECT_GE(open.size(), 8U);
  for (HANDLE h : open) {
    EXPECT_EQ(CloseHandle(h), TRUE);
  }
  handle = OpenPort("NUL");
  EXPECT_NE(handle, kInvalidHandle);
  CloseHandle(handle);
}

using NullArguments = PortTest;

TEST_F(NullArguments, RequiredPointersAreChecked) {
  std::array<uint8_t, 4> buffer{};
  DWORD count = 0;
  int overlapped = 0;
  auto* fakeOverlapped = reinterpret_cast<LPOVERLAPPED>(&overlapped);
  const std::vector<std::pair<const char*, std::function<BOOL()>>> calls = {
      {"GetCommState", [&] { return GetCommState(port_, nullptr); }},
      {"SetCommState", [&] { return SetCommState(port_, nullptr); }},
      {"GetCommTimeouts", [&] { return GetCommTimeouts(port_, nullptr); }},
      {"SetCommTimeouts", [&] { return SetCommTimeouts(port_, nullptr); }},
      {"ReadFile count", [&] { return ReadFile(port_, buffer.data(), 4, nullptr, nullptr); }},
      {"ReadFile buffer", [&] { return ReadFile(port_, nullptr, 4, &count, nullptr); }},
      {"ReadFile overlapped",
       [&] { return ReadFile(port_, buffer.data(), 4, &count, fakeOverlapped); }},
      {"WriteFile count", [&] { return WriteFile(port_, buffer.data(), 4, nullptr, nullptr); }},
      {"WriteFile buffer", [&] { return WriteFile(port_, nullptr, 4, &count, nullptr); }},
      {"WriteFile overlapped",
       [&] { return WriteFile(port_, buffer.data(), 4, &count, fakeOverlapped); }},
  };
  for (const auto& [name, run] : calls) {
    EXPECT_EQ(run(), FALSE) << name;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << name;
  }
  // Both reports of ClearCommError are optional.
  EXPECT_EQ(ClearCommError(port_, nullptr, nullptr), TRUE);
}

TEST(LastError, BelongsToTheCallingThread) {
  EXPECT_EQ(CloseHandle(nullptr), FALSE);
  ASSERT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  std::thread([] {
    EXPECT_EQ(OpenPort("LPT1"), kInvalidHandle);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }).join();
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Two ports, two threads: a call waiting on one port holds nothing that the
// other port's calls need.
class TwoPorts : public PortTest {
 protected:
  void SetUp() override {
    PortTest::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(openpty(&otherMaster_, &otherSlave_, otherName_.data(), nullptr, nullptr), 0);
    other_ = OpenPort(otherName_.data());
    ASSERT_NE(other_, kInvalidHandle);
  }

  void TearDown() override {
    if (other_ != kInvalidHandle) {
      CloseHandle(other_);
    }
    close(otherSlave_);
    close(otherMaster_);
    PortTest::TearDown();
  }

  int otherMaster_ = -1;
  int otherSlave_ = -1;
  std::array<char, 128> otherName_{};
  HANDLE other_ = kInvalidHandle;
};

TEST_F(TwoPorts, AWaitingReadDoesNotHoldUpTheOtherPort) {
  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 1500), TRUE);
  auto waiting = std::async(std::launch::async, [this] { return Read(port_, 1); });
  std::this_thread::sleep_for(milliseconds(50));  // let the read start waiting

  ASSERT_EQ(SetReadTimeouts(other_, 0, 0, 5000), TRUE);
  ASSERT_EQ(write(otherMaster_, "hi", 2), 2);
  const ReadResult other = Read(other_, 2);
  EXPECT_EQ(other.bytes, BytesOf("hi"));
  EXPECT_EQ(waiting.wait_for(milliseconds(0)), std::future_status::timeout)
      << "the other port's read should be done before the waiting one times out";
  const ReadResult first = waiting.get();
  EXPECT_EQ(first.ok, TRUE);
  EXPECT_TRUE(first.bytes.empty());
}

using CloseWhileWaiting = PortTest;

TEST_F(CloseWhileWaiting, TheWaitingReadIsAbortedAndTheDeviceFreed) {
  ASSERT_EQ(SetReadTimeouts(port_, 0, 0, 0), TRUE);  // no time limit
  StartHangGuard();
  auto waiting = std::async(std::launch::async, [this] { return Read(port_, 1); });
  std::this_thread::sleep_for(milliseconds(100));
  ASSERT_EQ(CloseHandle(port_), TRUE);
  HANDLE closed = port_;
  port_ = kInvalidHandle;

  ASSERT_EQ(waiting.wait_for(milliseconds(5000)), std::future_status::ready);
  const ReadResult read = waiting.get();
  EXPECT_EQ(read.ok, FALSE);
  EXPECT_EQ(read.error, ERROR_OPERATION_ABORTED);
  EXPECT_EQ(CloseHandle(closed), FALSE);
  port_ = OpenPort(slavePath_);
  EXPECT_NE(port_, kInvalidHandle) << GetLastError();
}

}  // namespace
}  // namespace lorvant::win32::testing
