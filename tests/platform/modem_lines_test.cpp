// Modem lines, break and software flow control on a pseudo-terminal, which
// has a break and flow control but no modem lines.

#include <gtest/gtest.h>

#include <array>

#include "platform/linux/win32_linux.h"
#include "pty_fixture.h"

namespace lorvant::win32::testing {
namespace {

struct Escape {
  const char* label;
  DWORD function;
  BOOL result;
  DWORD error;  // after FALSE
};

using ModemLines = PortTest;

TEST_F(ModemLines, EscapeFunctionsOnAPseudoTerminal) {
  const std::array cases = {
      // The kernel refuses TIOCMBIS/TIOCMBIC on a pty (ENOTTY).
      Escape{"SETRTS", SETRTS, FALSE, ERROR_NOT_SUPPORTED},
      Escape{"CLRRTS", CLRRTS, FALSE, ERROR_NOT_SUPPORTED},
      Escape{"SETDTR", SETDTR, FALSE, ERROR_NOT_SUPPORTED},
      Escape{"CLRDTR", CLRDTR, FALSE, ERROR_NOT_SUPPORTED},
      Escape{"SETBREAK", SETBREAK, TRUE, ERROR_SUCCESS},
      Escape{"CLRBREAK", CLRBREAK, TRUE, ERROR_SUCCESS},
      Escape{"SETXOFF", SETXOFF, TRUE, ERROR_SUCCESS},
      Escape{"SETXON", SETXON, TRUE, ERROR_SUCCESS},
      Escape{"0", 0, FALSE, ERROR_INVALID_PARAMETER},
      Escape{"RESETDEV (7)", 7, FALSE, ERROR_INVALID_PARAMETER},
      Escape{"10", 10, FALSE, ERROR_INVALID_PARAMETER},
      Escape{"MAXDWORD", MAXDWORD, FALSE, ERROR_INVALID_PARAMETER},
  };
  for (const Escape& c : cases) {
    EXPECT_EQ(EscapeCommFunction(port_, c.function), c.result) << c.label;
    if (c.result == FALSE) {
      EXPECT_EQ(GetLastError(), c.error) << c.label;
    }
  }
  EXPECT_EQ(SetCommBreak(port_), TRUE);
  EXPECT_EQ(ClearCommBreak(port_), TRUE);
}

// SETXOFF holds transmission as a received XOFF would; SETXON lets it go on.
TEST_F(ModemLines, XoffHoldsOutputUntilXon) {
  COMMTIMEOUTS timeouts{0, 0, 0, 0, 100};
  ASSERT_EQ(SetCommTimeouts(port_, &timeouts), TRUE);
  StartHangGuard();
  ASSERT_EQ(EscapeCommFunction(port_, SETXOFF), TRUE);
  DWORD written = 0xDEAD;
  EXPECT_EQ(WriteFile(port_, "held", 4, &written, nullptr), TRUE);
  EXPECT_EQ(written, 0U);
  EXPECT_TRUE(MasterRead(1, milliseconds(100)).empty());

  ASSERT_EQ(EscapeCommFunction(port_, SETXON), TRUE);
  EXPECT_EQ(WriteFile(port_, "sent", 4, &written, nullptr), TRUE);
  EXPECT_EQ(written, 4U);
  EXPECT_EQ(MasterRead(4), BytesOf("sent"));
}

}  // namespace
}  // namespace lorvant::win32::testing
