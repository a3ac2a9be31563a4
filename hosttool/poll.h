// poll: reads a set of gates on one or more channels, round after round, one
// thread per channel (a channel's requests never overlap), with a live table
// or a stream of rows, and statistics at the end.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "channel.h"
#include "driver_loader.h"
#include "output.h"

namespace mokta {

class WireTrace;

struct PollChannel {
  LineOptions line;
  std::vector<std::string> gates;  // "ADDRESS" or "ADDRESS:N"
};

struct PollPlan {
  std::vector<PollChannel> channels;
  int intervalMs = 1000;
  long rounds = 0;  // 0: until stopped
};

// Reads a poll configuration file into plan. False and a message naming the
// file, the line and the problem when it is not usable.
bool LoadPollConfig(const std::string& path, PollPlan& plan, std::string* problem);

// How a gate's words read to a person: a value, a bit, a format code, or a
// block's values.
std::string FormatValue(const Gate& gate, const std::vector<uint16_t>& values);

// Runs the plan until its rounds are done or stop is set; returns the exit code.
int RunPoll(const DriverLibrary& driver, const PollPlan& plan, OutputFormat format, bool live,
            WireTrace* trace, const std::atomic<bool>& stop);

}  // namespace mokta
