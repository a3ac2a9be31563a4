// Sleep and the millisecond clock, on CLOCK_MONOTONIC: neither jumps when the
// wall clock is set.

#include "platform/linux/clock_sleep.h"

#include <sched.h>
#include <time.h>  // NOLINT(modernize-deprecated-headers): clock_nanosleep is POSIX

#include <cerrno>

#include "platform/linux/win32_linux.h"

namespace lorvant::win32 {
namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int64_t kNsPerMs = 1'000'000;

}  // namespace

namespace internal {

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t{now.tv_sec} * kNsPerSecond) + now.tv_nsec;
}

}  // namespace internal

// Sleeps until a point on the monotonic clock, so that signals that interrupt
// the sleep neither cut it short nor stretch it.
void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();  // Win32: give up the rest of the time slice
    return;
  }
  const int64_t until = internal::MonotonicNs() + (static_cast<int64_t>(milliseconds) * kNsPerMs);
  timespec deadline{};
  deadline.tv_sec = until / kNsPerSecond;
  deadline.tv_nsec = until % kNsPerSecond;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

int64_t ClockMs() {
  static const int64_t origin = internal::MonotonicNs();
  return (internal::MonotonicNs() - origin) / kNsPerMs;
}

}  // namespace lorvant::win32
