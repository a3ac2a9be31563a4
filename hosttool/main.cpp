// mokta: a host for the driver. Loads LORVANT as the supervisory host does and
// calls VpiMain with the host's records: to announce the driver, check gate
// addresses, read, write and poll instruments, and to run a demonstration
// against the instrument simulator.

#include <kyrpro/kyrpro.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel.h"
#include "commands.h"
#include "driver_loader.h"
#include "exit_codes.h"
#include "messages.h"
#include "output.h"
#include "poll.h"
#include "wire_trace.h"

namespace mokta {
namespace {

std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int /*signal*/) {
  stopRequested = true;
}

// Ctrl-C and SIGTERM end a poll after the transaction in progress, so that
// every channel is closed cleanly.
void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void AddLineOptions(CLI::App* command, LineOptions& line) {
  command->add_option("--baud", line.baudRate, "baud rate")
      ->capture_default_str()
      ->check(CLI::Range(50, 65535));
  command->add_option("--data-bits", line.dataBits, "data bits")
      ->capture_default_str()
      ->check(CLI::Range(5, 8));
  command->add_option("--parity", line.parity, "none, odd, even, mark or space (default even)")
      ->transform(CLI::CheckedTransformer(ParityNames(), CLI::ignore_case));
  const std::map<std::string, uint16_t> stopBits{{"1", 0}, {"1.5", 1}, {"2", 2}};
  command->add_option("--stop-bits", line.stopBits, "1, 1.5 or 2 (default 1)")
      ->transform(CLI::CheckedTransformer(stopBits));
  command->add_option("--timeout", line.timeoutMs, "reply time-out per byte, in ms")
      ->capture_default_str()
      ->check(CLI::Range(10, 600000));
  command
      ->add_option("--channel", line.channelNumber,
                   "channel number (names the initialisation file)")
      ->capture_default_str();
}

int Run(int argc, char** argv) {
  CLI::App app{"mokta: runs the LORVANT driver as its host does"};
  app.require_subcommand(1);

  GlobalOptions global;
  global.driverPath = DefaultDriverPath();
  app.add_option("--driver", global.driverPath, "path of the driver library")
      ->capture_default_str();
  std::vector<int> logLevels{KYRPRO_LEVEL_OPERATOR};
  app.add_option("--log", logLevels, "err levels to show on standard error (8, 32, 64; default 32)")
      ->check(CLI::IsMember({KYRPRO_LEVEL_INFO, KYRPRO_LEVEL_OPERATOR, KYRPRO_LEVEL_DETAIL}))
      ->delimiter(',');
  const std::map<std::string, OutputFormat> formats{
      {"table", OutputFormat::kTable}, {"csv", OutputFormat::kCsv}, {"json", OutputFormat::kJson}};
  app.add_option("--format", global.format, "output: table, csv or json (default table)")
      ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
  app.add_option("--trace", global.traceFile, "write a timestamped wire trace to this file");

  auto* info = app.add_subcommand("info", "show the driver's announcement (VpiInfo and banner)");

  auto* check = app.add_subcommand("check", "check gate addresses as the host does before polling");
  CheckOptions checkOptions;
  check
      ->add_option("address", checkOptions.addresses,
                   "gate addresses, for example 0A001 0a0017 IFG")
      ->required();
  const std::map<std::string, int32_t> kinds{{"analog", 0}, {"digital", 6}, {"string", 7}};
  check
      ->add_option("--kind", checkOptions.gateKind,
                   "gate kind: analog, digital or string (default: by form)")
      ->transform(CLI::CheckedTransformer(kinds, CLI::ignore_case));
  check->add_option("--block", checkOptions.blockSize, "check as a block of this many parameters")
      ->check(CLI::Range(1, 1000));

  auto* read =
      app.add_subcommand("read", "read gates: single values, bits, format codes or a block");
  TransferOptions readOptions;
  read->add_option("port", readOptions.line.port, "serial port: a path, COMn or NUL")->required();
  read->add_option("address", readOptions.items, "gate addresses, ADDRESS or ADDRESS:N for a block")
      ->required();
  read->add_option("--count", readOptions.count, "read each address as a block of N parameters")
      ->check(CLI::Range(1, 127));
  AddLineOptions(read, readOptions.line);

  auto* write = app.add_subcommand("write", "write gates by read-modify-write");
  TransferOptions writeOptions;
  write->add_option("port", writeOptions.line.port, "serial port: a path, COMn or NUL")->required();
  write->add_option("assignment", writeOptions.items, "ADDRESS=VALUE (decimal or 0x hexadecimal)")
      ->required();
  AddLineOptions(write, writeOptions.line);

  auto* poll =
      app.add_subcommand("poll", "read gates every interval, with a live table and statistics");
  PollOptions pollOptions;
  poll->add_option("port_and_gates", pollOptions.arguments, "PORT ADDRESS... (or use --config)");
  poll->add_option("--config", pollOptions.configFile, "poll configuration file (TOML)");
  poll->add_option("--interval", pollOptions.intervalMs, "milliseconds from round to round")
      ->check(CLI::Range(0, 3600000));
  poll->add_option("-c,--rounds", pollOptions.rounds,
                   "stop after this many rounds (default: Ctrl-C)")
      ->check(CLI::Range(0L, 1000000000L));
  auto* pollLive =
      poll->add_flag("--live,!--no-live", pollOptions.live,
                     "redraw a live table (default: when the output is a terminal and a table)");
  AddLineOptions(poll, pollOptions.line);

  auto* decode =
      app.add_subcommand("decode", "explain request, reply and write frames and check their BCC");
  std::vector<std::string> hex;
  decode->add_option("hex", hex, "frame bytes in hexadecimal, for example 04 81 85 84 05")
      ->required();

  auto* demo =
      app.add_subcommand("demo", "start the simulator on a pseudo-terminal and poll its plant");
  DemoOptions demoOptions;
  demo->add_option("--interval", demoOptions.intervalMs, "milliseconds from round to round")
      ->capture_default_str()
      ->check(CLI::Range(0, 3600000));
  demo->add_option("-c,--rounds", demoOptions.rounds,
                   "stop after this many rounds (default: Ctrl-C)")
      ->check(CLI::Range(0L, 1000000000L));
  auto* demoLive = demo->add_flag("--live,!--no-live", demoOptions.live,
                                  "redraw a live table (default: on a terminal)");
  demo->add_option("--sim-trace", demoOptions.simTraceFile,
                   "the simulator's decoded frame trace, to this file");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitOk : kExitUsage;
  }
  // Without either flag, the output decides.
  if (pollLive->count() == 0) {
    pollOptions.live.reset();
  }
  if (demoLive->count() == 0) {
    demoOptions.live.reset();
  }
  for (const int level : logLevels) {
    global.shownLevels |= level;
  }

