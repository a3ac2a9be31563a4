// The wire trace: a layer around the seam that writes every byte the driver
// sends and receives, every RTS edge and every port opened and closed to a
// text sink, one timestamped line per event, and passes each call on
// unchanged. It sits above the platform's table, so it traces the kernel32
// path and the Linux layer alike.
//
// It is off unless the environment variable LORVANT_TRACE names a file when
// the driver makes its first call to the system; lines are then appended to
// that file. Lines look like
//
//   1234.567890 h3 tx 04 81 85 84 05
//
// with the seconds of a monotonic clock (the same clock for every process of
// a machine, so traces of several programs line up), the port handle, the
// event and its bytes. Events: open NAME, open-failed NAME, close, tx (the
// bytes written), tx-failed (a write that wrote nothing), rx (the bytes read),
// sent (the output queue found empty after a write), rts-on, rts-off,
// modem-line (any other modem-line call), break-on, break-off; a modem-line
// or break call the port refused carries " failed".
#pragma once

#include <cstdio>

#include "serial/syscalls.h"

namespace lorvant::serial {

inline constexpr const char* kTraceVariable = "LORVANT_TRACE";

// The table that traces calls to inner into sink. There is one tracing
// layer per process: a second call replaces the first one's inner table and
// sink.
const Syscalls& TracingSyscalls(const Syscalls& inner, std::FILE* sink);

// The table the driver starts with: the platform's own, or the tracing layer
// around it when kTraceVariable names a file that can be opened for appending.
const Syscalls& InitialSyscalls();

}  // namespace lorvant::serial
