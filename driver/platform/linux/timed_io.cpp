// ReadFile, WriteFile, their time-outs, and ClearCommError.
//
// Descriptors stay non-blocking; every wait is a poll() bounded by the time
// left on the monotonic clock. A wait lasts at most kPollSliceMs at a time,
// so that a call still waiting when another thread closes its handle notices
// and gives up. A device that goes away (a hung-up tty, a pty whose master
// closed) ends the call with FALSE, never with a hang or a busy loop.

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "platform/linux/clock_sleep.h"
#include "platform/linux/handles.h"
#include "platform/linux/win32_linux.h"

namespace lorvant::win32 {
namespace {

using internal::PortUse;

constexpr int kPollSliceMs = 250;
constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
// The most one read() or write() is asked to move.
constexpr DWORD kMaxChunk = DWORD{1} << 30;
constexpr short kGoneEvents = POLLHUP | POLLERR | POLLNVAL;

// A point milliseconds after start on the monotonic clock; kNever when that is
// beyond any wait.
int64_t After(int64_t start, uint64_t milliseconds) {
  const auto limit = static_cast<uint64_t>((kNever - start) / kNsPerMs);
  if (milliseconds >= limit) {
    return kNever;
  }
  return start + (static_cast<int64_t>(milliseconds) * kNsPerMs);
}

// The time limit of a whole transfer: multiplier × count + constant
// milliseconds from start, or kNever when both are 0.
int64_t TotalDeadline(int64_t start, DWORD multiplier, DWORD constant, DWORD count) {
  if (multiplier == 0 && constant == 0) {
    return kNever;
  }
  return After(start, (uint64_t{multiplier} * count) + constant);
}

enum class Wait : uint8_t {
  kReady,     // the awaited event is there
  kTimedOut,  // the deadline passed first
  kGone,      // the device hung up or went away
  kAborted,   // the handle was closed by another thread
  kFailed,    // poll() itself failed; errno tells
};

// Waits until the device shows events, the deadline passes or the device
// goes away. Polls at least once, also when the deadline has passed.
Wait WaitFor(const PortUse& port, short events, int64_t deadline) {
  for (;;) {
    if (port.Abandoned()) {
      return Wait::kAborted;
    }
    const int64_t now = internal::MonotonicNs();
    int timeoutMs = kPollSliceMs;
    if (deadline != kNever) {
      const int64_t left = deadline > now ? deadline - now : 0;
      timeoutMs =
          static_cast<int>(std::min<int64_t>((left + kNsPerMs - 1) / kNsPerMs, kPollSliceMs));
    }
    pollfd watched{port.Fd(), events, 0};
    const int ready = poll(&watched, 1, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Wait::kFailed;
    }
    if ((watched.revents & events) != 0) {
      return Wait::kReady;
    }
    if ((watched.revents & kGoneEvents) != 0) {
      return Wait::kGone;
    }
    if (ready == 0 && timeoutMs == 0) {
      return Wait::kTimedOut;
    }
  }
}

// The error a wait that did not end in kReady or kTimedOut stands for.
DWORD WaitError(Wait wait, int error) {
  switch (wait) {
    case Wait::kAborted:
      return ERROR_OPERATION_ABORTED;
    case Wait::kFailed:
      return internal::ErrorFromErrno(error);
    default:
      return ERROR_DEVICE_NOT_CONNECTED;
  }
}

// The end of a read: what arrived before a failure is handed over (TRUE),
// and the failure, which lasts, is reported by the next call.
BOOL EndRead(DWORD got, DWORD error, LPDWORD transferred) {
  *transferred = got;
  return got > 0 ? TRUE : internal::Fail(error);
}

// ReadFile on a terminal, with the time-outs as Win32 defines them for a
// serial port:
//   interval MAXDWORD, multiplier 0, constant 0: what is there, at once;
//   interval MAXDWORD, multiplier MAXDWORD, 0 < constant < MAXDWORD: what is
//     there, else the first bytes to arrive within constant ms;
//   otherwise: until count bytes are in, multiplier × count + constant ms
//     have passed (when either is not 0), or, once a byte is in, interval ms
//     pass without another (when interval is neither 0 nor MAXDWORD).
// A time-out ends the call with TRUE and the bytes in so far, maybe none.
BOOL ReadTerminal(const PortUse& port, uint8_t* buffer, DWORD count, LPDWORD transferred) {
  const COMMTIMEOUTS timeouts = port.Timeouts();
  const int64_t start = internal::MonotonicNs();
  const DWORD interval = timeouts.ReadIntervalTimeout;
  const bool atOnce = interval == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 &&
                      timeouts.ReadTotalTimeoutConstant == 0;
  const bool firstBytes = interval == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
                          timeouts.ReadTotalTimeoutConstant != 0 &&
                          timeouts.ReadTotalTimeoutConstant != MAXDWORD;
  int64_t total = kNever;
  if (atOnce) {
    total = start;
  } else if (firstBytes) {
    total = After(start, timeouts.ReadTotalTimeoutConstant);
  } else {
    total = TotalDeadline(start, timeouts.ReadTotalTimeoutMultiplier,
                          timeouts.ReadTotalTimeoutConstant, count);
  }
  const bool intervalTimed = interval != 0 && interval != MAXDWORD;

  DWORD got = 0;
  int64_t lastByte = start;
  for (;;) {
    int64_t deadline = total;
    if (intervalTimed && got > 0) {
      deadline = std::min(deadline, After(lastByte, interval));
    }
    const Wait wait = WaitFor(port, POLLIN, deadline);
    if (wait == Wait::kTimedOut) {
      *transferred = got;
      return TRUE;
    }
    if (wait != Wait::kReady) {
      return EndRead(got, WaitError(wait, errno), transferred);
    }
    const ssize_t n = read(port.Fd(), buffer + got, std::min(count - got, kMaxChunk));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    // Readable, yet no byte: a hung-up tty reads 0, a pty without its master
    // fails with EIO. Never a time-out to wait out again.
    if (n <= 0) {
      return EndRead(got, n == 0 ? ERROR_DEVICE_NOT_CONNECTED : internal::ErrorFromErrno(errno),
                     transferred);
    }
    got += static_cast<DWORD>(n);
    lastByte = internal::MonotonicNs();
    if (got == count || atOnce || firstBytes) {
      *transferred = got;
      return TRUE;
    }
  }
}

// ReadFile on anything else (/dev/null, a plain file): one plain read.
BOOL ReadOther(const PortUse& port, uint8_t* buffer, DWORD count, LPDWORD transferred) {
  for (;;) {
    const ssize_t n = read(port.Fd(), buffer, std::min(count, kMaxChunk));
    if (n >= 0) {
      *transferred = static_cast<DWORD>(n);
      return TRUE;
    }
    if (errno == EAGAIN) {  // a pipe or socket with nothing in it yet
      *transferred = 0;
      return TRUE;
    }
    if (errno != EINTR) {
      return EndRead(0, internal::ErrorFromErrno(errno), transferred);
    }
  }
}

// WriteFile: everything, waiting for room as long as it takes, or, when the
// write time-outs are set, until multiplier × count + constant ms have passed;
// then TRUE with what was written, as Win32 does.
BOOL WriteAll(const PortUse& port, const uint8_t* buffer, DWORD count, LPDWORD transferred) {
  const COMMTIMEOUTS timeouts = port.Timeouts();
  const int64_t deadline =
      TotalDeadline(internal::MonotonicNs(), timeouts.WriteTotalTimeoutMultiplier,
                    timeouts.WriteTotalTimeoutConstant, count);
  DWORD written = 0;
  bool roomSeen = false;  // poll() has just said there is room
  while (written < count) {
    const ssize_t n = write(port.Fd(), buffer + written, std::min(count - written, kMaxChunk));
    if (n > 0) {
      written += static_cast<DWORD>(n);
      roomSeen = false;
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if ((n < 0 && errno != EAGAIN) || (n == 0 && roomSeen)) {
      *transferred = written;
      return internal::Fail(n == 0 ? ERROR_GEN_FAILURE : internal::ErrorFromErrno(errno));
    }
    const Wait wait = WaitFor(port, POLLOUT, deadline);
    if (wait == Wait::kTimedOut) {
      break;
    }
    if (wait != Wait::kReady) {
      *transferred = written;
      return internal::Fail(WaitError(wait, errno));
    }
    roomSeen = true;
  }
  *transferred = written;
  return TRUE;
}

// The arguments of a transfer as Win32 requires them: no overlapped I/O, a
// count to report to, a buffer unless nothing is to move. Sets the error
// when they are not.
bool TransferArguments(const void* buffer, DWORD count, const DWORD* transferred,
                       LPOVERLAPPED overlapped) {
  if (transferred == nullptr || overlapped != nullptr || (buffer == nullptr && count > 0)) {
    internal::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD transferred,
              LPOVERLAPPED overlapped) {
  if (transferred != nullptr) {
    *transferred = 0;
  }
  const PortUse port(handle);
  if (!port.Valid() || !TransferArguments(buffer, count, transferred, overlapped)) {
    return FALSE;
  }
  if (count == 0) {
    return TRUE;
  }
  auto* bytes = static_cast<uint8_t*>(buffer);
  return port.Dev().terminal ? ReadTerminal(port, bytes, count, transferred)
                             : ReadOther(port, bytes, count, transferred);
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD transferred,
               LPOVERLAPPED overlapped) {
  if (transferred != nullptr) {
    *transferred = 0;
  }
  const PortUse port(handle);
  if (!port.Valid() || !TransferArguments(buffer, count, transferred, overlapped)) {
    return FALSE;
  }
  return WriteAll(port, static_cast<const uint8_t*>(buffer), count, transferred);
}

BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  const PortUse port(handle);
  if (!port.RequireTerminal()) {
    return FALSE;
  }
  if (timeouts == nullptr) {
    return internal::Fail(ERROR_INVALID_PARAMETER);
  }
  *timeouts = port.Timeouts();
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  const PortUse port(handle);
  if (!port.RequireTerminal()) {
    return FALSE;
  }
  // Win32 refuses the one setting that would make every read wait for ever
  // and return at once at the same time.
  if (timeouts == nullptr || (timeouts->ReadIntervalTimeout == MAXDWORD &&
                              timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                              timeouts->ReadTotalTimeoutConstant == MAXDWORD)) {
    return internal::Fail(ERROR_INVALID_PARAMETER);
  }
  port.SetTimeouts(*timeouts);
  return TRUE;
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  const PortUse port(handle);
  if (!port.RequireTerminal()) {
    return FALSE;
  }
  // A device that has gone away must not look like one with an output queue
  // still draining, or a caller waiting for it would wait for ever.
  pollfd watched{port.Fd(), POLLIN | POLLOUT, 0};
  int ready = 0;
  do {
    ready = poll(&watched, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    return internal::Fail(internal::ErrorFromErrno(errno));
  }
  if ((watched.revents & kGoneEvents) != 0) {
    return internal::Fail(ERROR_DEVICE_NOT_CONNECTED);
  }
  int in = 0;
  int out = 0;
  if (ioctl(port.Fd(), FIONREAD, &in) != 0 || ioctl(port.Fd(), TIOCOUTQ, &out) != 0) {
    return internal::Fail(internal::ErrorFromErrno(errno));
  }
  // Line errors (framing, parity, overrun, break) are not reported: raw mode
  // hands every byte over as it came, and the kernel keeps no such flags.
  if (errors != nullptr) {
    *errors = 0;
  }
  if (status != nullptr) {
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(std::max(in, 0));
    status->cbOutQue = static_cast<DWORD>(std::max(out, 0));
  }
  return TRUE;
}

}  // namespace lorvant::win32
