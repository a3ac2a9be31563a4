// Pseudo-terminal pairs for testing the Linux layer: the layer opens the
// slave by its path, the test plays the far end of the line on the master.
#pragma once

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/win32_linux.h"

namespace lorvant::win32::testing {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// NOLINTNEXTLINE(performance-no-int-to-ptr): Win32's own value
inline void* const kInvalidHandle = INVALID_HANDLE_VALUE;

inline Bytes BytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

// What a ReadFile call gave, and how long it took.
struct ReadResult {
  BOOL ok = FALSE;
  DWORD error = ERROR_SUCCESS;  // GetLastError() after a failure
  Bytes bytes;
  Clock::duration elapsed{};
};

inline ReadResult Read(HANDLE port, DWORD count) {
  ReadResult result;
  result.bytes.resize(count);
  DWORD got = 0xDEAD;
  const auto start = Clock::now();
  result.ok = ReadFile(port, result.bytes.data(), count, &got, nullptr);
  result.elapsed = Clock::now() - start;
  result.error = result.ok != FALSE ? ERROR_SUCCESS : GetLastError();
  result.bytes.resize(got);
  return result;
}

inline BOOL SetReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
  COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
  return SetCommTimeouts(port, &timeouts);
}

inline HANDLE OpenPort(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

// A pseudo-terminal pair for each test. The test keeps a descriptor of the
// slave of its own, opened before the layer's, to look at the terminal's
// settings without opening it again.
class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::array<char, 128> name{};
    ASSERT_EQ(openpty(&master_, &slave_, name.data(), nullptr, nullptr), 0);
    slavePath_ = name.data();
  }

  void TearDown() override {
    StopHangGuard();
    if (slave_ >= 0) {
      close(slave_);
    }
    CloseMaster();
  }

  void MasterWrite(const Bytes& bytes) const {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Up to count bytes from the master, waiting at most limit for them.
  Bytes MasterRead(size_t count, milliseconds limit = milliseconds(5000)) const {
    Bytes bytes;
    const auto until = Clock::now() + limit;
    while (bytes.size() < count && Clock::now() < until) {
      pollfd watched{master_, POLLIN, 0};
      if (poll(&watched, 1, 20) <= 0 || (watched.revents & POLLIN) == 0) {
        continue;
      }
      std::array<uint8_t, 4096> chunk{};
      const ssize_t n = read(master_, chunk.data(), std::min(chunk.size(), count - bytes.size()));
      if (n <= 0) {
        break;
      }
      bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    return bytes;
  }

  // Closing the master hangs the slave up: the far end of the line is gone.
  void CloseMaster() {
    const std::scoped_lock lock(masterMutex_);
    if (master_ >= 0) {
      close(master_);
      master_ = -1;
    }
  }

  // Waits until the layer sees count bytes in the input queue of port.
  static bool WaitForInput(HANDLE port, DWORD count) {
    const auto until = Clock::now() + milliseconds(5000);
    while (Clock::now() < until) {
      COMSTAT status{};
      if (ClearCommError(port, nullptr, &status) == FALSE) {
        return false;
      }
      if (status.cbInQue >= count) {
        return true;
      }
      std::this_thread::sleep_for(milliseconds(2));
    }
    return false;
  }

  // For tests of waits without a time limit: a fault in the layer that makes
  // such a wait last for ever ends, after 10 s, by the line going away
  // (the call then fails) instead of with a hung test.
  void StartHangGuard() {
    guard_ = std::thread([this] {
      std::unique_lock lock(guardMutex_);
      if (!guardCancel_.wait_for(lock, milliseconds(10000), [this] { return guardStop_; })) {
        CloseMaster();
      }
    });
  }

  void StopHangGuard() {
    if (!guard_.joinable()) {
      return;
    }
    {
      const std::scoped_lock lock(guardMutex_);
      guardStop_ = true;
    }
    guardCancel_.notify_all();
    guard_.join();
  }

  termios SlaveSettings() const {
    termios settings{};
    EXPECT_EQ(tcgetattr(slave_, &settings), 0);
    return settings;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;

 private:
  std::mutex masterMutex_;
  std::thread guard_;
  std::mutex guardMutex_;
  std::condition_variable guardCancel_;
  bool guardStop_ = false;
};

// A pty pair with the slave already opened through the layer.
class PortTest : public PtyTest {
 protected:
  void SetUp() override {
    PtyTest::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    port_ = OpenPort(slavePath_);
    ASSERT_NE(port_, kInvalidHandle) << GetLastError();
  }

  void TearDown() override {
    StopHangGuard();
    if (port_ != kInvalidHandle) {
      CloseHandle(port_);
    }
    PtyTest::TearDown();
  }

  // The serial functions' way of applying line settings: the DCB held,
  // changed where asked.
  BOOL Apply(DWORD baud, BYTE byteSize, BYTE parity, BYTE stopBits) const {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (GetCommState(port_, &dcb) == FALSE) {
      return FALSE;
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fParity = parity != NOPARITY ? 1 : 0;
    return SetCommState(port_, &dcb);
  }

  HANDLE port_ = kInvalidHandle;
};

}  // namespace lorvant::win32::testing
