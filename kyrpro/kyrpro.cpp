// Stand-in for the host runtime library: the logging function with its sinks,
// and the value conversion used when the driver reads its inter-frame gap.

#include "kyrpro/kyrpro.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

struct Sink {
  KyrLogSink function = nullptr;
  void* context = nullptr;
};

std::mutex sinkMutex;
Sink installedSink;
std::atomic<int> defaultLevels{KYRPRO_LEVEL_ALL};

Sink CurrentSink() {
  const std::scoped_lock lock(sinkMutex);
  return installedSink;
}

void KYRPRO_CALL DefaultSink(void* /*context*/, int level, const char* message) {
  if ((level & defaultLevels.load(std::memory_order_relaxed)) == 0) {
    return;
  }
  // One call per line, so that lines of concurrent channels do not interleave.
  std::fprintf(stderr, "[%d] %s\n", level, message);
}

void Deliver(int level, const char* message) {
  const Sink sink = CurrentSink();
  if (sink.function != nullptr) {
    sink.function(sink.context, level, message);
  } else {
    DefaultSink(nullptr, level, message);
  }
}

}  // namespace

extern "C" {

int KYRPRO_CALL err(int level, const char* format, ...) {  // NOLINT(readability-identifier-naming)
  if (format == nullptr) {
    return 0;
  }
  std::array<char, 512> line{};
  va_list args;
  va_start(args, format);
  // The analyzer of clang 14 does not see va_start here.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = std::vsnprintf(line.data(), line.size(), format, args);
  va_end(args);
  if (length < 0) {
    Deliver(level, format);  // unformattable: the format itself says most
    return 0;
  }
  if (static_cast<std::size_t>(length) < line.size()) {
    Deliver(level, line.data());
    return 0;
  }
  // A long message (an address string of any length, say) is delivered whole.
  const auto size = static_cast<std::size_t>(length) + 1;
  char* longLine = static_cast<char*>(std::malloc(size));  // NOLINT(cppcoreguidelines-no-malloc)
  if (longLine == nullptr) {
    Deliver(level, line.data());  // truncated, but not lost entirely
    return 0;
  }
  va_start(args, format);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  std::vsnprintf(longLine, size, format, args);
  va_end(args);
  Deliver(level, longLine);
  std::free(longLine);  // NOLINT(cppcoreguidelines-no-malloc)
  return 0;
}

int KYRPRO_CALL Kyr5UnCook(int32_t /*zero*/, int32_t /*conversion*/, double value,
                           uint16_t* valueBuffer) {
  if (valueBuffer == nullptr) {
    return KYRPRO_UNCOOK_NO_BUFFER;
  }
  if (!std::isfinite(value)) {
    return KYRPRO_UNCOOK_OUT_OF_RANGE;
  }
  const double rounded = std::round(value);
  if (rounded < 0.0 || rounded > 65535.0) {
    return KYRPRO_UNCOOK_OUT_OF_RANGE;
  }
  valueBuffer[1] =
      static_cast<uint16_t>(rounded);  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
  return KYRPRO_UNCOOK_OK;
}

void KYRPRO_CALL KyrSetLogSink(KyrLogSink sink, void* context) {
  const std::scoped_lock lock(sinkMutex);
  installedSink = Sink{sink, context};
}

void KYRPRO_CALL KyrSetLogLevels(int levels) {
  defaultLevels.store(levels, std::memory_order_relaxed);
}

}  // extern "C"
