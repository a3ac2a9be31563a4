// Driver information and the channel lifecycle, through VpiMain, against the
// scripted serial fake: the serial calls each operation makes, the context it
// leaves, and every message at its level.

#include "host/lifecycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/dispatch.h"
#include "host/runtime.h"
#include "support/fake_serial.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace lorvant {
namespace {

using ::lorvant::testing::FakeSerial;
using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;
using ::lorvant::testing::ScopedCurrentDir;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;

enum Code : uint32_t {
  kColdStart = 1,
  kWarmStart = 2,
  kEndVpi = 11,
  kCloseCom = 12,
  kReOpenCom = 13,
  kGetVpiInfo = 14,
  kChangeVpiParams = 15,
};

const std::string kOpened = "MOKTA> ColdStart() File handle 90";  // the fake's handle, 0x5A
const LogLine kInstalled{kLogDetail, "MOKTA> ColdStart() installation OK!"};
const LogLine kNoInitFile{kLogDetail, "MOKTA> ColdStart() Warning, no initfile found"};

class LifecycleTest : public ::testing::Test {
 protected:
  LifecycleTest() { std::memset(&channel_, 0xA5, sizeof(channel_)); }  // the host's memory
  ~LifecycleTest() override { SetShutdownFlag(0); }
  LifecycleTest(const LifecycleTest&) = delete;
  LifecycleTest& operator=(const LifecycleTest&) = delete;
  LifecycleTest(LifecycleTest&&) = delete;
  LifecycleTest& operator=(LifecycleTest&&) = delete;

  int32_t Call(uint32_t code, void* params = nullptr) {
    VpiRequest request{&channel_, code, 5, 0, params};
    return VpiMain(&request);
  }

  int32_t ColdStart(const char* port, int32_t replyTimeout = 20,
                    LineSettings settings = {19200, 7, 2, 1}) {
    ColdStartRecord record{};
    std::strncpy(record.portName, port, sizeof(record.portName) - 1);
    record.portInUse = port[0] != '\0' ? 1 : 0;
    record.replyTimeout = replyTimeout;
    record.lineSettings = settings;
    return Call(kColdStart, &record);
  }

  // A channel started with its port open, with the fake's and the log's
  // records cleared.
  void StartOpen(const char* port = "COM1") {
    ASSERT_EQ(ColdStart(port), 0);
    ASSERT_EQ(channel_.portHandle, fake_.handle);
    fake_.calls.clear();
    log_.Clear();
  }

  int32_t Change(const char* port, int32_t replyTimeout, LineSettings settings) {
    VpiParamsRecord record{};
    std::strncpy(record.portName, port, sizeof(record.portName) - 1);
    record.replyTimeout = replyTimeout;
    record.lineSettings = settings;
    return Call(kChangeVpiParams, &record);
  }

  std::vector<std::string> Messages(int level) const {
    std::vector<std::string> messages;
    for (const LogLine& line : log_.Lines()) {
      if (line.level == level) {
        messages.push_back(line.message);
      }
    }
    return messages;
  }

  std::vector<int64_t> ReadTimeoutsSet() const {
    std::vector<int64_t> constants;
    for (const auto& call : fake_.CallsOf("SetCommTimeouts")) {
      constants.push_back(call.args.at(3));
    }
    return constants;
  }

  ScopedCurrentDir dir_;
  FakeSerial fake_;
  LogCapture log_;
  ChannelContext channel_{};
};

// ---- GetVpiInfo ------------------------------------------------------------

TEST_F(LifecycleTest, InfoAnnouncesTheDriver) {
  VpiInfo info{};
  ASSERT_EQ(Call(kGetVpiInfo, &info), 0);
  EXPECT_EQ(info.leadingValue, 70);
  EXPECT_STREQ(info.driverName, "Eurotherm 6000 ");
  EXPECT_EQ(info.contextSize, static_cast<int32_t>(sizeof(ChannelContext)));
  EXPECT_EQ(info.valueAfterContextSize, 4);
  EXPECT_EQ(info.defaultLineSettings.baudRate, 9600);
  EXPECT_EQ(info.defaultLineSettings.dataBits, 8);
  EXPECT_EQ(info.defaultLineSettings.stopBits, 0);
  EXPECT_EQ(info.defaultLineSettings.parity, 2);
  EXPECT_EQ(info.trailingValue, 1);
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{kLogInfo, "MOKTA> GetVpiInfo() exited"}));
  EXPECT_THAT(fake_.calls, IsEmpty());
}

