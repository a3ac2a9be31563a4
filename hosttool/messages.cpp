#include "messages.h"

#include <kyrpro/kyrpro.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace mokta {
namespace {

thread_local std::vector<std::string> threadLines;
std::atomic<int> shown{0};
std::mutex printing;

// The runtime library calls this for every line the driver logs, on the
// thread of the request.
void Collect(void* /*context*/, int level, const char* message) {
  threadLines.emplace_back(message);
  if ((level & shown.load()) != 0) {
    const std::scoped_lock lock(printing);
    std::fprintf(stderr, "[%d] %s\n", level, message);
  }
}

}  // namespace

MessageLog::MessageLog(int shownLevels) {
  shown = shownLevels;
  KyrSetLogSink(Collect, nullptr);
}

MessageLog::~MessageLog() {
  KyrSetLogSink(nullptr, nullptr);
}

const std::vector<std::string>& MessageLog::Lines() {
  return threadLines;
}

void MessageLog::Clear() {
  threadLines.clear();
}

std::string MessageLog::Last() {
  return threadLines.empty() ? std::string() : threadLines.back();
}

bool MessageLog::Saw(const std::string& text) {
  return std::any_of(threadLines.begin(), threadLines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

}  // namespace mokta
