// The serial functions against the scripted fake: the Win32 calls each one
// makes, in order and with their arguments, and what each result means.

#include "serial/serial.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/fake_serial.h"

namespace lorvant::serial {
namespace {

using ::lorvant::testing::FakeSerial;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr LineSettings k9600Even{9600, 8, 0, 2};

class SerialTest : public ::testing::Test {
 protected:
  FakeSerial fake;
  HANDLE handle = nullptr;

  int Open(const char* name, uint16_t flags = kDefaultLineControlFlags,
           LineSettings settings = k9600Even) {
    return ComOpen(name, settings, flags, &handle);
  }
};

// ---- ComOpen ---------------------------------------------------------------

TEST_F(SerialTest, OpenConfiguresThePortInOrder) {
  ASSERT_EQ(Open("COM1"), kComOk);
  EXPECT_EQ(handle, fake.handle);
  EXPECT_THAT(fake.Names(), ElementsAre("CreateFileA", "GetCommState", "SetCommTimeouts",
                                        "SetCommState", "SetupComm"));
  const auto create = fake.CallsOf("CreateFileA").at(0);
  EXPECT_EQ(create.text, "COM1");
  // GENERIC_READ | GENERIC_WRITE, share mode 0, no security, OPEN_EXISTING,
  // no flags, no template.
  EXPECT_THAT(create.args, ElementsAre(0xC0000000, 0, 0, 3, 0, 0));
  EXPECT_EQ(fake.CallsOf("GetCommState").at(0).args.at(1), 28);
  EXPECT_THAT(fake.CallsOf("SetCommTimeouts").at(0).args, ElementsAre(0x5A, 0, 0, 1000, 0, 0));
  EXPECT_THAT(fake.CallsOf("SetupComm").at(0).args, ElementsAre(0x5A, 1200, 1200));

  const DCB& dcb = fake.lastSetState;
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fParity, 1u);
  EXPECT_EQ(static_cast<uint8_t>(dcb.ErrorChar), 0xFC);
  EXPECT_EQ(dcb.fErrorChar, 0u);
  // Fields the driver has no say in keep the device's values.
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.XonChar, 0x11);
}

TEST_F(SerialTest, OpenTakesTheLowByteOfEachSetting) {
  ASSERT_EQ(Open("COM2", kDefaultLineControlFlags, {0x2580, 0x0107, 0x0202, 0x0301}), kComOk);
  EXPECT_EQ(fake.lastSetState.BaudRate, 0x2580u);
  EXPECT_EQ(fake.lastSetState.ByteSize, 7);
  EXPECT_EQ(fake.lastSetState.StopBits, TWOSTOPBITS);
  EXPECT_EQ(fake.lastSetState.Parity, ODDPARITY);
}

TEST_F(SerialTest, NullDeviceIsTakenWithoutConfiguration) {
  ASSERT_EQ(Open("NUL"), kComOk);
  EXPECT_EQ(handle, fake.handle);
  EXPECT_THAT(fake.Names(), ElementsAre("CreateFileA"));
}

TEST_F(SerialTest, LowerCaseNulIsAnOrdinaryDevice) {
  fake.FailAlways("GetCommState");  // as the null device answers
  EXPECT_EQ(Open("nul"), kComNotSerial);
  EXPECT_THAT(fake.Names(), ElementsAre("CreateFileA", "GetCommState", "CloseHandle"));
}

TEST_F(SerialTest, FailedOpenLeavesNothingToClose) {
  fake.FailCall("CreateFileA");
  EXPECT_EQ(Open("COM9"), kComOpenFailed);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_THAT(fake.Names(), ElementsAre("CreateFileA"));
}

TEST_F(SerialTest, RefusedTimeoutsOrSettingsCloseThePort) {
  fake.FailCall("SetCommTimeouts");
  EXPECT_EQ(Open("COM1"), kComOpenFailed);
  EXPECT_THAT(fake.Names(),
              ElementsAre("CreateFileA", "GetCommState", "SetCommTimeouts", "CloseHandle"));

  fake.calls.clear();
  fake.FailCall("SetCommState");
  EXPECT_EQ(Open("COM1"), kComSettingsRefused);
  EXPECT_THAT(fake.Names(), ElementsAre("CreateFileA", "GetCommState", "SetCommTimeouts",
                                        "SetCommState", "CloseHandle"));
}

TEST_F(SerialTest, FlagsZeroLeaveTheDeviceAsItWas) {
  ASSERT_EQ(Open("COM1", 0), kComOk);
  EXPECT_THAT(fake.Names(), ElementsAre("CreateFileA", "GetCommState"));
}

