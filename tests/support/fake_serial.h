// A scripted stand-in for the Win32 communications calls.
//
// While a FakeSerial lives, the driver's seam points at it. It models one
// device (its DCB, its time-outs, the bytes it has received, what it was
// sent) and a clock that only moves when the driver sleeps or a read waits
// out its time-out. Every call is recorded with its arguments, and any call
// can be made to fail on cue, so tests can check exact call sequences.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serial/syscalls.h"

namespace lorvant::testing {

struct FakeCall {
  std::string name;
  std::vector<int64_t> args;  // the call's integer arguments, in order
  std::string text;           // CreateFileA: the name; WriteFile: the bytes written
};

class FakeSerial {
 public:
  FakeSerial();
  ~FakeSerial();
  FakeSerial(const FakeSerial&) = delete;
  FakeSerial& operator=(const FakeSerial&) = delete;
  FakeSerial(FakeSerial&&) = delete;
  FakeSerial& operator=(FakeSerial&&) = delete;

  // The device.
  HANDLE handle = reinterpret_cast<HANDLE>(0x5A);  // what CreateFileA hands out
  DCB dcb{};                                       // what GetCommState reports
  COMMTIMEOUTS timeouts{};                         // what GetCommTimeouts reports
  std::deque<uint8_t> input;                       // received, not yet read
  std::vector<uint8_t> sent;                       // every byte written
  std::deque<DWORD> outQueue;                      // cbOutQue of successive status calls; 0 after
  std::deque<DWORD> readLimits;                    // at most this many bytes for successive reads
  std::deque<DWORD> writeLimits;                   // at most this many bytes for successive writes
  std::function<void(std::span<const uint8_t>)> onWrite;  // the instrument's side
  int64_t nowMs = 0;                                      // the fake clock
  std::deque<int64_t>
      sleepAdvance;  // how far successive sleeps move the clock; the slept time after
  std::vector<FakeCall> calls;

  // The n-th next call of the named function (1: the next one) fails.
  void FailCall(std::string_view name, int nth = 1);
  // Every call of the named function fails from now on.
  void FailAlways(std::string_view name);

  // The names of the recorded calls, in order.
  [[nodiscard]] std::vector<std::string> Names() const;
  // The recorded calls of one function.
  [[nodiscard]] std::vector<FakeCall> CallsOf(std::string_view name) const;
  // The DCB of the last SetCommState call.
  DCB lastSetState{};

  // Used by the call trampolines.
  bool Fails(std::string_view name);
  void Record(std::string_view name, std::vector<int64_t> args, std::string text = {});

 private:
  std::map<std::string, std::vector<int>, std::less<>> pendingFailures_;  // countdowns
  std::set<std::string, std::less<>> alwaysFail_;
  serial::Syscalls table_{};
};

}  // namespace lorvant::testing
