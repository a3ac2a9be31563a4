// The host tool's commands. Each returns the tool's exit code.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "channel.h"
#include "driver_loader.h"
#include "output.h"

namespace mokta {

class WireTrace;

struct GlobalOptions {
  std::string driverPath;
  int shownLevels = 0;
  OutputFormat format = OutputFormat::kTable;
  std::string traceFile;
};

struct CheckOptions {
  std::vector<std::string> addresses;
  std::optional<int32_t> gateKind;
  int32_t blockSize = 0;
};

// read and write: the port and its settings, and the gates (read) or the
// ADDRESS=VALUE assignments (write).
struct TransferOptions {
  LineOptions line;
  std::vector<std::string> items;
  int count = 0;
};

struct PollOptions {
  LineOptions line;
  std::vector<std::string> arguments;  // PORT ADDRESS...
  std::string configFile;
  std::optional<int> intervalMs;
  std::optional<long> rounds;
  std::optional<bool> live;
};

struct DemoOptions {
  int intervalMs = 500;
  long rounds = 0;
  std::optional<bool> live;
  std::string simTraceFile;
};

int Info(const DriverLibrary& driver, OutputFormat format);
int Check(const DriverLibrary& driver, const CheckOptions& options, OutputFormat format);
int Read(const DriverLibrary& driver, const TransferOptions& options, OutputFormat format,
         WireTrace* trace);
int Write(const DriverLibrary& driver, const TransferOptions& options, OutputFormat format,
          WireTrace* trace);
int Poll(const DriverLibrary& driver, const PollOptions& options, OutputFormat format,
         WireTrace* trace, const std::atomic<bool>& stop);
int Decode(const std::vector<std::string>& hex, OutputFormat format);
int Demo(const DriverLibrary& driver, const DemoOptions& options, OutputFormat format,
         WireTrace* trace, const std::atomic<bool>& stop);

}  // namespace mokta
