// Captures what the driver logs through the runtime library's err, for tests
// that check exact messages and levels.
#pragma once

#include <gtest/gtest.h>
#include <kyrpro/kyrpro.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace lorvant::testing {

struct LogLine {
  int level = 0;
  std::string message;

  friend bool operator==(const LogLine&, const LogLine&) = default;
  friend std::ostream& operator<<(std::ostream& out, const LogLine& line) {
    return out << "[" << line.level << "] " << line.message;
  }
};

// Lines at the two levels protocol messages use.
inline LogLine Detail(std::string message) {
  return LogLine{KYRPRO_LEVEL_DETAIL, std::move(message)};
}
inline LogLine Operator(std::string message) {
  return LogLine{KYRPRO_LEVEL_OPERATOR, std::move(message)};
}

// Installs a sink into the runtime library for its lifetime and collects
// every line logged meanwhile.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  [[nodiscard]] const std::vector<LogLine>& Lines() const { return lines_; }
  void Clear() { lines_.clear(); }

 private:
  std::vector<LogLine> lines_;
};

}  // namespace lorvant::testing