TEST_F(LifecycleTest, InfoBannerIsTheFramedLineInCodePage437) {
  VpiInfo info{};
  ASSERT_EQ(Call(kGetVpiInfo, &info), 0);
  const std::string banner = info.banner;
  const std::string line(65, '\xCD');
  const std::string text = "  MOKTA :  Eurotherme BYSINC (32 bit)" + std::string(28, ' ');
  EXPECT_EQ(banner, "\b\n\xC9" + line + "\xBB\n\xBA" + text + "\xBA\n\xC8" + line + "\xBC");
  EXPECT_EQ(banner.size(), 205u);
}

TEST_F(LifecycleTest, InfoWithoutARecordIsRefused) {
  EXPECT_EQ(Call(kGetVpiInfo), 2);
}

// ---- ColdStart -------------------------------------------------------------

TEST_F(LifecycleTest, ColdStartWithoutAPort) {
  SetShutdownFlag(0);
  ASSERT_EQ(ColdStart("", 7), 0);
  EXPECT_EQ(channel_.replyTimeout, 7);
  EXPECT_EQ(channel_.ifg, 12);
  EXPECT_EQ(channel_.portHandle, nullptr);
  EXPECT_THAT(fake_.calls, IsEmpty());
  ASSERT_EQ(log_.Lines().size(), 3u);
  EXPECT_EQ(log_.Lines()[0].level, kLogDetail);
  EXPECT_THAT(log_.Lines()[0].message,
              MatchesRegex("MOKTA> release version compiled on [A-Z][a-z][a-z] [ 123][0-9] "
                           "[0-9][0-9][0-9][0-9] at time [0-2][0-9]:[0-5][0-9]:[0-6][0-9]"));
  EXPECT_EQ(log_.Lines()[1], kNoInitFile);
  EXPECT_EQ(log_.Lines()[2], kInstalled);
}

TEST_F(LifecycleTest, ColdStartReadsTheInitFileBeforeOpening) {
  ScopedCurrentDir::Write("MOKTA05.INT", "IFG = 40\n");
  ASSERT_EQ(ColdStart("COM1"), 0);
  EXPECT_EQ(channel_.ifg, 40);
  EXPECT_THAT(Messages(kLogDetail), Contains("MOKTA> ReadInitFile() IFG = 40"));
}

TEST_F(LifecycleTest, ColdStartOpensAndConfiguresThePort) {
  ASSERT_EQ(ColdStart("COM1", 20, {19200, 7, 2, 1}), 0);
  EXPECT_EQ(channel_.portHandle, fake_.handle);
  EXPECT_STREQ(channel_.portSettings.portName, "COM1");
  EXPECT_EQ(channel_.portSettings.lineSettings.baudRate, 19200);
  EXPECT_EQ(channel_.portSettings.lineControlFlags, 0x0303);
  EXPECT_THAT(fake_.Names(),
              ElementsAre("CreateFileA", "GetCommState", "SetCommTimeouts", "SetCommState",
                          "SetupComm", "GetCommTimeouts", "SetCommTimeouts"));
  EXPECT_THAT(ReadTimeoutsSet(), ElementsAre(1000, 200));
  EXPECT_EQ(fake_.lastSetState.fDtrControl, DTR_CONTROL_ENABLE);
  EXPECT_EQ(fake_.lastSetState.fRtsControl, RTS_CONTROL_ENABLE);
  EXPECT_THAT(Messages(kLogDetail), Contains(kOpened));
  EXPECT_EQ(log_.Lines().back(), kInstalled);
}

