// Line settings: DCBs applied to and read back from pseudo-terminals, the
// settings refused, and the raw mode every port is put in.

#include <termios.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <utility>

#include "platform/linux/win32_linux.h"
#include "pty_fixture.h"

namespace lorvant::win32::testing {
namespace {

using LineSettings = PortTest;

TEST_F(LineSettings, FreshPortReportsWindowsLikeDefaults) {
  DCB dcb{};
  dcb.DCBlength = 99;  // whatever the caller says, it keeps
  ASSERT_EQ(GetCommState(port_, &dcb), TRUE);
  EXPECT_EQ(dcb.DCBlength, 99U);
  EXPECT_EQ(dcb.BaudRate, 38400U);  // a new pseudo-terminal's rate
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.fBinary, 1U);
  EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
  EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  // A new terminal has XON/XOFF on; a port taken over in the serial
  // functions' get-change-set way must not inherit it, or 0x11 and 0x13
  // would vanish from the data.
  EXPECT_EQ(dcb.fOutX, 0U);
  EXPECT_EQ(dcb.fInX, 0U);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0U);
}

// The serial functions apply 9600 baud, 8 data bits, even parity, one stop
// bit at every open. A pseudo-terminal holds no parity, which must not make
// the second application, or the one after reopening, fail.
TEST_F(LineSettings, EvenParityAppliesAgainAndAgain) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Apply(9600, 8, EVENPARITY, ONESTOPBIT), TRUE) << "round " << round;
  }
  ASSERT_EQ(CloseHandle(port_), TRUE);
  port_ = OpenPort(slavePath_);
  ASSERT_NE(port_, kInvalidHandle);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Apply(9600, 8, EVENPARITY, ONESTOPBIT), TRUE) << "reopened, round " << round;
  }
  const termios settings = SlaveSettings();
  EXPECT_EQ(cfgetospeed(&settings), B9600);
}

struct Line {
  DWORD baud;
  BYTE byteSize;
  BYTE parity;
  BYTE stopBits;
};

void PrintTo(const Line& line, std::ostream* out) {
  *out << line.baud << " " << int{line.byteSize} << "/" << int{line.parity} << "/"
       << int{line.stopBits};
}

class AcceptedLines : public PortTest, public ::testing::WithParamInterface<Line> {};

TEST_P(AcceptedLines, ReadBackAsApplied) {
  const Line line = GetParam();
  ASSERT_EQ(Apply(line.baud, line.byteSize, line.parity, line.stopBits), TRUE) << GetLastError();
  DCB dcb{};
  ASSERT_EQ(GetCommState(port_, &dcb), TRUE);
  EXPECT_EQ(dcb.BaudRate, line.baud);
  EXPECT_EQ(dcb.ByteSize, line.byteSize);
  EXPECT_EQ(dcb.Parity, line.parity);
  EXPECT_EQ(dcb.StopBits, line.stopBits);
  // What the kernel holds: stop bits are a pseudo-terminal's to keep.
  EXPECT_EQ((SlaveSettings().c_cflag & CSTOPB) != 0, line.stopBits != ONESTOPBIT);
}

INSTANTIATE_TEST_SUITE_P(
    Pty, AcceptedLines,
    ::testing::Values(Line{9600, 8, EVENPARITY, ONESTOPBIT}, Line{19200, 7, ODDPARITY, TWOSTOPBITS},
                      Line{115200, 8, NOPARITY, TWOSTOPBITS}, Line{300, 5, NOPARITY, ONE5STOPBITS},
                      Line{38400, 6, MARKPARITY, ONESTOPBIT},
                      Line{1200, 8, SPACEPARITY, ONESTOPBIT},
                      Line{250000, 8, NOPARITY, ONESTOPBIT},  // no speed_t constant: by number
                      Line{31250, 8, NOPARITY, ONESTOPBIT},
                      Line{4000000, 8, NOPARITY, ONESTOPBIT}));

struct Refused {
  const char* label;
  std::function<void(DCB&)> change;
  DWORD error;
};