  if (decode->parsed()) {
    return Decode(hex, global.format);
  }

  const MessageLog log(global.shownLevels);
  // The trace must be named to the driver before its first request.
  std::unique_ptr<WireTrace> trace;
  if (read->parsed() || write->parsed() || poll->parsed() || demo->parsed()) {
    std::string problem;
    trace = WireTrace::Start(global.traceFile, &problem);
    if (!trace) {
      std::fprintf(stderr, "mokta: %s\n", problem.c_str());
      return kExitUsage;
    }
  }
  if (poll->parsed() || demo->parsed()) {
    CatchStopSignals();
  }

  const DriverLibrary driver(global.driverPath);
  if (!driver.Loaded()) {
    std::fprintf(stderr, "mokta: %s\n", driver.Error().c_str());
    return kExitDriver;
  }
  if (info->parsed()) {
    return Info(driver, global.format);
  }
  if (check->parsed()) {
    return Check(driver, checkOptions, global.format);
  }
  if (read->parsed()) {
    return Read(driver, readOptions, global.format, trace.get());
  }
  if (write->parsed()) {
    return Write(driver, writeOptions, global.format, trace.get());
  }
  if (poll->parsed()) {
    return Poll(driver, pollOptions, global.format, trace.get(), stopRequested);
  }
  return Demo(driver, demoOptions, global.format, trace.get(), stopRequested);
}

}  // namespace
}  // namespace mokta

int main(int argc, char** argv) {
  try {
    return mokta::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mokta: %s\n", e.what());
    return mokta::kExitDriver;
  }
}
