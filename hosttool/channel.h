// One channel of the host: its ChannelContext, started on a port, and the
// requests the host makes on it, each one VpiMain call as the real host
// makes it. A channel is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "lorvant/records.h"

namespace mokta {

// Function codes of the requests the tool makes.
enum FunctionCode : uint32_t {
  kColdStart = 1,
  kSingleAddressParser = 3,
  kBlockAddressParser = 4,
  kSingleRead = 5,
  kBlockRead = 6,
  kSingleWrite = 7,
  kCloseCom = 12,
  kGetVpiInfo = 14,
};

// Parity codes of LineSettings.
enum Parity : uint16_t {
  kParityNone = 0,
  kParityOdd = 1,
  kParityEven = 2,
  kParityMark = 3,
  kParitySpace = 4
};

// The parity names of the command line and the poll file, by their codes.
const std::map<std::string, uint16_t, std::less<>>& ParityNames();

// The host's kind code for a gate, by the form of its address: digital for
// a bit address, analog for any other.
int32_t GateKindFor(const std::string& address);

struct LineOptions {
  std::string port;
  uint16_t baudRate = 9600;
  uint16_t dataBits = 8;
  uint16_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint16_t parity = kParityEven;
  int timeoutMs = 500;  // reply time-out per byte, sent in units of 10 ms
  uint32_t channelNumber = 0;
};

// A gate as the host keeps it: its address string, its block size (0 for a
// single gate) and what the driver made of the address.
struct Gate {
  std::string address;
  int count = 0;
  GateAddress parsed{};

  [[nodiscard]] int Words() const { return count > 0 ? count : 1; }
  [[nodiscard]] bool IsBit() const { return count == 0 && parsed.bitNumber >= 0; }
  [[nodiscard]] bool IsFormatCode() const { return parsed.format != 4 && (parsed.format & 2) != 0; }
  [[nodiscard]] bool IsIfg() const { return parsed.format == 4; }
};

// Splits "ADDR" or "ADDR:N" (a block of N parameters).
std::optional<Gate> GateFromText(const std::string& text, std::string* problem);

struct Outcome {
  int32_t result = 0;            // the driver's result
  std::vector<uint16_t> values;  // the gate's words after the request
  double latencyMs = 0;          // the VpiMain call, start to end
  std::string message;           // the driver's last line, when result is not 0
  bool noParameter = false;      // the instrument answered that it has no such parameter
};

// The exit code that an outcome stands for.
int ExitCodeOf(const Outcome& outcome);

class HostChannel {
 public:
  // aliasNumber picks the COMn alias used when the port's path does not fit
  // the driver's 11 characters; each channel of a process needs its own.
  HostChannel(const DriverLibrary& driver, LineOptions options, int aliasNumber);
  ~HostChannel();
  HostChannel(const HostChannel&) = delete;
  HostChannel& operator=(const HostChannel&) = delete;
  HostChannel(HostChannel&&) = delete;
  HostChannel& operator=(HostChannel&&) = delete;

  // Cold-starts the channel on its port. False when the port did not open;
  // Problem() then says why.
  bool Start();
  [[nodiscard]] const std::string& Problem() const { return problem_; }

  // Checks a gate's address as the host does; on refusal, false and the
  // driver's message in Problem().
  bool Check(Gate& gate);

  // Reads a gate. words holds the gate's previous values (Words() of them):
  // a word the instrument does not deliver keeps its value, as in the host.
  Outcome Read(const Gate& gate, std::span<const uint16_t> words);
  // Writes a value; the outcome's value is what the parameter held before.
  Outcome Write(const Gate& gate, uint16_t value);

  // Closes the port (CloseCom); also done on destruction.
  void Stop();

  [[nodiscard]] void* PortHandle() const { return context_->portHandle; }
  [[nodiscard]] const LineOptions& Options() const { return options_; }

 private:
  int32_t Call(uint32_t functionCode, void* params);
  Outcome Transact(uint32_t functionCode, const Gate& gate, std::vector<uint16_t> buffer);

  const DriverLibrary& driver_;
  LineOptions options_;
  std::string driverPortName_;
  std::unique_ptr<ChannelContext> context_;
  std::string problem_;
  bool started_ = false;
};

// Why a port could not be opened, as far as the tool can tell from outside.
std::string DescribePortProblem(const std::string& path);

}  // namespace mokta
