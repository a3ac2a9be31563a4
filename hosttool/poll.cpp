#include "poll.h"

#include <unistd.h>

#include <toml++/toml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "exit_codes.h"
#include "stats.h"
#include "wire_trace.h"

namespace mokta {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFirstAlias = 200;
constexpr auto kRedraw = std::chrono::milliseconds(500);
constexpr auto kStopCheck = std::chrono::milliseconds(50);

// ---- configuration file -----------------------------------------------------

std::string Where(const std::string& path, const toml::node& node) {
  return path + ":" + std::to_string(node.source().begin.line) + ": ";
}

bool ReadInteger(const std::string& path, const toml::table& table, const char* key, long long low,
                 long long high, long long& value, std::string* problem) {
  const toml::node* node = table.get(key);
  if (node == nullptr) {
    return true;
  }
  const auto number = node->value<long long>();
  if (!node->is_integer() || !number || *number < low || *number > high) {
    *problem = Where(path, *node) + "'" + key + "' must be a whole number from " +
               std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  value = *number;
  return true;
}

bool ReadChannel(const std::string& path, const toml::table& table, PollChannel& channel,
                 std::string* problem) {
  static const std::set<std::string, std::less<>> kKeys{
      "port", "baud", "data_bits", "parity", "stop_bits", "timeout", "number", "gates"};
  for (const auto& [key, node] : table) {
    if (!kKeys.contains(key.str())) {
      *problem = Where(path, node) + "unknown key '" + std::string(key.str()) + "' in [[channel]]";
      return false;
    }
  }
  const auto port = table["port"].value<std::string>();
  if (!port || port->empty()) {
    *problem = Where(path, table) + "a [[channel]] needs port = \"...\"";
    return false;
  }
  channel.line.port = *port;
  long long baud = channel.line.baudRate;
  long long dataBits = channel.line.dataBits;
  long long timeout = channel.line.timeoutMs;
  long long number = channel.line.channelNumber;
  long long stopBits = 1;
  if (!ReadInteger(path, table, "baud", 50, 65535, baud, problem) ||
      !ReadInteger(path, table, "data_bits", 5, 8, dataBits, problem) ||
      !ReadInteger(path, table, "timeout", 10, 600000, timeout, problem) ||
      !ReadInteger(path, table, "number", 0, 4294967295LL, number, problem) ||
      !ReadInteger(path, table, "stop_bits", 1, 2, stopBits, problem)) {
    return false;
  }
  channel.line.baudRate = static_cast<uint16_t>(baud);
  channel.line.dataBits = static_cast<uint16_t>(dataBits);
  channel.line.timeoutMs = static_cast<int>(timeout);
  channel.line.channelNumber = static_cast<uint32_t>(number);
  channel.line.stopBits = stopBits == 2 ? 2 : 0;
  if (const toml::node* parity = table.get("parity")) {
    const auto name = parity->value<std::string>();
    const auto found = name ? ParityNames().find(*name) : ParityNames().end();
    if (found == ParityNames().end()) {
      *problem = Where(path, *parity) + "'parity' must be none, odd, even, mark or space";
      return false;
    }
    channel.line.parity = found->second;
  }
  const toml::array* gates = table["gates"].as_array();
  if (gates == nullptr || gates->empty()) {
    *problem = Where(path, table) + "a [[channel]] needs gates = [\"ADDRESS\", ...]";
    return false;
  }
  for (const toml::node& gate : *gates) {
    const auto text = gate.value<std::string>();
    if (!text) {
      *problem = Where(path, gate) + R"(a gate is a string: "ADDRESS" or "ADDRESS:N")";
      return false;
    }
    channel.gates.push_back(*text);
  }
  return true;
}

}  // namespace

bool LoadPollConfig(const std::string& path, PollPlan& plan, std::string* problem) {
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    *problem = path + ":" + std::to_string(error.source().begin.line) + ": " +
               std::string(error.description());
    return false;
  }
  for (const auto& [key, node] : root) {
    if (key.str() != "interval" && key.str() != "rounds" && key.str() != "channel") {
      *problem = Where(path, node) + "unknown key '" + std::string(key.str()) + "'";
      return false;
    }
  }
  long long interval = plan.intervalMs;
  long long rounds = plan.rounds;
  if (!ReadInteger(path, root, "interval", 0, 3600000, interval, problem) ||
      !ReadInteger(path, root, "rounds", 0, 1000000000, rounds, problem)) {
    return false;
  }
  plan.intervalMs = static_cast<int>(interval);
  plan.rounds = static_cast<long>(rounds);
  const toml::array* channels = root["channel"].as_array();
  if (channels == nullptr || channels->empty()) {
    *problem = path + ": no [[channel]] in the file";
    return false;
  }
  for (const toml::node& node : *channels) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
      *problem = Where(path, node) + "'channel' must be an array of tables: [[channel]]";
      return false;
    }
    PollChannel channel;
    if (!ReadChannel(path, *table, channel, problem)) {
      return false;
    }
    plan.channels.push_back(std::move(channel));
  }
  return true;
}

