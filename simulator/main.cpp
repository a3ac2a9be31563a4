// mokta-sim: instruments on a serial line, for the driver to talk to. Serves a
// pseudo-terminal (default) or a real serial port until SIGINT or SIGTERM.

#include <csignal>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "mokta/sim/faults.h"
#include "mokta/sim/plant.h"
#include "mokta/sim/simulator.h"

namespace {

// Exit codes that scripts can rely on.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,  // the line failed while running, or no pseudo-terminal
  kExitUsage = 2,   // bad command line or plant file
  kExitDevice = 4,  // the serial device does not exist, is busy or unusable
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

void PrintCounters(const mokta::sim::Counters& c) {
  std::fprintf(
      stderr,
      "mokta-sim: requests %llu, reply blocks %llu, refusals %llu, ACK %llu, NAK %llu, "
      "writes accepted %llu, writes refused %llu, ignored %llu, faults %llu\n",
      static_cast<unsigned long long>(c.requests), static_cast<unsigned long long>(c.replyBlocks),
      static_cast<unsigned long long>(c.refusals), static_cast<unsigned long long>(c.acks),
      static_cast<unsigned long long>(c.naks), static_cast<unsigned long long>(c.writesAccepted),
      static_cast<unsigned long long>(c.writesRefused), static_cast<unsigned long long>(c.ignored),
      static_cast<unsigned long long>(c.faults));
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "mokta-sim: %s\n", message.c_str());
  return kExitUsage;
}

int Main(int argc, char** argv) {
  CLI::App app{"mokta-sim: simulated instruments on a serial line"};
  std::string plantFile;
  bool pty = false;
  std::string link;
  std::string device;
  mokta::sim::LineSettings line;
  std::string parity = "even";
  double turnaroundMs = 2.0;
  bool noTiming = false;
  double faultRate = 0.0;
  uint32_t faultSeed = 1;
  std::string faultKinds;
  std::string faultScript;
  bool trace = false;
  std::string traceFile;

  app.add_option("--plant", plantFile, "plant file (TOML); the built-in plant without it");
  auto* ptyFlag = app.add_flag("--pty", pty, "serve a pseudo-terminal (the default)");
  auto* linkOption = app.add_option("--link", link, "make a symbolic link to the pty's slave");
  auto* deviceOption = app.add_option("--device", device, "serve this serial port instead");
  deviceOption->excludes(ptyFlag)->excludes(linkOption);
  app.add_option("--baud", line.baud, "baud rate")->capture_default_str();
  app.add_option("--data-bits", line.dataBits, "data bits")
      ->check(CLI::Range(5, 8))
      ->capture_default_str();
  app.add_option("--parity", parity, "none, odd, even, mark or space")
      ->check(CLI::IsMember({"none", "odd", "even", "mark", "space"}))
      ->capture_default_str();
  app.add_option("--stop-bits", line.stopBits, "stop bits")
      ->check(CLI::IsMember({1, 2}))
      ->capture_default_str();
  app.add_option("--turnaround", turnaroundMs, "milliseconds from request to answer")
      ->check(CLI::Range(0.0, 10000.0))
      ->capture_default_str();
  app.add_flag("--no-timing", noTiming, "answer at once, without turnaround or pacing");
  app.add_option("--fault-rate", faultRate, "chance of a fault per answer")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--fault-seed", faultSeed, "seed for the faults drawn by rate")
      ->capture_default_str();
  app.add_option("--faults", faultKinds,
                 "kinds drawn by rate: bcc,nak,soh,eot,silence,drop,extra,order (all by default)");
  app.add_option("--fault-script", faultScript, "faults on given answers: \"3:bcc,5:silence\"");
  app.add_flag("--trace", trace, "trace every frame on standard error");
  app.add_option("--trace-file", traceFile, "trace every frame to this file");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (line.baud <= 0) {
    return Usage("--baud must be positive");
  }

  mokta::sim::SimulatorOptions options;
  options.line = line;
  options.line.parity = *mokta::sim::ParseParity(parity);
  options.turnaround = std::chrono::microseconds(static_cast<int64_t>(turnaroundMs * 1000.0));
  options.timing = !noTiming;
  options.faults.rate = faultRate;
  options.faults.seed = faultSeed;
  try {
    options.faults.kinds = mokta::sim::ParseFaultKinds(faultKinds);
    options.faults.script = mokta::sim::ParseFaultScript(faultScript);
  } catch (const std::invalid_argument& error) {
    return Usage(error.what());
  }

  std::unique_ptr<std::FILE, FileCloser> traceOut;
  if (!traceFile.empty()) {
    traceOut.reset(std::fopen(traceFile.c_str(), "w"));
    if (!traceOut) {
      return Usage("cannot write the trace file " + traceFile);
    }
  }
  if (trace || traceOut) {
    std::FILE* out = traceOut ? traceOut.get() : stderr;
    options.trace = [out](const std::string& text) {
      std::fprintf(out, "%s\n", text.c_str());
      std::fflush(out);
    };
  }

  std::optional<mokta::sim::Simulator> simulator;
  try {
    const mokta::sim::Plant plant =
        plantFile.empty() ? mokta::sim::DefaultPlant() : mokta::sim::LoadPlant(plantFile);
    simulator.emplace(plant, options);
  } catch (const mokta::sim::PlantError& error) {
    return Usage(error.what());
  }

  // The signals are taken by this thread alone, with sigtimedwait below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    if (device.empty()) {
      simulator->OpenPty(link.empty() ? std::nullopt : std::optional<std::filesystem::path>(link));
    } else {
      simulator->OpenDevice(device);
    }
  } catch (const mokta::sim::LineError& error) {
    std::fprintf(stderr, "mokta-sim: %s\n", error.what());
    return device.empty() ? kExitFailed : kExitDevice;
  }
  std::printf("port: %s\n", simulator->PortPath().c_str());
  if (simulator->LinkPath()) {
    std::printf("link: %s\n", simulator->LinkPath()->c_str());
  }
  std::fflush(stdout);

  std::atomic<bool> finished = false;
  std::jthread runner([&](const std::stop_token& stop) {
    simulator->Run(stop);
    finished = true;
  });
  const timespec poll{0, 200'000'000};
  while (!finished) {
    const int taken = sigtimedwait(&signals, nullptr, &poll);
    if (taken == SIGINT || taken == SIGTERM) {
      break;
    }
  }
  runner.request_stop();
  runner.join();

  const int exitCode = simulator->Failure().empty() ? kExitOk : kExitFailed;
  if (exitCode != kExitOk) {
    std::fprintf(stderr, "mokta-sim: %s\n", simulator->Failure().c_str());
  }
  PrintCounters(simulator->GetEngine().GetCounters());
  simulator.reset();  // removes the link
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "mokta-sim: %s\n", error.what());
    return kExitFailed;
  }
}
