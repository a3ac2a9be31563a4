#include "channel.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "exit_codes.h"
#include "messages.h"

namespace mokta {
namespace {

constexpr std::size_t kDriverPortNameMax = LORVANT_PORT_NAME_MAX;
constexpr int32_t kAnalogKind = 0;
constexpr int32_t kDigitalKind = 6;
constexpr const char* kNoParameterLine = "PNO does not correspond with a valid entry";

bool IsComName(const std::string& port) {
  if (port.size() < 4 || port.size() > 6) {
    return false;
  }
  std::string head = port.substr(0, 3);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return head == "COM" && std::all_of(port.begin() + 3, port.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool IsNullDevice(const std::string& port) {
  return port.size() == 3 && (std::toupper(static_cast<unsigned char>(port[0])) == 'N') &&
         (std::toupper(static_cast<unsigned char>(port[1])) == 'U') &&
         (std::toupper(static_cast<unsigned char>(port[2])) == 'L');
}

// The name handed to the driver: the port itself when the driver can take it
// as it is, else a COMn alias that names the port's full path.
std::string DriverPortName(const std::string& port, int aliasNumber) {
  if (IsComName(port) || IsNullDevice(port) ||
      (port.size() <= kDriverPortNameMax && !port.empty() && port.front() == '/')) {
    return port;
  }
  const std::string path = std::filesystem::absolute(port).string();
  const std::string variable = "LORVANT_COM" + std::to_string(aliasNumber);
  ::setenv(variable.c_str(), path.c_str(), 1);  // NOLINT(concurrency-mt-unsafe): before any thread
  return "COM" + std::to_string(aliasNumber);
}

// The device path the driver opens for a port name.
std::string DevicePath(const std::string& port) {
  if (IsNullDevice(port)) {
    return "/dev/null";
  }
  if (IsComName(port)) {
    const std::string variable = "LORVANT_COM" + port.substr(3);
    if (const char* alias = std::getenv(variable.c_str())) {  // NOLINT(concurrency-mt-unsafe)
      return alias;
    }
    return "/dev/ttyS" + std::to_string(std::stoi(port.substr(3)) - 1);
  }
  return port;
}

// What went wrong in the request just made: the driver's last line that
// names a cause. Passed over are the lines that only count attempts or repeat
// the result, and the RTS failures of a port without modem lines (a
// pseudo-terminal), which do not stop a transaction.
std::string Cause() {
  constexpr std::array<std::string_view, 3> kNotCauses{
      "ret val is", "Receive(), Check() or Store() error", "EscapeCommFunction() failed"};
  const std::vector<std::string>& lines = MessageLog::Lines();
  const auto cause = std::find_if(lines.rbegin(), lines.rend(), [&](const std::string& line) {
    return std::none_of(kNotCauses.begin(), kNotCauses.end(), [&](std::string_view text) {
      return line.find(text) != std::string::npos;
    });
  });
  if (cause != lines.rend()) {
    return *cause;
  }
  return MessageLog::Last();
}

}  // namespace

const std::map<std::string, uint16_t, std::less<>>& ParityNames() {
  static const std::map<std::string, uint16_t, std::less<>> kNames{{"none", kParityNone},
                                                                   {"odd", kParityOdd},
                                                                   {"even", kParityEven},
                                                                   {"mark", kParityMark},
                                                                   {"space", kParitySpace}};
  return kNames;
}

int32_t GateKindFor(const std::string& address) {
  const bool bitForm =
      address.size() >= 6 && std::isxdigit(static_cast<unsigned char>(address[5])) != 0;
  return bitForm ? kDigitalKind : kAnalogKind;
}

std::optional<Gate> GateFromText(const std::string& text, std::string* problem) {
  Gate gate;
  const auto colon = text.rfind(':');
  gate.address = text.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string count = text.substr(colon + 1);
    int value = 0;
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), value);
    if (error != std::errc() || end != count.data() + count.size() || value < 1 || value > 127) {
      *problem = "bad block size in '" + text + "': give ADDRESS:N with N from 1 to 127";
      return std::nullopt;
    }
    gate.count = value;
  }
  if (gate.address.empty()) {
    *problem = "empty gate address in '" + text + "'";
    return std::nullopt;
  }
  return gate;
}

