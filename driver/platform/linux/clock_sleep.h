// The monotonic clock that the layer's time limits are measured on.
#pragma once

#include <cstdint>

namespace lorvant::win32::internal {

// Nanoseconds on CLOCK_MONOTONIC, from an arbitrary fixed point.
int64_t MonotonicNs();

}  // namespace lorvant::win32::internal
