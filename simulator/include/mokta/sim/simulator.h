// The simulator on a line: a pseudo-terminal for the driver to open, or a real
// serial port, served by the engine with the timing of a real line.
//
//   mokta::sim::Simulator sim(mokta::sim::DefaultPlant());
//   sim.OpenPty();
//   std::string port = sim.PortPath();   // give this to the driver
//   std::jthread line([&](std::stop_token stop) { sim.Run(stop); });
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "mokta/sim/engine.h"
#include "mokta/sim/faults.h"
#include "mokta/sim/plant.h"

namespace mokta::sim {

enum class Parity { None, Odd, Even, Mark, Space };

// "none", "odd", "even", "mark", "space"; nullopt for anything else.
std::optional<Parity> ParseParity(std::string_view name);

struct LineSettings {
  int baud = 9600;
  int dataBits = 8;  // 5..8
  Parity parity = Parity::Even;
  int stopBits = 1;  // 1 or 2
};

// Start bit, data bits, parity bit and stop bits at the baud rate.
Seconds CharacterTime(const LineSettings& line);

struct SimulatorOptions {
  LineSettings line;
  // From the last byte of a request to the first byte of its answer.
  std::chrono::microseconds turnaround{2000};
  // False: answers go out at once, without turnaround or pacing.
  bool timing = true;
  FaultOptions faults;
  // Called with one line per frame (FormatTrace), from the thread in Run.
  std::function<void(const std::string&)> trace;
};

// A line that cannot be opened or used.
class LineError : public std::runtime_error {
 public:
  enum class Reason { NotFound, Busy, Other };
  LineError(Reason reason, const std::string& message)
      : std::runtime_error(message), reason_(reason) {}
  Reason Cause() const { return reason_; }

 private:
  Reason reason_;
};

class Simulator {
 public:
  // Throws PlantError for a plant the engine refuses.
  explicit Simulator(const Plant& plant, SimulatorOptions options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  Simulator(Simulator&&) = delete;
  Simulator& operator=(Simulator&&) = delete;

  // Opens a pseudo-terminal and serves its master side. The slave is put in
  // raw mode at once and one descriptor of it stays open here, so the driver
  // may close and open it again freely. With a link path, a symbolic link to
  // the slave is made there (an old link in the way is replaced) and removed
  // again when the simulator goes. Throws LineError.
  void OpenPty(const std::optional<std::filesystem::path>& link = std::nullopt);
  // Opens a real serial port, exclusively, raw, with the options' line
  // settings. Throws LineError (NotFound, Busy, Other).
  void OpenDevice(const std::filesystem::path& path);
  void OpenDevice(const std::filesystem::path& path, int baud, int dataBits, Parity parity,
                  int stopBits);

  // The path the driver opens: the pty's slave or the device.
  const std::string& PortPath() const { return portPath_; }
  const std::optional<std::filesystem::path>& LinkPath() const { return link_; }

  // Serves the line until stop is requested or the line fails (Failure()
  // then says why).
  void Run(const std::stop_token& stop);
  const std::string& Failure() const { return failure_; }

  Engine& GetEngine() { return engine_; }
  const SimulatorOptions& Options() const { return options_; }

 private:
  void Close();

  Engine engine_;
  SimulatorOptions options_;
  int fd_ = -1;         // the pty's master or the device
  int heldSlave_ = -1;  // the pty's slave, kept open
  std::string portPath_;
  std::optional<std::filesystem::path> link_;
  std::string failure_;
};

}  // namespace mokta::sim