std::string FormatValue(const Gate& gate, const std::vector<uint16_t>& values) {
  if (values.empty()) {
    return "";
  }
  if (gate.count > 0) {
    std::string text;
    for (const uint16_t value : values) {
      if (!text.empty()) {
        text.push_back(' ');
      }
      text.append(std::to_string(value));
    }
    return text;
  }
  if (gate.IsFormatCode()) {
    return "format " + std::to_string(values[0]);
  }
  return std::to_string(values[0]);
}

namespace {

// ---- the run ------------------------------------------------------------------

struct GateState {
  Gate gate;
  std::vector<uint16_t> values;
  bool valid = false;  // a read has succeeded
  int32_t lastResult = -1;
  std::string lastMessage;
  double lastLatency = 0;
  int worstExit = kExitOk;
  Counters counters;
};

struct ChannelState {
  PollChannel plan;
  std::unique_ptr<HostChannel> channel;
  std::vector<GateState> gates;
  std::mutex mutex;
  bool done = false;
};

std::mutex printing;

void StreamRow(const Report& report, OutputFormat format, const ChannelState& channel,
               const GateState& gate, long round, const Outcome& outcome, double turnaround) {
  const std::string value = outcome.result == 0 ? FormatValue(gate.gate, outcome.values) : "";
  const std::scoped_lock lock(printing);
  if (format == OutputFormat::kTable) {
    // One line per transaction, as ping prints one per reply.
    std::printf("round %ld  %s  %s  %s  %.1f ms", round, channel.plan.line.port.c_str(),
                gate.gate.address.c_str(), outcome.result == 0 ? ("= " + value).c_str() : "failed",
                outcome.latencyMs);
    if (turnaround >= 0) {
      std::printf("  turnaround %.1f ms", turnaround);
    }
    std::printf("%s%s\n", outcome.message.empty() ? "" : "  ", outcome.message.c_str());
  } else {
    report.PrintRow(format,
                    {Number(static_cast<long long>(round)), Text(channel.plan.line.port),
                     Text(gate.gate.address), Text(value),
                     Number(static_cast<long long>(outcome.result)), Number(outcome.latencyMs, 1),
                     turnaround >= 0 ? Number(turnaround, 1) : Text(""), Text(outcome.message)},
                    stdout);
  }
  std::fflush(stdout);
}

void PollChannelThread(ChannelState& state, const PollPlan& plan, WireTrace* trace,
                       const std::atomic<bool>& stop, const Report* stream, OutputFormat format) {
  const auto interval = std::chrono::milliseconds(plan.intervalMs);
  for (long round = 1; !stop && (plan.rounds == 0 || round <= plan.rounds); ++round) {
    const auto start = Clock::now();
    for (GateState& gate : state.gates) {
      if (stop) {
        break;
      }
      const Outcome outcome = state.channel->Read(gate.gate, gate.values);
      std::vector<double> turnarounds;
      if (trace != nullptr) {
        turnarounds = trace->Collect(state.channel->PortHandle());
      }
      {
        const std::scoped_lock lock(state.mutex);
        ++gate.counters.transactions;
        gate.counters.latencyMs.push_back(outcome.latencyMs);
        if (!turnarounds.empty()) {
          gate.counters.turnaroundMs.push_back(turnarounds.front());
        }
        gate.lastResult = outcome.result;
        gate.lastLatency = outcome.latencyMs;
        gate.lastMessage = outcome.message;
        if (outcome.result == 0) {
          gate.values = outcome.values;
          gate.valid = true;
        } else {
          ++gate.counters.failures;
          gate.worstExit = std::max(gate.worstExit, ExitCodeOf(outcome));
        }
      }
      if (stream != nullptr) {
        StreamRow(*stream, format, state, gate, round, outcome,
                  turnarounds.empty() ? -1 : turnarounds.front());
      }
    }
    if (plan.rounds != 0 && round == plan.rounds) {
      break;
    }
    while (!stop && Clock::now() - start < interval) {
      std::this_thread::sleep_for(
          std::min<Clock::duration>(kStopCheck, interval - (Clock::now() - start)));
    }
  }
  state.channel->Stop();
  const std::scoped_lock lock(state.mutex);
  state.done = true;
}

void DrawLive(std::vector<std::unique_ptr<ChannelState>>& channels, const PollPlan& plan,
              Clock::time_point started) {
  Report table({"port", "gate", "value", "state", "ok", "failed", "last ms", "p50 ms", "p95 ms",
                "turnaround ms"});
  for (auto& channel : channels) {
    const std::scoped_lock lock(channel->mutex);
    for (const GateState& gate : channel->gates) {
      const Summary latency = Summarise(gate.counters.latencyMs);
      const Summary turnaround = Summarise(gate.counters.turnaroundMs);
      std::string stateText = gate.lastResult < 0    ? "waiting"
                              : gate.lastResult == 0 ? "ok"
                                                     : "failed";
      if (gate.lastResult > 0 && !gate.lastMessage.empty()) {
        stateText += ": " + gate.lastMessage.substr(gate.lastMessage.find("> ") == std::string::npos
                                                        ? 0
                                                        : gate.lastMessage.find("> ") + 2);
      }
      std::string value = gate.valid ? FormatValue(gate.gate, gate.values) : "-";
      if (value.size() > 40) {
        value = value.substr(0, 37) + "...";
      }
      table.Add(
          {Text(channel->plan.line.port), Text(gate.gate.address), Text(value), Text(stateText),
           Number(static_cast<long long>(gate.counters.transactions - gate.counters.failures)),
           Number(static_cast<long long>(gate.counters.failures)), Number(gate.lastLatency, 1),
           Number(latency.p50, 1), Number(latency.p95, 1),
           turnaround.count > 0 ? Number(turnaround.p50, 1) : Text("-")});
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("\x1b[H\x1b[2J");
  std::printf("mokta poll: %zu channel(s), every %d ms, %.1f s (Ctrl-C stops)\n\n", channels.size(),
              plan.intervalMs, seconds);
  table.Print(OutputFormat::kTable, stdout);
  std::fflush(stdout);
}

void PrintStatistics(std::vector<std::unique_ptr<ChannelState>>& channels,
                     Clock::time_point started, std::FILE* out) {
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  for (auto& channel : channels) {
    Counters total;
    for (const GateState& gate : channel->gates) {
      total.Merge(gate.counters);
    }
    const double failed = total.transactions == 0 ? 0.0
                                                  : 100.0 * static_cast<double>(total.failures) /
                                                        static_cast<double>(total.transactions);
    std::fprintf(out, "\n--- %s poll statistics ---\n", channel->plan.line.port.c_str());
    std::fprintf(out, "%llu transactions, %llu ok, %llu failed, %.1f%% failure, time %.0f ms\n",
                 static_cast<unsigned long long>(total.transactions),
                 static_cast<unsigned long long>(total.transactions - total.failures),
                 static_cast<unsigned long long>(total.failures), failed, ms);
    std::fprintf(out, "latency %s\n", Describe(Summarise(total.latencyMs)).c_str());
    std::fprintf(out, "turnaround %s\n", Describe(Summarise(total.turnaroundMs)).c_str());
  }
}

}  // namespace

int RunPoll(const DriverLibrary& driver, const PollPlan& plan, OutputFormat format, bool live,
            WireTrace* trace, const std::atomic<bool>& stop) {
  std::vector<std::unique_ptr<ChannelState>> channels;
  int exitCode = kExitOk;
  int alias = kFirstAlias;
  // Every channel is set up on this thread: port aliases go into the
  // environment before any channel thread runs.
  for (const PollChannel& plannedChannel : plan.channels) {
    auto state = std::make_unique<ChannelState>();
    state->plan = plannedChannel;
    state->channel = std::make_unique<HostChannel>(driver, plannedChannel.line, alias++);
    if (!state->channel->Start()) {
      std::fprintf(stderr, "mokta: %s\n", state->channel->Problem().c_str());
      return kExitPort;
    }
    for (const std::string& text : plannedChannel.gates) {
      std::string problem;
      auto gate = GateFromText(text, &problem);
      if (!gate) {
        std::fprintf(stderr, "mokta: %s\n", problem.c_str());
        return kExitUsage;
      }
      if (!state->channel->Check(*gate)) {
        std::fprintf(stderr, "mokta: address %s refused: %s\n", text.c_str(),
                     state->channel->Problem().c_str());
        return kExitRefused;
      }
      GateState gateState;
      gateState.gate = *gate;
      gateState.values.assign(static_cast<std::size_t>(gate->Words()), 0);
      state->gates.push_back(std::move(gateState));
    }
    channels.push_back(std::move(state));
  }

  const Report stream(
      {"round", "port", "gate", "value", "result", "latency_ms", "turnaround_ms", "message"});
  const bool streaming = !live;
  if (streaming && format == OutputFormat::kCsv) {
    stream.PrintCsvHeader(stdout);
  }
  const auto started = Clock::now();
  std::vector<std::thread> threads;
  threads.reserve(channels.size());
  for (auto& channel : channels) {
    threads.emplace_back(PollChannelThread, std::ref(*channel), std::cref(plan), trace,
                         std::cref(stop), streaming ? &stream : nullptr, format);
  }
  if (live) {
    for (;;) {
      DrawLive(channels, plan, started);
      const bool allDone = std::all_of(channels.begin(), channels.end(), [](auto& channel) {
        const std::scoped_lock lock(channel->mutex);
        return channel->done;
      });
      if (allDone) {
        break;
      }
      for (auto waited = Clock::duration::zero(); waited < kRedraw && !stop; waited += kStopCheck) {
        std::this_thread::sleep_for(kStopCheck);
      }
    }
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  if (live) {
    DrawLive(channels, plan, started);
  }
  PrintStatistics(channels, started, format == OutputFormat::kTable ? stdout : stderr);
  for (auto& channel : channels) {
    for (const GateState& gate : channel->gates) {
      exitCode = std::max(exitCode, gate.worstExit);
    }
  }
  return exitCode;
}

}  // namespace mokta