TEST_F(SerialTest, ParityNoneKeepsTheParityFlagTheDeviceReported) {
  fake.dcb.fParity = 1;
  ASSERT_EQ(Open("COM1", kDefaultLineControlFlags, {9600, 8, 0, 0}), kComOk);
  EXPECT_EQ(fake.lastSetState.fParity, 1u);
  fake.dcb.fParity = 0;
  ASSERT_EQ(Open("COM1", kDefaultLineControlFlags, {9600, 8, 0, 0}), kComOk);
  EXPECT_EQ(fake.lastSetState.fParity, 0u);
}

struct FlagCase {
  uint16_t flags;
  unsigned dtr, rts, cts, dsr, dsrSensitivity;
};

class LineControlFlagsTest : public SerialTest, public ::testing::WithParamInterface<FlagCase> {};

// The device reports DTR and RTS disabled (0) and no handshaking, except in
// the row that shows a group keeping the device's value.
TEST_P(LineControlFlagsTest, GroupsApplyTheirFirstMatchingRow) {
  const FlagCase& c = GetParam();
  ASSERT_EQ(Open("COM1", c.flags), kComOk);
  const DCB& dcb = fake.lastSetState;
  EXPECT_EQ(dcb.fDtrControl, c.dtr);
  EXPECT_EQ(dcb.fRtsControl, c.rts);
  EXPECT_EQ(dcb.fOutxCtsFlow, c.cts);
  EXPECT_EQ(dcb.fOutxDsrFlow, c.dsr);
  EXPECT_EQ(dcb.fDsrSensitivity, c.dsrSensitivity);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, LineControlFlagsTest,
    ::testing::Values(FlagCase{0x0303, 1, 1, 0, 0, 0}, FlagCase{0x0001, 1, 0, 0, 0, 0},
                      FlagCase{0x0100, 1, 0, 0, 0, 0}, FlagCase{0x8000, 2, 0, 0, 0, 0},
                      FlagCase{0x8101, 1, 0, 0, 0, 0}, FlagCase{0x0200, 0, 1, 0, 0, 0},
                      FlagCase{0x1000, 0, 2, 0, 0, 0}, FlagCase{0x2000, 0, 3, 0, 0, 0},
                      FlagCase{0x3000, 0, 2, 0, 0, 0}, FlagCase{0x0010, 0, 0, 1, 0, 0},
                      FlagCase{0x0020, 0, 0, 0, 1, 0}, FlagCase{0x0030, 0, 0, 1, 0, 0},
                      FlagCase{0x4000, 0, 0, 0, 0, 1}, FlagCase{0x4020, 0, 0, 0, 1, 0}));

TEST_F(SerialTest, HandshakeFlagsOnlyEverSetAField) {
  fake.dcb.fOutxCtsFlow = 1;
  fake.dcb.fDsrSensitivity = 1;
  fake.dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  ASSERT_EQ(Open("COM1", 0x0222), kComOk);
  EXPECT_EQ(fake.lastSetState.fOutxCtsFlow, 1u);
  EXPECT_EQ(fake.lastSetState.fOutxDsrFlow, 1u);
  EXPECT_EQ(fake.lastSetState.fDsrSensitivity, 1u);
  EXPECT_EQ(fake.lastSetState.fDtrControl, DTR_CONTROL_HANDSHAKE);
}

// ---- ComClose, ComBreak, ComSleep ----------------------------------------

TEST_F(SerialTest, CloseReportsAFailedClose) {
  EXPECT_EQ(ComClose(fake.handle), kComOk);
  fake.FailCall("CloseHandle");
  EXPECT_EQ(ComClose(fake.handle), kComIoFailed);
}

TEST_F(SerialTest, BreakHoldsTheLineAndIgnoresFailures) {
  fake.FailAlways("SetCommBreak");
  fake.FailAlways("ClearCommBreak");
  EXPECT_EQ(ComBreak(250, fake.handle), kComOk);
  EXPECT_THAT(fake.Names(), ElementsAre("SetCommBreak", "Sleep", "ClearCommBreak"));
  EXPECT_EQ(fake.CallsOf("Sleep").at(0).args.at(0), 250);
  EXPECT_EQ(ComSleep(7), kComOk);
  EXPECT_EQ(fake.nowMs, 257);
}

// ---- ComSetReadTimeout -----------------------------------------------------

struct TimeoutCase {
  DWORD currentMs;
  int32_t argument;
  bool sets;
  DWORD newMs;
  int32_t result;
};

