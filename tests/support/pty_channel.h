// A channel whose port is the slave of a pseudo-terminal, for tests that run
// the driver through VpiMain and the platform's own serial calls. The driver
// opens the slave by the port name kPtyPortName; the test holds the master
// and plays the instrument on it. Each test runs in a fresh current folder,
// so no initialisation file is found.
#pragma once

#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lorvant/records.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace lorvant::testing {

inline constexpr const char* kPtyPortName = "COM42";

class PtyChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::array<char, 64> name{};
    int slave = -1;
    ASSERT_EQ(::openpty(&master_, &slave, name.data(), nullptr, nullptr), 0);
    // Only the driver holds the slave.
    ::close(slave);
    ASSERT_EQ(::setenv("LORVANT_COM42", name.data(), 1), 0);
  }

  void TearDown() override {
    Call(12);  // CloseCom
    ::unsetenv("LORVANT_COM42");
    if (master_ >= 0) {
      ::close(master_);
    }
  }

  int32_t Call(uint32_t code, void* params = nullptr) {
    VpiRequest request{&channel_, code, 0, 0, params};
    return VpiMain(&request);
  }

  // Starts the channel on the terminal with 9600 baud, 8 data bits, even
  // parity; replyTimeout in units of 10 ms.
  int32_t ColdStart(int32_t replyTimeout) {
    ColdStartRecord record{};
    std::strncpy(record.portName, kPtyPortName, sizeof(record.portName) - 1);
    record.portInUse = 1;
    record.replyTimeout = replyTimeout;
    record.lineSettings = {9600, 8, 0, 2};
    return Call(1, &record);
  }

  ScopedCurrentDir dir_;
  LogCapture log_;
  ChannelContext channel_{};
  int master_ = -1;
};

}  // namespace lorvant::testing
