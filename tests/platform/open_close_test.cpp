// Exclusive open: a terminal held through the layer is refused to a second
// opener, in this process or another, and free again once closed.

#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/win32_linux.h"
#include "pty_fixture.h"

namespace lorvant::win32::testing {
namespace {

using ExclusiveOpen = PortTest;

TEST_F(ExclusiveOpen, SecondOpenIsRefusedUntilTheFirstCloses) {
  EXPECT_EQ(OpenPort(slavePath_), kInvalidHandle);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  ASSERT_EQ(CloseHandle(port_), TRUE);
  port_ = OpenPort(slavePath_);
  EXPECT_NE(port_, kInvalidHandle) << GetLastError();
}

TEST_F(ExclusiveOpen, AnotherNameOfTheSameDeviceIsRefusedToo) {
  setenv("LORVANT_COM5", slavePath_.c_str(), 1);
  EXPECT_EQ(OpenPort("COM5"), kInvalidHandle);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  unsetenv("LORVANT_COM5");
}

TEST_F(ExclusiveOpen, AnotherProcessIsRefused) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const bool refused =
        OpenPort(slavePath_) == kInvalidHandle && GetLastError() == ERROR_ACCESS_DENIED;
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// TIOCEXCL keeps out programs that do not flock; it must not outlive the
// handle, or nobody but root could open the device afterwards.
TEST_F(ExclusiveOpen, KernelExclusivityEndsWithTheHandle) {
  int exclusive = 0;
  ASSERT_EQ(ioctl(slave_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  ASSERT_EQ(CloseHandle(port_), TRUE);
  port_ = kInvalidHandle;
  ASSERT_EQ(ioctl(slave_, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
}

TEST(NullDevice, IsNotHeldExclusively) {
  HANDLE first = OpenPort("NUL");
  HANDLE second = OpenPort("nul");
  EXPECT_NE(first, kInvalidHandle);
  EXPECT_NE(second, kInvalidHandle);
  EXPECT_NE(first, second);
  EXPECT_EQ(CloseHandle(first), TRUE);
  EXPECT_EQ(CloseHandle(second), TRUE);
}

}  // namespace
}  // namespace lorvant::win32::testing