class ReadTimeoutTest : public SerialTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(ReadTimeoutTest, SetsTheConstantAndReportsThePreviousOne) {
  const TimeoutCase& c = GetParam();
  fake.timeouts = {0, 0, c.currentMs, 0, 0};
  EXPECT_EQ(ComSetReadTimeout(fake.handle, c.argument), c.result);
  EXPECT_EQ(fake.CallsOf("SetCommTimeouts").size(), c.sets ? 1u : 0u);
  EXPECT_EQ(fake.timeouts.ReadTotalTimeoutConstant, c.sets ? c.newMs : c.currentMs);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, ReadTimeoutTest,
                         ::testing::Values(TimeoutCase{1000, 100, false, 1000, 100},
                                           TimeoutCase{5, 100, true, 1000, 0},
                                           TimeoutCase{1000, 5, true, 50, 100},
                                           TimeoutCase{1009, 5, true, 50, 100},
                                           TimeoutCase{250, 0, true, 0, 25},
                                           // Out of a DWORD's range: held at its ends.
                                           TimeoutCase{1000, -3, true, 0, 100},
                                           TimeoutCase{1000, 0x7FFFFFFF, true, 0xFFFFFFFF, 100}));

TEST_F(SerialTest, SetReadTimeoutKeepsTheOtherFields) {
  fake.timeouts = {7, 8, 1000, 9, 10};
  ComSetReadTimeout(fake.handle, 3);
  EXPECT_THAT(fake.CallsOf("SetCommTimeouts").at(0).args, ElementsAre(0x5A, 7, 8, 30, 9, 10));
}

TEST_F(SerialTest, SetReadTimeoutReportsFailureAsZero) {
  fake.timeouts.ReadTotalTimeoutConstant = 1000;
  fake.FailCall("GetCommTimeouts");
  EXPECT_EQ(ComSetReadTimeout(fake.handle, 5), 0);
  EXPECT_THAT(fake.CallsOf("SetCommTimeouts"), IsEmpty());
  fake.FailCall("SetCommTimeouts");
  EXPECT_EQ(ComSetReadTimeout(fake.handle, 5), 0);
  EXPECT_EQ(fake.timeouts.ReadTotalTimeoutConstant, 1000u);
}

// ---- ComPurgeInput ---------------------------------------------------------

class PurgeTest : public SerialTest {
 protected:
  void Pending(size_t count) { fake.input.assign(count, 0xAA); }
  std::vector<int64_t> ReadSizes() const {
    std::vector<int64_t> sizes;
    for (const auto& call : fake.CallsOf("ReadFile")) {
      sizes.push_back(call.args.at(1));
    }
    return sizes;
  }
  std::vector<int64_t> Constants() const {
    std::vector<int64_t> constants;
    for (const auto& call : fake.CallsOf("SetCommTimeouts")) {
      constants.push_back(call.args.at(3));
    }
    return constants;
  }
};

TEST_F(PurgeTest, NothingPendingCostsOneStatusCall) {
  EXPECT_EQ(ComPurgeInput(fake.handle), kComOk);
  EXPECT_THAT(fake.Names(), ElementsAre("ClearCommError"));
}

TEST_F(PurgeTest, ReadsInChunksUntilAShortOneAndRestoresTheTimeout) {
  fake.timeouts.ReadTotalTimeoutConstant = 1000;
  Pending(1000);
  EXPECT_EQ(ComPurgeInput(fake.handle), kComOk);
  EXPECT_THAT(ReadSizes(), ElementsAre(512, 512));
  EXPECT_THAT(Constants(), ElementsAre(50, 1000));
  EXPECT_THAT(fake.input, IsEmpty());
  EXPECT_EQ(fake.nowMs, 50);  // the short chunk waited out the purge time-out
}

TEST_F(PurgeTest, AnExactMultipleEndsWithAnEmptyRead) {
  fake.timeouts.ReadTotalTimeoutConstant = 1000;
  Pending(1024);
  EXPECT_EQ(ComPurgeInput(fake.handle), kComOk);
  EXPECT_THAT(ReadSizes(), ElementsAre(512, 512, 512));
  EXPECT_THAT(fake.input, IsEmpty());
}

TEST_F(PurgeTest, APreviousTimeoutBelowTenMillisecondsIsNotRestored) {
  fake.timeouts.ReadTotalTimeoutConstant = 5;
  Pending(3);
  EXPECT_EQ(ComPurgeInput(fake.handle), kComOk);
  EXPECT_THAT(Constants(), ElementsAre(50));
  EXPECT_EQ(fake.timeouts.ReadTotalTimeoutConstant, 50u);
}