TEST_F(LineSettings, RefusedSettingsLeaveTheLineAsItWas) {
  ASSERT_EQ(Apply(19200, 8, NOPARITY, ONESTOPBIT), TRUE);
  const std::array cases = {
      Refused{"4 data bits", [](DCB& d) { d.ByteSize = 4; }, ERROR_INVALID_PARAMETER},
      Refused{"9 data bits", [](DCB& d) { d.ByteSize = 9; }, ERROR_INVALID_PARAMETER},
      Refused{"0 data bits", [](DCB& d) { d.ByteSize = 0; }, ERROR_INVALID_PARAMETER},
      Refused{"parity 5", [](DCB& d) { d.Parity = 5; }, ERROR_INVALID_PARAMETER},
      Refused{"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; },
              ERROR_INVALID_PARAMETER},
      Refused{"2 stop bits with 5 data bits",
              [](DCB& d) {
                d.ByteSize = 5;
                d.StopBits = TWOSTOPBITS;
              },
              ERROR_INVALID_PARAMETER},
      Refused{"stop bits 3", [](DCB& d) { d.StopBits = 3; }, ERROR_INVALID_PARAMETER},
      Refused{"baud 0", [](DCB& d) { d.BaudRate = 0; }, ERROR_INVALID_PARAMETER},
      Refused{"XON same as XOFF",
              [](DCB& d) {
                d.fOutX = 1;
                d.XonChar = d.XoffChar;
              },
              ERROR_INVALID_PARAMETER},
      Refused{"DTR handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
              ERROR_NOT_SUPPORTED},
      Refused{"RTS toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; },
              ERROR_NOT_SUPPORTED},
      Refused{"DSR output flow", [](DCB& d) { d.fOutxDsrFlow = 1; }, ERROR_NOT_SUPPORTED},
      Refused{"DSR sensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }, ERROR_NOT_SUPPORTED},
  };
  for (const Refused& c : cases) {
    DCB dcb{};
    ASSERT_EQ(GetCommState(port_, &dcb), TRUE);
    dcb.BaudRate = 57600;
    c.change(dcb);
    EXPECT_EQ(SetCommState(port_, &dcb), FALSE) << c.label;
    EXPECT_EQ(GetLastError(), c.error) << c.label;
    DCB after{};
    ASSERT_EQ(GetCommState(port_, &after), TRUE);
    EXPECT_EQ(after.BaudRate, 19200U) << c.label;
  }
}

// Every byte must reach the reader as it arrived, parity or not: nothing
// translated, marked, stripped or zeroed, no echo, no special characters.
struct Flag {
  tcflag_t bit;
  const char* name;
};

void ExpectRaw(const termios& settings) {
  constexpr std::array<Flag, 10> kInputFlags = {{{INPCK, "INPCK"},
                                                 {PARMRK, "PARMRK"},
                                                 {ISTRIP, "ISTRIP"},
                                                 {IGNPAR, "IGNPAR"},
                                                 {ICRNL, "ICRNL"},
                                                 {INLCR, "INLCR"},
                                                 {IGNCR, "IGNCR"},
                                                 {IXON, "IXON"},
                                                 {IXOFF, "IXOFF"},
                                                 {BRKINT, "BRKINT"}}};
  for (const Flag& flag : kInputFlags) {
    EXPECT_EQ(settings.c_iflag & flag.bit, 0U) << flag.name;
  }
  EXPECT_EQ(settings.c_oflag & OPOST, 0U);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0U);
  EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
  EXPECT_EQ(settings.c_cc[VMIN], 0);
  EXPECT_EQ(settings.c_cc[VTIME], 0);
}

// Everything raw mode turns off, turned on through the test's own descriptor.
void MakeCooked(int fd) {
  termios settings{};
  ASSERT_EQ(tcgetattr(fd, &settings), 0);
  settings.c_iflag |=
      INPCK | PARMRK | ISTRIP | IGNPAR | ICRNL | INLCR | IGNCR | IXON | IXOFF | BRKINT;
  settings.c_oflag |= OPOST;
  settings.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  settings.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 5;
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &settings), 0);
}

using RawMode = PtyTest;

TEST_F(RawMode, OpeningAndApplyingBothMakeTheTerminalRaw) {
  MakeCooked(slave_);
  HANDLE port = OpenPort(slavePath_);
  ASSERT_NE(port, kInvalidHandle);
  {
    SCOPED_TRACE("as opened");
    ExpectRaw(SlaveSettings());
  }
  MakeCooked(slave_);
  DCB dcb{};
  ASSERT_EQ(GetCommState(port, &dcb), TRUE);
  dcb.BaudRate = 9600;
  dcb.Parity = EVENPARITY;
  dcb.fParity = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  ASSERT_EQ(SetCommState(port, &dcb), TRUE);
  {
    SCOPED_TRACE("with 8E1 applied");
    ExpectRaw(SlaveSettings());
  }
  EXPECT_EQ(CloseHandle(port), TRUE);
}

TEST_F(LineSettings, FlowControlIsAppliedAndReported) {
  DCB dcb{};
  ASSERT_EQ(GetCommState(port_, &dcb), TRUE);
  dcb.fOutxCtsFlow = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  ASSERT_EQ(SetCommState(port_, &dcb), TRUE);
  const termios settings = SlaveSettings();
  EXPECT_NE(settings.c_cflag & CRTSCTS, 0U);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

  DCB after{};
  ASSERT_EQ(GetCommState(port_, &after), TRUE);
  EXPECT_EQ(after.fOutxCtsFlow, 1U);
  EXPECT_EQ(after.fOutX, 1U);
  EXPECT_EQ(after.fInX, 1U);

  dcb.fOutxCtsFlow = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  ASSERT_EQ(SetCommState(port_, &dcb), TRUE);
  EXPECT_EQ(SlaveSettings().c_cflag & CRTSCTS, 0U);
  EXPECT_EQ(SlaveSettings().c_iflag & (IXON | IXOFF), 0U);
}

TEST_F(LineSettings, QueueSizesAreAccepted) {
  EXPECT_EQ(SetupComm(port_, 1200, 1200), TRUE);
}

// The null device is no communications device: the serial functions tell a
// port from "NUL" by GetCommState failing.
TEST(NotATerminal, CommunicationsCallsFail) {
  HANDLE port = OpenPort("NUL");
  ASSERT_NE(port, kInvalidHandle);
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  COMSTAT status{};
  const std::array<std::pair<const char*, std::function<BOOL()>>, 9> calls = {{
      {"GetCommState", [&] { return GetCommState(port, &dcb); }},
      {"SetCommState", [&] { return SetCommState(port, &dcb); }},
      {"GetCommTimeouts", [&] { return GetCommTimeouts(port, &timeouts); }},
      {"SetCommTimeouts", [&] { return SetCommTimeouts(port, &timeouts); }},
      {"SetupComm", [&] { return SetupComm(port, 1200, 1200); }},
      {"ClearCommError", [&] { return ClearCommError(port, nullptr, &status); }},
      {"EscapeCommFunction", [&] { return EscapeCommFunction(port, SETRTS); }},
      {"SetCommBreak", [&] { return SetCommBreak(port); }},
      {"ClearCommBreak", [&] { return ClearCommBreak(port); }},
  }};
  for (const auto& [name, run] : calls) {
    EXPECT_EQ(run(), FALSE) << name;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION) << name;
  }
  EXPECT_EQ(CloseHandle(port), TRUE);
}

}  // namespace
}  // namespace lorvant::win32::testing