int ExitCodeOf(const Outcome& outcome) {
  if (outcome.result == 0) {
    return kExitOk;
  }
  if (outcome.noParameter) {
    return kExitNoParameter;
  }
  return outcome.result == 2 ? kExitNoReply : kExitProtocol;
}

HostChannel::HostChannel(const DriverLibrary& driver, LineOptions options, int aliasNumber)
    : driver_(driver),
      options_(std::move(options)),
      driverPortName_(DriverPortName(options_.port, aliasNumber)),
      context_(std::make_unique<ChannelContext>()) {}

HostChannel::~HostChannel() {
  Stop();
}

int32_t HostChannel::Call(uint32_t functionCode, void* params) {
  VpiRequest request{context_.get(), functionCode, options_.channelNumber, 0, params};
  return driver_.Call(request);
}

bool HostChannel::Start() {
  ColdStartRecord record{};
  std::strncpy(record.portName, driverPortName_.c_str(), sizeof(record.portName) - 1);
  record.portInUse = 1;
  record.replyTimeout = std::max(1, (options_.timeoutMs + 9) / 10);
  record.lineSettings = {options_.baudRate, options_.dataBits, options_.stopBits, options_.parity};
  MessageLog::Clear();
  Call(kColdStart, &record);
  started_ = true;
  if (context_->portHandle == nullptr) {
    problem_ = DescribePortProblem(DevicePath(driverPortName_));
    return false;
  }
  return true;
}

bool HostChannel::Check(Gate& gate) {
  GateParseRecord record{gate.address.c_str(), 0, 0, gate.count, {}};
  record.gateKind = gate.count == 0 ? GateKindFor(gate.address) : kAnalogKind;
  MessageLog::Clear();
  const int32_t result = Call(gate.count > 0 ? kBlockAddressParser : kSingleAddressParser, &record);
  if (result != 0) {
    problem_ = MessageLog::Last();
    return false;
  }
  gate.parsed = record.address;
  return true;
}

Outcome HostChannel::Transact(uint32_t functionCode, const Gate& gate,
                              std::vector<uint16_t> buffer) {
  GateRecord record{gate.address.c_str(), 0, gate.parsed, 0, gate.Words(), 0, buffer.data()};
  MessageLog::Clear();
  const auto start = std::chrono::steady_clock::now();
  Outcome outcome;
  outcome.result = Call(functionCode, &record);
  outcome.latencyMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (outcome.result != 0) {
    outcome.noParameter = MessageLog::Saw(kNoParameterLine);
    outcome.message =
        outcome.noParameter ? "no such parameter: the instrument answered EOT" : Cause();
  }
  if (gate.count == 0) {
    outcome.values.assign(1, buffer[1]);  // a single gate's value is the second word
  } else {
    outcome.values = std::move(buffer);
  }
  return outcome;
}

Outcome HostChannel::Read(const Gate& gate, std::span<const uint16_t> words) {
  std::vector<uint16_t> buffer(gate.count == 0 ? 2 : static_cast<std::size_t>(gate.count), 0);
  if (gate.count == 0) {
    buffer[1] = words.empty() ? 0 : words[0];
  } else {
    std::copy_n(words.begin(), std::min(words.size(), buffer.size()), buffer.begin());
  }
  return Transact(gate.count > 0 ? kBlockRead : kSingleRead, gate, std::move(buffer));
}

Outcome HostChannel::Write(const Gate& gate, uint16_t value) {
  return Transact(kSingleWrite, gate, std::vector<uint16_t>{0, value});
}

void HostChannel::Stop() {
  if (started_) {
    Call(kCloseCom, nullptr);
    started_ = false;
  }
}

std::string DescribePortProblem(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return errno == ENOENT
               ? "port " + path + " does not exist"
               : "port " + path + ": " + std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK |
                                          O_CLOEXEC);  // NOLINT(cppcoreguidelines-pro-type-vararg)
  if (fd < 0) {
    if (errno == EBUSY) {
      return "port " + path + " is busy: another program holds it";
    }
    return "port " + path +
           " cannot be opened: " + std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
  }
  std::string problem;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    problem = "port " + path + " is busy: another program holds it";
  } else if (::isatty(fd) == 0) {
    problem = "port " + path + " is not a serial device";
  } else {
    problem = "port " + path + " opened but its line settings were refused (see --log 32,64)";
  }
  ::close(fd);
  return problem;
}

}  // namespace mokta