TEST_F(PurgeTest, AFailedStatusCallStillPurgesAndTheReadDecides) {
  fake.timeouts.ReadTotalTimeoutConstant = 1000;
  fake.FailCall("ClearCommError");
  Pending(10);
  EXPECT_EQ(ComPurgeInput(fake.handle), kComOk);
  EXPECT_THAT(ReadSizes(), ElementsAre(512));
  EXPECT_THAT(Constants(), ElementsAre(50, 1000));

  fake.calls.clear();
  fake.FailCall("ClearCommError");
  EXPECT_EQ(ComPurgeInput(fake.handle), kComOk);  // an empty read succeeded
}

TEST_F(PurgeTest, AFailedReadEndsThePurgeWithFailureAfterRestoring) {
  fake.timeouts.ReadTotalTimeoutConstant = 1000;
  Pending(2000);
  fake.FailCall("ReadFile", 2);
  EXPECT_EQ(ComPurgeInput(fake.handle), kComOpenFailed);
  EXPECT_THAT(ReadSizes(), ElementsAre(512, 512));
  EXPECT_THAT(Constants(), ElementsAre(50, 1000));
}

// ---- ComWrite --------------------------------------------------------------

TEST_F(SerialTest, WriteIsOneCallForTheWholeBuffer) {
  const std::array<uint8_t, 5> frame{0x04, 0x81, 0x85, 0x84, 0x05};
  DWORD written = 99;
  EXPECT_EQ(ComWrite(fake.handle, frame, &written), kComOk);
  EXPECT_EQ(written, 5u);
  EXPECT_THAT(fake.sent, ElementsAreArray(frame));
  EXPECT_THAT(fake.Names(), ElementsAre("WriteFile"));
  EXPECT_EQ(ComWrite(fake.handle, frame, nullptr), kComOk);
}

TEST_F(SerialTest, ShortAndFailedWrites) {
  const std::array<uint8_t, 10> frame{};
  DWORD written = 99;
  fake.writeLimits = {9};
  EXPECT_EQ(ComWrite(fake.handle, frame, &written), kComShortWrite);
  EXPECT_EQ(written, 9u);

  written = 99;
  fake.FailCall("WriteFile");
  EXPECT_EQ(ComWrite(fake.handle, frame, &written), kComIoFailed);
  EXPECT_EQ(written, 99u);  // nothing stored on failure
}

// ---- ComRead ---------------------------------------------------------------

TEST_F(SerialTest, ReadAsksForWhatIsStillWanted) {
  fake.input = {1, 2, 3};
  fake.readLimits = {1, 1, 1};
  std::array<uint8_t, 3> buffer{};
  DWORD got = 99;
  EXPECT_EQ(ComRead(fake.handle, buffer, &got), kComOk);
  EXPECT_EQ(got, 3u);
  EXPECT_THAT(buffer, ElementsAre(1, 2, 3));
  std::vector<int64_t> sizes;
  for (const auto& call : fake.CallsOf("ReadFile")) {
    sizes.push_back(call.args.at(1));
  }
  EXPECT_THAT(sizes, ElementsAre(3, 2, 1));
}

TEST_F(SerialTest, ReadWithNothingArrivingTimesOutOnce) {
  fake.timeouts.ReadTotalTimeoutConstant = 200;
  std::array<uint8_t, 1> buffer{};
  DWORD got = 99;
  EXPECT_EQ(ComRead(fake.handle, buffer, &got), kComIoFailed);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(fake.CallsOf("ReadFile").size(), 1u);
  EXPECT_EQ(fake.nowMs, 200);
}

TEST_F(SerialTest, ReadStopsAtTheFirstEmptyOrFailedCall) {
  fake.input = {1, 2};
  fake.readLimits = {1};
  std::array<uint8_t, 4> buffer{};
  DWORD got = 0;
  EXPECT_EQ(ComRead(fake.handle, buffer, &got), kComIoFailed);  // 1, then 1, then nothing
  EXPECT_EQ(got, 2u);

  fake.input = {5};
  fake.FailCall("ReadFile", 2);
  EXPECT_EQ(ComRead(fake.handle, buffer, &got), kComIoFailed);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(ComRead(fake.handle, buffer, nullptr), kComIoFailed);
}

TEST_F(SerialTest, ReadRefusesMoreThanASixteenBitCount) {
  std::vector<uint8_t> buffer(0x10000);
  fake.input.assign(0x10000, 1);
  EXPECT_EQ(ComRead(fake.handle, buffer, nullptr), kComIoFailed);
  EXPECT_THAT(fake.CallsOf("ReadFile"), IsEmpty());
}

}  // namespace
}  // namespace lorvant::serial