TEST_F(LifecycleTest, ColdStartThatCannotOpenStillSucceeds) {
  fake_.FailCall("CreateFileA");
  ASSERT_EQ(ColdStart("COM7"), 0);
  EXPECT_EQ(channel_.portHandle, nullptr);
  EXPECT_THAT(Messages(kLogOperator), ElementsAre("MOKTA> ColdStart() error opening COM port"));
  EXPECT_EQ(log_.Lines().back(), kInstalled);
}

TEST_F(LifecycleTest, ReplyTimeoutsThatAreNotPositiveNeverDisableTheReadTimeout) {
  for (const int32_t timeout : {0, -1, -50}) {
    fake_.calls.clear();
    fake_.timeouts = {};
    SetShutdownFlag(0);
    ASSERT_EQ(ColdStart("COM1", timeout), 0);
    EXPECT_EQ(channel_.replyTimeout, timeout);
    EXPECT_EQ(fake_.timeouts.ReadTotalTimeoutConstant, 1000u) << timeout;
    ASSERT_EQ(Call(kCloseCom), 0);
  }
}

TEST_F(LifecycleTest, ColdStartTakesAtMostElevenCharactersOfAName) {
  ColdStartRecord record{};
  std::memset(record.portName, 'A', sizeof(record.portName));  // no terminator
  record.portInUse = 1;
  record.replyTimeout = 10;
  ASSERT_EQ(Call(kColdStart, &record), 0);
  EXPECT_EQ(fake_.CallsOf("CreateFileA").at(0).text, std::string(11, 'A'));
}

TEST_F(LifecycleTest, ASecondColdStartClosesThePortTheChannelStillHolds) {
  StartOpen();
  ASSERT_EQ(ColdStart("COM1"), 0);
  EXPECT_THAT(fake_.Names(),
              ElementsAre("CloseHandle", "CreateFileA", "GetCommState", "SetCommTimeouts",
                          "SetCommState", "SetupComm", "GetCommTimeouts", "SetCommTimeouts"));
  EXPECT_EQ(channel_.portHandle, fake_.handle);
}

TEST_F(LifecycleTest, AFirstColdStartNeverClosesWhatTheHostsMemoryHeld) {
  ASSERT_NE(channel_.portHandle, nullptr);  // 0xA5A5...
  ASSERT_EQ(ColdStart(""), 0);
  EXPECT_THAT(fake_.CallsOf("CloseHandle"), IsEmpty());
}

// ---- WarmStart, CloseCom, EndVpi -----------------------------------------

TEST_F(LifecycleTest, WarmStartPurgesAnOpenPort) {
  StartOpen();
  fake_.input = {1, 2, 3};
  ASSERT_EQ(Call(kWarmStart), 0);
  EXPECT_THAT(fake_.input, IsEmpty());
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> WarmStart()"}));

  ASSERT_EQ(ColdStart(""), 0);
  fake_.calls.clear();
  log_.Clear();
  ASSERT_EQ(Call(kWarmStart), 0);
  EXPECT_THAT(fake_.calls, IsEmpty());
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> WarmStart()"}));
}

TEST_F(LifecycleTest, CloseComClosesOnceAndQuietly) {
  StartOpen();
  ASSERT_EQ(Call(kCloseCom), 0);
  EXPECT_EQ(channel_.portHandle, nullptr);
  ASSERT_EQ(Call(kCloseCom), 0);
  EXPECT_THAT(fake_.Names(), ElementsAre("CloseHandle"));
  EXPECT_THAT(log_.Lines(), IsEmpty());
}

TEST_F(LifecycleTest, AFailedCloseKeepsTheHandle) {
  StartOpen();
  fake_.FailCall("CloseHandle");
  ASSERT_EQ(Call(kCloseCom), 2);
  EXPECT_EQ(channel_.portHandle, fake_.handle);
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> CloseCom() exited 2"}));
}

