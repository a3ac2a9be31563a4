// The simulator over a real pseudo-terminal, in-process and as the mokta-sim
// program. Real time: only lower bounds are asserted, and generous limits
// that catch a hang.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mokta/sim/plant.h"
#include "mokta/sim/simulator.h"
#include "mokta/wire.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace mokta::sim {
namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr auto kHang = std::chrono::seconds(5);

std::filesystem::path TempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("mokta-sim-test-" + std::to_string(::getpid()) + "-" + name);
}

// The driver's end of the line: the slave, raw.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios settings{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &settings) == 0) {
      ::cfmakeraw(&settings);
      ::tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~Port() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  Port(Port&&) = delete;
  Port& operator=(Port&&) = delete;

  bool Open() const { return fd_ >= 0; }
  void Write(const Bytes& bytes) const {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until count bytes came or the hang limit passed.
  Bytes Read(std::size_t count) const {
    Bytes bytes;
    const Clock::time_point limit = Clock::now() + kHang;
    while (bytes.size() < count && Clock::now() < limit) {
      pollfd fd{fd_, POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) {
        continue;
      }
      std::array<uint8_t, 64> chunk{};
      const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
      if (n <= 0) {
        break;
      }
      bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    return bytes;
  }

 private:
  int fd_;
};

// Setpoint of zone 1 in the built-in plant: it does not move.
Bytes SetpointReply() {
  const std::array element{wire::Element{1, 300, wire::FormatFieldOf(0)}};
  return wire::ReplyBlock(element, true);
}

class SimPty : public ::testing::Test {
 protected:
  void Start(SimulatorOptions options = {}) {
    options.trace = [this](const std::string& line) {
      const std::scoped_lock lock(mutex);
      traceLines.push_back(line);
    };
    simulator.emplace(DefaultPlant(), options);
    simulator->OpenPty(link);
    thread = std::jthread([this](const std::stop_token& stop) { simulator->Run(stop); });
  }

  void TearDown() override {
    thread = {};
    simulator.reset();
  }

  std::vector<std::string> Trace() const {
    const std::scoped_lock lock(mutex);
    return traceLines;
  }

  std::filesystem::path link = TempPath("link");
  std::optional<Simulator> simulator;
  std::jthread thread;
  mutable std::mutex mutex;
  std::vector<std::string> traceLines;
};

TEST_F(SimPty, AnswersAReadNoSoonerThanTheLineCarriesIt) {
  Start();
  const Port port(link.string());
  ASSERT_TRUE(port.Open());
  const Bytes reply = SetpointReply();
  const Clock::time_point sent = Clock::now();
  port.Write(wire::ReadRequest(0x01, 1, 1));
  EXPECT_EQ(port.Read(reply.size()), reply) << "exactly the reply: nothing echoed";
  const auto elapsed = Clock::now() - sent;
  // 7 characters of 11 bits at 9600 baud, after a 2 ms turnaround.
  const auto least = CharacterTime(LineSettings{}) * 7.0 + std::chrono::milliseconds(2);
  EXPECT_GE(elapsed, least);
  EXPECT_LT(elapsed, kHang);
}

TEST_F(SimPty, ThePortMayBeClosedAndOpenedAgain) {
  SimulatorOptions options;
  options.timing = false;
  Start(options);
  for (int round = 0; round < 3; ++round) {
    const Port port(simulator->PortPath());
    ASSERT_TRUE(port.Open()) << "round " << round;
    port.Write(wire::ReadRequest(0x01, 1, 1));
    EXPECT_EQ(port.Read(SetpointReply().size()), SetpointReply()) << "round " << round;
  }
  EXPECT_TRUE(simulator->Failure().empty()) << simulator->Failure();
}

TEST_F(SimPty, TracesEachFrameAndCountsIt) {
  SimulatorOptions options;
  options.timing = false;
  options.faults.script = {{1, FaultKind::Bcc}};
  Start(options);
  const Port port(simulator->PortPath());
  port.Write(wire::ReadRequest(0x01, 1, 1));
  EXPECT_EQ(port.Read(SetpointReply().size()).size(), SetpointReply().size());
  port.Write({wire::kNak});
  EXPECT_EQ(port.Read(SetpointReply().size()), SetpointReply());
  const Clock::time_point limit = Clock::now() + kHang;
  while (Trace().size() < 4 && Clock::now() < limit) {
    std::this_thread::yield();
  }
  const std::vector<std::string> trace = Trace();
  ASSERT_EQ(trace.size(), 4U);
  EXPECT_THAT(trace[0], HasSubstr(" rx 04 81 81 80 05  read request: instrument 01, parameter 1"));
  EXPECT_THAT(trace[1], HasSubstr(" tx 02 81 84 82 AC 03 "));
  EXPECT_THAT(trace[1], HasSubstr("wrong, expected A8 [fault: bcc]"));
  EXPECT_THAT(trace[2], HasSubstr(" rx 15  NAK"));
  EXPECT_THAT(trace[3], HasSubstr("BCC A8 ok"));
  const Counters counters = simulator->GetEngine().GetCounters();
  EXPECT_EQ(counters.requests, 1U);
  EXPECT_EQ(counters.replyBlocks, 2U);
  EXPECT_EQ(counters.faults, 1U);
}

TEST_F(SimPty, TheLinkGoesWithTheSimulatorAndAStaleOneIsReplaced) {
  std::filesystem::create_symlink("/nonexistent", link);
  Start();
  EXPECT_EQ(std::filesystem::read_symlink(link), simulator->PortPath());
  TearDown();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(SimDevice, AMissingDeviceIsSaidToBeMissing) {
  Simulator simulator(DefaultPlant());
  try {
    simulator.OpenDevice("/dev/nonexistent-tty");
    FAIL() << "opened";
  } catch (const LineError& error) {
    EXPECT_EQ(error.Cause(), LineError::Reason::NotFound);
    EXPECT_THAT(error.what(), HasSubstr("/dev/nonexistent-tty"));
  }
}

TEST(SimDevice, CharacterTimeCountsEveryBit) {
  EXPECT_DOUBLE_EQ(CharacterTime(LineSettings{9600, 8, Parity::Even, 1}).count(), 11.0 / 9600);
  EXPECT_DOUBLE_EQ(CharacterTime(LineSettings{19200, 7, Parity::None, 2}).count(), 10.0 / 19200);
}

// --- the program ---

struct Finished {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class Program {
 public:
  explicit Program(const std::vector<std::string>& args) {
    std::vector<std::string> argv{MOKTA_SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (std::string& arg : argv) {
      pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    std::array<int, 2> out{};
    std::array<int, 2> err{};
    if (::pipe(out.data()) != 0 || ::pipe(err.data()) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    if (posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (const int fd : {out_, err_}) {
      if (fd >= 0) {
        ::close(fd);
      }
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  Program(Program&&) = delete;
  Program& operator=(Program&&) = delete;

  // A line of standard output, without its end; empty on a hang or the end.
  std::string Line() {
    std::string line;
    const Clock::time_point limit = Clock::now() + kHang;
    while (Clock::now() < limit) {
      pollfd fd{out_, POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) {
        continue;
      }
      char c = 0;
      if (::read(out_, &c, 1) != 1 || c == '\n') {
        break;
      }
      line += c;
    }
    return line;
  }

  Finished Wait(int signal = 0) {
    Finished finished;
    if (signal != 0) {
      ::kill(pid_, signal);
    }
    finished.out = Drain(out_);
    finished.err = Drain(err_);
    int status = 0;
    if (::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) {
      finished.exitCode = WEXITSTATUS(status);
    }
    pid_ = -1;
    return finished;
  }

 private:
  static std::string Drain(int fd) {
    std::string text;
    const Clock::time_point limit = Clock::now() + kHang;
    while (Clock::now() < limit) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) {
        continue;
      }
      std::array<char, 256> chunk{};
      const ssize_t n = ::read(fd, chunk.data(), chunk.size());
      if (n <= 0) {
        break;
      }
      text.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return text;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

TEST(SimProgram, ServesThePortUntilTermAndRemovesItsLink) {
  const std::filesystem::path link = TempPath("program-link");
  Program program({"--link", link.string(), "--trace"});
  const std::string port = program.Line();
  ASSERT_THAT(port, ::testing::StartsWith("port: /dev/"));
  EXPECT_EQ(program.Line(), "link: " + link.string());
  {
    const Port line(link.string());
    ASSERT_TRUE(line.Open());
    line.Write(wire::ReadRequest(0x01, 1, 1));
    EXPECT_EQ(line.Read(SetpointReply().size()), SetpointReply());
  }
  const Finished finished = program.Wait(SIGTERM);
  EXPECT_EQ(finished.exitCode, 0) << finished.err;
  EXPECT_THAT(finished.err, HasSubstr("read request: instrument 01, parameter 1"));
  EXPECT_THAT(finished.err, HasSubstr("requests 1, reply blocks 1"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(SimProgram, BadUsageAndMissingDevicesHaveTheirExitCodes) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  };
  const std::array cases{
      Case{{"--bogus"}, 2, "--bogus"},
      Case{{"--parity", "sometimes"}, 2, "--parity"},
      Case{{"--fault-script", "0:bcc"}, 2, "bad fault script entry '0:bcc'"},
      Case{{"--faults", "bcc,crc"}, 2, "unknown fault kind 'crc'"},
      Case{{"--plant", "/nonexistent/plant.toml"}, 2, "/nonexistent/plant.toml"},
      Case{{"--device", "/dev/nonexistent-tty"}, 4, "/dev/nonexistent-tty: no such device"},
      Case{{"--device", "/dev/tty0", "--pty"}, 2, "excludes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Program program(c.args);
    const Finished finished = program.Wait();
    EXPECT_EQ(finished.exitCode, c.exitCode);
    EXPECT_THAT(finished.err, HasSubstr(c.message));
  }
}

}  // namespace
}  // namespace mokta::sim
