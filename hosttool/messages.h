// Where the driver's log lines go while the host tool runs. Each thread keeps
// the lines of its own requests (all requests of a channel run on one
// thread), so a result can be explained by the driver's own words; the levels
// the user asked for are also shown on standard error as they come.
#pragma once

#include <string>
#include <vector>

namespace mokta {

class MessageLog {
 public:
  // Routes the runtime library's err to the log; shownLevels is an OR of
  // err levels to echo on standard error.
  explicit MessageLog(int shownLevels);
  ~MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;
  MessageLog(MessageLog&&) = delete;
  MessageLog& operator=(MessageLog&&) = delete;

  // The lines logged on the calling thread since the last Clear().
  static const std::vector<std::string>& Lines();
  static void Clear();
  // The last line logged on the calling thread, or "".
  static std::string Last();
  // Whether a line logged on the calling thread since Clear() contains text.
  static bool Saw(const std::string& text);
};

}  // namespace mokta