TEST_F(LifecycleTest, EndVpiClosesAndEndsTheDriver) {
  ASSERT_EQ(ColdStart(""), 0);
  log_.Clear();
  ASSERT_EQ(Call(kEndVpi), 0);
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> EndVpi() exited, 0"}));
  EXPECT_EQ(ShutdownFlag(), 1);
  // From now on nothing is read and every request is answered with 0.
  EXPECT_EQ(Call(kReOpenCom), 0);
  EXPECT_EQ(Call(kGetVpiInfo), 0);
  EXPECT_THAT(fake_.calls, IsEmpty());
}

TEST_F(LifecycleTest, EndVpiReportsAFailedClose) {
  StartOpen();
  fake_.FailCall("CloseHandle");
  ASSERT_EQ(Call(kEndVpi), 2);
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> CloseCom() exited 2"},
                                        LogLine{kLogDetail, "MOKTA> EndVpi() exited, 2"}));
}

// ---- ReOpenCom -------------------------------------------------------------

TEST_F(LifecycleTest, ReOpenComOpensWithTheContextsSettings) {
  StartOpen();
  ASSERT_EQ(Call(kCloseCom), 0);
  fake_.calls.clear();
  ASSERT_EQ(Call(kReOpenCom), 0);
  EXPECT_EQ(channel_.portHandle, fake_.handle);
  EXPECT_EQ(fake_.CallsOf("CreateFileA").at(0).text, "COM1");
  EXPECT_EQ(fake_.lastSetState.BaudRate, 19200u);
  EXPECT_THAT(ReadTimeoutsSet(), ElementsAre(1000, 200));
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{kLogDetail, "MOKTA> ReOpenCom() File handle 90"},
                                        LogLine{kLogDetail, "MOKTA> ReOpenCom() exited 0"}));
}

TEST_F(LifecycleTest, ReOpenComThatCannotOpenKeepsWhatTheChannelHeld) {
  StartOpen();
  fake_.FailCall("CreateFileA");  // the device is held already
  ASSERT_EQ(Call(kReOpenCom), 2);
  EXPECT_EQ(channel_.portHandle, fake_.handle);
  EXPECT_THAT(
      log_.Lines(),
      ElementsAre(LogLine{kLogOperator, "MOKTA> ReOpenCom() open COM port failed, exited 2"}));
}

TEST_F(LifecycleTest, ReOpenComOnAChannelWithoutAPortNeverUsesTheHostsMemory) {
  ASSERT_EQ(ColdStart(""), 0);
  fake_.FailCall("CreateFileA");
  ASSERT_EQ(Call(kReOpenCom), 2);
  EXPECT_EQ(fake_.CallsOf("CreateFileA").at(0).text, "");
}

// ---- ChangeVpiParams -------------------------------------------------------

TEST_F(LifecycleTest, ChangeToTheSameNameWhileOpenIsRefusedButKeepsTheNewSettings) {
  StartOpen();
  fake_.FailCall("CreateFileA");
  ASSERT_EQ(Change("COM1", 30, {4800, 8, 0, 0}), 2);
  EXPECT_THAT(fake_.Names(), ElementsAre("CreateFileA"));
  EXPECT_EQ(channel_.portHandle, fake_.handle);
  EXPECT_EQ(channel_.replyTimeout, 30);
  EXPECT_EQ(channel_.portSettings.lineSettings.baudRate, 4800);
  EXPECT_THAT(log_.Lines(), ElementsAre(LogLine{
                                kLogDetail, "MOKTA> ChangeVpiParams() open new COM port failed"}));

  // Closing and reopening then applies them.
  fake_.calls.clear();
  ASSERT_EQ(Call(kCloseCom), 0);
  ASSERT_EQ(Call(kReOpenCom), 0);
  EXPECT_EQ(fake_.lastSetState.BaudRate, 4800u);
  EXPECT_THAT(ReadTimeoutsSet(), ElementsAre(1000, 300));
}

