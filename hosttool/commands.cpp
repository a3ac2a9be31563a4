#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "exit_codes.h"
#include "messages.h"
#include "mokta/wire.h"
#include "poll.h"
#include "stats.h"
#include "wire_trace.h"

namespace mokta {
namespace {

constexpr int kAlias = 200;

// The banner's code page 437 box characters, in UTF-8; other bytes above
// 0x7F show as '?', control characters are left out.
std::string BannerText(const char* banner) {
  std::string text;
  for (const char* c = banner; c != nullptr && *c != '\0'; ++c) {
    switch (static_cast<unsigned char>(*c)) {
      case 0xC9:
        text += "\u2554";
        break;
      case 0xBB:
        text += "\u2557";
        break;
      case 0xC8:
        text += "\u255A";
        break;
      case 0xBC:
        text += "\u255D";
        break;
      case 0xCD:
        text += "\u2550";
        break;
      case 0xBA:
        text += "\u2551";
        break;
      case '\n':
        text += '\n';
        break;
      default:
        if (static_cast<unsigned char>(*c) >= 0x80) {
          text += '?';
        } else if (static_cast<unsigned char>(*c) >= 0x20) {
          text += *c;
        }
    }
  }
  return text;
}

const char* FormName(int32_t format) {
  switch (format) {
    case 0:
      return "value";
    case 1:
      return "value*";
    case 2:
      return "format";
    case 3:
      return "format*";
    case 4:
      return "IFG";
    default:
      return "?";
  }
}

std::string HexWord(uint16_t value) {
  std::vector<char> text(8);
  std::snprintf(text.data(), text.size(), "0x%04X", value);
  return text.data();
}

std::string ShortMessage(const std::string& line) {
  const auto mark = line.find("> ");
  return mark == std::string::npos ? line : line.substr(mark + 2);
}

bool IsTerminal() {
  return ::isatty(STDOUT_FILENO) != 0;
}

void PrintSummary(const char* what, const Counters& counters, WireTrace* trace, std::FILE* out) {
  std::fprintf(out,
               "\n--- %s statistics ---\n%llu transactions, %llu ok, %llu failed\nlatency %s\n",
               what, static_cast<unsigned long long>(counters.transactions),
               static_cast<unsigned long long>(counters.transactions - counters.failures),
               static_cast<unsigned long long>(counters.failures),
               Describe(Summarise(counters.latencyMs)).c_str());
  if (trace != nullptr) {
    std::fprintf(out, "turnaround %s\n", Describe(Summarise(counters.turnaroundMs)).c_str());
  }
}

std::optional<uint16_t> ParseValue(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

// Counts a transaction and its figures; returns its turnaround in
// milliseconds, or -1 when none was measured.
double Count(const Outcome& outcome, const HostChannel& channel, WireTrace* trace,
             Counters& counters) {
  double turnaround = -1;
  if (trace != nullptr) {
    const std::vector<double> measured = trace->Collect(channel.PortHandle());
    if (!measured.empty()) {
      turnaround = measured.front();
      counters.turnaroundMs.push_back(turnaround);
    }
  }
  ++counters.transactions;
  counters.latencyMs.push_back(outcome.latencyMs);
  if (outcome.result != 0) {
    ++counters.failures;
  }
  return turnaround;
}

Cell Milliseconds(double value) {
  return value >= 0 ? Number(value, 1) : Text("");
}

}  // namespace

int Info(const DriverLibrary& driver, OutputFormat format) {
  VpiInfo record{};
  VpiRequest request{nullptr, kGetVpiInfo, 0, 0, &record};
  const int32_t result = driver.Call(request);
  if (result != 0) {
    std::fprintf(stderr, "mokta: GetVpiInfo answered %d\n", static_cast<int>(result));
    return kExitProtocol;
  }
  const LineSettings& line = record.defaultLineSettings;
  Report report({"field", "value"});
  report.Add({Text("driverName"), Text(record.driverName != nullptr ? record.driverName : "")});
  report.Add({Text("leadingValue"), Number(static_cast<long long>(record.leadingValue))});
  report.Add({Text("contextSize"), Number(static_cast<long long>(record.contextSize))});
  report.Add({Text("valueAfterContextSize"),
              Number(static_cast<long long>(record.valueAfterContextSize))});
  report.Add({Text("baudRate"), Number(static_cast<long long>(line.baudRate))});
  report.Add({Text("dataBits"), Number(static_cast<long long>(line.dataBits))});
  report.Add({Text("stopBits"), Number(static_cast<long long>(line.stopBits))});
  report.Add({Text("parity"), Number(static_cast<long long>(line.parity))});
  report.Add({Text("trailingValue"), Number(static_cast<long long>(record.trailingValue))});
  // The banner starts with a backspace and a line end of its own.
  std::string banner = BannerText(record.banner);
  banner.erase(0, banner.find_first_not_of('\n'));
  if (format == OutputFormat::kTable) {
    std::printf("%s\n\n", banner.c_str());
  } else {
    report.Add({Text("banner"), Text(banner)});
  }
  report.Print(format, stdout);
  return kExitOk;
}

int Check(const DriverLibrary& driver, const CheckOptions& options, OutputFormat format) {
  Report report({"address", "result", "instrument", "form", "pno", "bit", "width", "message"});
  int exitCode = kExitOk;
  for (const std::string& address : options.addresses) {
    GateParseRecord record{
        address.c_str(), 0, options.gateKind.value_or(GateKindFor(address)), options.blockSize, {}};
    VpiRequest request{nullptr, options.blockSize > 0 ? kBlockAddressParser : kSingleAddressParser,
                       0, 0, &record};
    MessageLog::Clear();
    if (driver.Call(request) == 0) {
      const GateAddress& a = record.address;
      std::vector<char> id(4);
      std::snprintf(id.data(), id.size(), "%02X", static_cast<unsigned>(a.instrumentId));
      report.Add({Text(address), Text("ok"), Text(id.data()), Text(FormName(a.format)),
                  Number(static_cast<long long>(a.pno)),
                  Number(static_cast<long long>(a.bitNumber)),
                  Number(static_cast<long long>(a.width)), Text("")});
    } else {
      report.Add({Text(address), Text("refused"), Text(""), Text(""), Text(""), Text(""), Text(""),
                  Text(ShortMessage(MessageLog::Last()))});
      exitCode = kExitRefused;
    }
  }
  report.Print(format, stdout);
  return exitCode;
}

int Read(const DriverLibrary& driver, const TransferOptions& options, OutputFormat format,
         WireTrace* trace) {
  HostChannel channel(driver, options.line, kAlias);
  if (!channel.Start()) {
    std::fprintf(stderr, "mokta: %s\n", channel.Problem().c_str());
    return kExitPort;
  }
  Report report(
      {"gate", "pno", "value", "hex", "result", "latency_ms", "turnaround_ms", "message"});
  Counters counters;
  int exitCode = kExitOk;
  for (const std::string& item : options.items) {
    std::string problem;
    auto gate = GateFromText(item, &problem);
    if (!gate) {
      std::fprintf(stderr, "mokta: %s\n", problem.c_str());
      return kExitUsage;
    }
    if (options.count > 0 && gate->count == 0) {
      gate->count = options.count;
    }
    if (!channel.Check(*gate)) {
      report.Add({Text(item), Text(""), Text(""), Text(""), Text("refused"), Text(""), Text(""),
                  Text(ShortMessage(channel.Problem()))});
      exitCode = std::max<int>(exitCode, kExitRefused);
      continue;
    }
    const Outcome outcome =
        channel.Read(*gate, std::vector<uint16_t>(static_cast<std::size_t>(gate->Words()), 0));
    const double turnaround = Count(outcome, channel, trace, counters);
    if (outcome.result != 0) {
      exitCode = std::max(exitCode, ExitCodeOf(outcome));
      report.Add({Text(gate->address), Number(static_cast<long long>(gate->parsed.pno)), Text(""),
                  Text(""), Number(static_cast<long long>(outcome.result)),
                  Number(outcome.latencyMs, 1), Milliseconds(turnaround),
                  Text(ShortMessage(outcome.message))});
      continue;
    }
    for (std::size_t k = 0; k < outcome.values.size(); ++k) {
      const uint16_t value = outcome.values[k];
      const bool first = k == 0;
      report.Add({Text(gate->address),
                  Number(static_cast<long long>(gate->parsed.pno) + static_cast<long long>(k)),
                  Number(static_cast<long long>(value)), Text(HexWord(value)), Number(0LL),
                  first ? Number(outcome.latencyMs, 1) : Text(""),
                  first ? Milliseconds(turnaround) : Text(""),
                  Text(gate->IsFormatCode() ? "format code"
                       : gate->IsBit()      ? "bit"
                                            : "")});
    }
  }
  report.Print(format, stdout);
  if (format == OutputFormat::kTable) {
    PrintSummary("read", counters, trace, stdout);
  }
  return exitCode;
}

int Write(const DriverLibrary& driver, const TransferOptions& options, OutputFormat format,
          WireTrace* trace) {
  struct Assignment {
    Gate gate;
    uint16_t value;
  };
  std::vector<Assignment> assignments;
  for (const std::string& item : options.items) {
    const auto equals = item.find('=');
    const auto value = equals == std::string::npos
                           ? std::nullopt
                           : ParseValue(std::string_view(item).substr(equals + 1));
    if (!value) {
      std::fprintf(
          stderr,
          "mokta: '%s' is not ADDRESS=VALUE with a VALUE from 0 to 65535 (or 0x0000 to 0xFFFF)\n",
          item.c_str());
      return kExitUsage;
    }
    Gate gate;
    gate.address = item.substr(0, equals);
    assignments.push_back({gate, *value});
  }
  HostChannel channel(driver, options.line, kAlias);
  if (!channel.Start()) {
    std::fprintf(stderr, "mokta: %s\n", channel.Problem().c_str());
    return kExitPort;
  }
  Report report({"gate", "value", "before", "result", "latency_ms", "turnaround_ms", "message"});
  Counters counters;
  int exitCode = kExitOk;
  for (Assignment& assignment : assignments) {
    Gate& gate = assignment.gate;
    if (!channel.Check(gate)) {
      report.Add({Text(gate.address), Number(static_cast<long long>(assignment.value)), Text(""),
                  Text("refused"), Text(""), Text(""), Text(ShortMessage(channel.Problem()))});
      exitCode = std::max<int>(exitCode, kExitRefused);
      continue;
    }
    const Outcome outcome = channel.Write(gate, assignment.value);
    const double turnaround = Count(outcome, channel, trace, counters);
    if (outcome.result != 0) {
      exitCode = std::max(exitCode, ExitCodeOf(outcome));
    }
    // After a write whose read succeeded, the gate's word holds the value
    // the parameter had before; the IFG pseudo-gate has no such value.
    const bool before = outcome.result == 0 && !gate.IsIfg();
    report.Add({Text(gate.address), Number(static_cast<long long>(assignment.value)),
                before ? Number(static_cast<long long>(outcome.values[0])) : Text(""),
                Number(static_cast<long long>(outcome.result)), Number(outcome.latencyMs, 1),
                Milliseconds(turnaround), Text(ShortMessage(outcome.message))});
  }
  report.Print(format, stdout);
  if (format == OutputFormat::kTable) {
    PrintSummary("write", counters, trace, stdout);
  }
  return exitCode;
}

int Poll(const DriverLibrary& driver, const PollOptions& options, OutputFormat format,
         WireTrace* trace, const std::atomic<bool>& stop) {
  PollPlan plan;
  if (!options.configFile.empty()) {
    if (!options.arguments.empty()) {
      std::fprintf(stderr, "mokta: give either --config FILE or PORT ADDRESS..., not both\n");
      return kExitUsage;
    }
    std::string problem;
    if (!LoadPollConfig(options.configFile, plan, &problem)) {
      std::fprintf(stderr, "mokta: %s\n", problem.c_str());
      return kExitUsage;
    }
  } else {
    if (options.arguments.size() < 2) {
      std::fprintf(stderr, "mokta: poll needs PORT ADDRESS... or --config FILE\n");
      return kExitUsage;
    }
    PollChannel channel;
    channel.line = options.line;
    channel.line.port = options.arguments.front();
    channel.gates.assign(options.arguments.begin() + 1, options.arguments.end());
    plan.channels.push_back(channel);
  }
  plan.intervalMs = options.intervalMs.value_or(plan.intervalMs);
  plan.rounds = options.rounds.value_or(plan.rounds);
  const bool live = options.live.value_or(format == OutputFormat::kTable && IsTerminal());
  return RunPoll(driver, plan, format, live, trace, stop);
}

int Decode(const std::vector<std::string>& hex, OutputFormat format) {
  std::string joined;
  for (const std::string& part : hex) {
    joined += part + " ";
  }
  const auto bytes = wire::ParseHex(joined);
  if (!bytes || bytes->empty()) {
    std::fprintf(stderr, "mokta: '%s' is not a run of hexadecimal bytes\n", joined.c_str());
    return kExitUsage;
  }
  Report report({"frame", "bcc", "meaning"});
  int exitCode = kExitOk;
  for (const auto& frame : wire::SplitFrames(*bytes)) {
    const wire::Description description = wire::Describe(frame);
    const bool control = description.kind == wire::FrameKind::Control;
    if (description.kind == wire::FrameKind::Unknown || (!control && !description.bccOk)) {
      exitCode = kExitProtocol;
    }
    report.Add({Text(wire::Hex(frame)),
                Text(control             ? "-"
                     : description.bccOk ? "ok"
                                         : "wrong"),
                Text(description.text)});
  }
  report.Print(format, stdout);
  return exitCode;
}

}  // namespace mokta
