#include "support/log_capture.h"

#include <kyrpro/kyrpro.h>

namespace lorvant::testing {
namespace {

void Collect(void* context, int level, const char* message) {
  static_cast<std::vector<LogLine>*>(context)->push_back(LogLine{level, message});
}

}  // namespace

LogCapture::LogCapture() {
  KyrSetLogSink(Collect, &lines_);
}

LogCapture::~LogCapture() {
  KyrSetLogSink(nullptr, nullptr);
}

}  // namespace lorvant::testing
