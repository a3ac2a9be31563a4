// Sleep and the millisecond clock.

#include <sys/time.h>
#include <csignal>

#include <gtest/gtest.h>

#include "platform/linux/win32_linux.h"
#include "pty_fixture.h"

namespace lorvant::win32::testing {
namespace {

TEST(Sleep, LastsAtLeastItsTimeOnBothClocks) {
  const int64_t before = ClockMs();
  const auto start = Clock::now();
  Sleep(60);
  EXPECT_GE(Clock::now() - start, milliseconds(60));
  EXPECT_GE(ClockMs() - before, 60);
}

void Ignore(int /*signal*/) {}

// Signals that interrupt the sleep (a handler installed without SA_RESTART,
// firing every 5 ms) neither cut it short nor make it last for ever.
TEST(Sleep, SignalsDoNotCutItShort) {
  struct sigaction action {};
  action.sa_handler = &Ignore;
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  const itimerval every5ms{{0, 5000}, {0, 5000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every5ms, nullptr), 0);

  const auto start = Clock::now();
  Sleep(100);
  const auto elapsed = Clock::now() - start;

  const itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_GE(elapsed, milliseconds(100));
  EXPECT_LT(elapsed, milliseconds(5000));
}

}  // namespace
}  // namespace lorvant::win32::testing
