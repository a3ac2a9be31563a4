// demo: the simulator's default plant on a pseudo-terminal of this process,
// polled through the driver like a real plant.

#include <cstdio>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "exit_codes.h"
#include "mokta/sim/simulator.h"
#include "poll.h"

namespace mokta {
namespace {

// Every parameter of every instrument as a single gate, and the format code
// of those that carry one.
std::vector<std::string> PlantGates(const sim::Plant& plant) {
  std::vector<std::string> gates;
  for (const sim::Instrument& instrument : plant.instruments) {
    for (const auto& [pno, parameter] : instrument.parameters) {
      std::vector<char> address(16);
      std::snprintf(address.data(), address.size(), "%02X%03d", instrument.id, pno);
      gates.emplace_back(address.data());
      if (parameter.formatCode != 0) {
        gates.emplace_back(std::string(address.data()) + ".");
      }
    }
  }
  return gates;
}

}  // namespace

int Demo(const DriverLibrary& driver, const DemoOptions& options, OutputFormat format,
         WireTrace* trace, const std::atomic<bool>& stop) {
  const sim::Plant plant = sim::DefaultPlant();
  sim::SimulatorOptions simOptions;
  std::ofstream simTrace;
  std::mutex simTraceMutex;
  if (!options.simTraceFile.empty()) {
    simTrace.open(options.simTraceFile);
    if (!simTrace) {
      std::fprintf(stderr, "mokta: cannot write %s\n", options.simTraceFile.c_str());
      return kExitUsage;
    }
    simOptions.trace = [&](const std::string& line) {
      const std::scoped_lock lock(simTraceMutex);
      simTrace << line << '\n' << std::flush;
    };
  }
  std::unique_ptr<sim::Simulator> simulator;
  try {
    simulator = std::make_unique<sim::Simulator>(plant, simOptions);
    simulator->OpenPty();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mokta: the simulator did not start: %s\n", e.what());
    return kExitPort;
  }
  std::fprintf(stderr, "mokta: simulated plant of %zu instruments on %s\n",
               plant.instruments.size(), simulator->PortPath().c_str());
  std::jthread line([&](const std::stop_token& token) { simulator->Run(token); });

  PollOptions poll;
  poll.line.port = simulator->PortPath();
  poll.arguments.push_back(simulator->PortPath());
  for (const std::string& gate : PlantGates(plant)) {
    poll.arguments.push_back(gate);
  }
  poll.intervalMs = options.intervalMs;
  poll.rounds = options.rounds;
  poll.live = options.live;
  const int status = Poll(driver, poll, format, trace, stop);
  line.request_stop();
  line.join();
  return status;
}

}  // namespace mokta