TEST_F(LifecycleTest, ChangeToAnotherNameClosesTheOldPortFirst) {
  StartOpen();
  ASSERT_EQ(Change("COM2", 5, {0, 0, 0, 0}), 0);
  EXPECT_EQ(fake_.Names().front(), "CloseHandle");
  EXPECT_EQ(fake_.CallsOf("CreateFileA").at(0).text, "COM2");
  EXPECT_EQ(fake_.lastSetState.BaudRate, 19200u);  // baud rate 0 keeps all four settings
  EXPECT_EQ(fake_.lastSetState.ByteSize, 7);
  EXPECT_THAT(ReadTimeoutsSet(), ElementsAre(1000, 50));
  EXPECT_THAT(log_.Lines(),
              ElementsAre(LogLine{kLogDetail, "MOKTA> ChangeVpiParams() File handle 90"}));
}

TEST_F(LifecycleTest, ChangeComparesNamesWithLetterCase) {
  StartOpen("COM1");
  ASSERT_EQ(Change("com1", -1, {0, 0, 0, 0}), 0);
  EXPECT_EQ(fake_.Names().front(), "CloseHandle");
}

TEST_F(LifecycleTest, ChangeWhileClosedTakesOnlyTheName) {
  StartOpen();
  ASSERT_EQ(Call(kCloseCom), 0);
  fake_.calls.clear();
  ASSERT_EQ(Change("COM3", -1, {0, 8, 0, 0}), 0);
  EXPECT_EQ(channel_.replyTimeout, 20);
  EXPECT_THAT(fake_.CallsOf("CloseHandle"), IsEmpty());
  EXPECT_EQ(fake_.lastSetState.BaudRate, 19200u);
  EXPECT_EQ(fake_.lastSetState.Parity, ODDPARITY);
  EXPECT_EQ(fake_.lastSetState.ByteSize, 7);
  EXPECT_THAT(ReadTimeoutsSet(), ElementsAre(1000, 200));
}

TEST_F(LifecycleTest, AFailedCloseDuringAChangeLeavesTheOldHandle) {
  StartOpen();
  fake_.FailCall("CloseHandle");
  fake_.FailCall("CreateFileA");
  ASSERT_EQ(Change("COM2", 0, {0, 0, 0, 0}), 2);
  EXPECT_EQ(channel_.portHandle, fake_.handle);
  EXPECT_THAT(
      log_.Lines(),
      ElementsAre(LogLine{kLogDetail, "MOKTA> CloseCom() exited 2"},
                  LogLine{kLogDetail, "MOKTA> ChangeVpiParams() open new COM port failed"}));
}

TEST_F(LifecycleTest, ChangeOnAChannelWithoutAPortOpensWithTheDefaultSettings) {
  ASSERT_EQ(ColdStart(""), 0);
  ASSERT_EQ(Change("COM4", 0, {0, 0, 0, 0}), 0);
  EXPECT_EQ(fake_.lastSetState.BaudRate, 9600u);
  EXPECT_EQ(fake_.lastSetState.ByteSize, 8);
  EXPECT_EQ(fake_.lastSetState.Parity, EVENPARITY);
  EXPECT_EQ(fake_.lastSetState.fDtrControl, DTR_CONTROL_ENABLE);
}

TEST_F(LifecycleTest, OperationsWithoutAContextAreRefused) {
  for (const uint32_t code : {kColdStart, kWarmStart, kReOpenCom, kChangeVpiParams}) {
    ColdStartRecord record{};
    VpiRequest request{nullptr, code, 0, 0, &record};
    EXPECT_EQ(VpiMain(&request), 2) << code;
  }
  VpiRequest close{nullptr, kCloseCom, 0, 0, nullptr};
  EXPECT_EQ(VpiMain(&close), 0);
  EXPECT_THAT(fake_.calls, IsEmpty());
}

}  // namespace
}  // namespace lorvant
