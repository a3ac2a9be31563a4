// The host's side of the driver's wire trace. The driver writes its trace
// lines into a pipe that this class reads on a thread of its own: the lines
// go to the trace file, if one was asked for, and every request's
// turnaround (the request frame leaving the port until the first reply byte
// read) is measured from them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mokta {

class WireTrace {
 public:
  // Opens the pipe and names it to the driver; call before the driver's
  // first request. file: the trace file, or "" to measure only. Null and a
  // reason when the pipe or the file cannot be opened.
  static std::unique_ptr<WireTrace> Start(const std::string& file, std::string* problem);

  ~WireTrace();
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;
  WireTrace(WireTrace&&) = delete;
  WireTrace& operator=(WireTrace&&) = delete;

  // Waits until the lines the calling thread's requests wrote have been read,
  // then hands over the turnarounds (milliseconds) measured on the port
  // handle since the last call for it.
  std::vector<double> Collect(const void* handle);

 private:
  WireTrace(int readEnd, int writeEnd, std::FILE* file);
  void Read();
  void Take(const std::string& line);

  struct PortState {
    bool requestWritten = false;  // the last frame written was a request
    double sentAt = -1;           // when it left the port; -1: no request awaits a reply
    std::vector<double> turnarounds;
  };

  int readEnd_;
  int writeEnd_;
  std::FILE* file_;
  std::mutex mutex_;
  std::condition_variable marked_;
  std::mutex writing_;
  uint64_t nextMark_ = 0;
  uint64_t seenMark_ = 0;
  std::map<uintptr_t, PortState> ports_;
  std::thread reader_;
};

}  // namespace mokta
