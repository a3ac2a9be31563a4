#include "mokta/sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace mokta::sim {
namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

std::optional<speed_t> SpeedOf(int baud) {
  static constexpr std::array<std::pair<int, speed_t>, 18> kSpeeds{{{50, B50},
                                                                    {75, B75},
                                                                    {110, B110},
                                                                    {150, B150},
                                                                    {300, B300},
                                                                    {600, B600},
                                                                    {1200, B1200},
                                                                    {2400, B2400},
                                                                    {4800, B4800},
                                                                    {9600, B9600},
                                                                    {19200, B19200},
                                                                    {38400, B38400},
                                                                    {57600, B57600},
                                                                    {115200, B115200},
                                                                    {230400, B230400},
                                                                    {460800, B460800},
                                                                    {921600, B921600},
                                                                    {1000000, B1000000}}};
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) {
      return speed;
    }
  }
  return std::nullopt;
}

// Raw mode with the line's settings. A pseudo-terminal keeps 8 bits without
// parity whatever is asked; a real port must take them all.
bool ApplyLine(int fd, const LineSettings& line, bool exact) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) {
    return false;
  }
  ::cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  switch (line.dataBits) {
    case 5:
      settings.c_cflag |= CS5;
      break;
    case 6:
      settings.c_cflag |= CS6;
      break;
    case 7:
      settings.c_cflag |= CS7;
      break;
    default:
      settings.c_cflag |= CS8;
      break;
  }
  switch (line.parity) {
    case Parity::None:
      break;
    case Parity::Odd:
      settings.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Even:
      settings.c_cflag |= PARENB;
      break;
    case Parity::Mark:
      settings.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::Space:
      settings.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (line.stopBits == 2) {
    settings.c_cflag |= CSTOPB;
  }
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (line.parity != Parity::None) {
    settings.c_iflag |= INPCK;
  }
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  const std::optional<speed_t> speed = SpeedOf(line.baud);
  if (speed) {
    ::cfsetispeed(&settings, *speed);
    ::cfsetospeed(&settings, *speed);
  } else if (exact) {
    return false;
  }
  return ::tcsetattr(fd, TCSANOW, &settings) == 0 || !exact;
}

void CheckLine(const LineSettings& line) {
  if (line.baud <= 0 || line.dataBits < 5 || line.dataBits > 8 ||
      (line.stopBits != 1 && line.stopBits != 2)) {
    throw LineError(LineError::Reason::Other,
                    "line settings out of range: baud " + std::to_string(line.baud) +
                        ", data bits " + std::to_string(line.dataBits) + " (5..8), stop bits " +
                        std::to_string(line.stopBits) + " (1 or 2)");
  }
}

// A pipe that wakes the poll in Run when a stop is requested.
class Wakeup {
 public:
  Wakeup() {
    if (::pipe2(fds_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
      fds_ = {-1, -1};
    }
  }
  ~Wakeup() {
    for (const int fd : fds_) {
      if (fd >= 0) {
        ::close(fd);
      }
    }
  }
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;
  Wakeup(Wakeup&&) = delete;
  Wakeup& operator=(Wakeup&&) = delete;

  int ReadEnd() const { return fds_[0]; }
  void Signal() const {
    const char byte = 1;
    if (fds_[1] >= 0) {
      [[maybe_unused]] const ssize_t ignored = ::write(fds_[1], &byte, 1);
    }
  }

 private:
  std::array<int, 2> fds_{-1, -1};
};

// A trace event waiting for its bytes to go out: it is written to the trace
// when the first of them is sent (at once for an answer kept back).
struct PendingEvent {
  uint64_t firstByte = 0;
  TraceEvent event;
};

}  // namespace

std::optional<Parity> ParseParity(std::string_view name) {
  if (name == "none") {
    return Parity::None;
  }
  if (name == "odd") {
    return Parity::Odd;
  }
  if (name == "even") {
    return Parity::Even;
  }
  if (name == "mark") {
    return Parity::Mark;
  }
  if (name == "space") {
    return Parity::Space;
  }
  return std::nullopt;
}

Seconds CharacterTime(const LineSettings& line) {
  const int bits = 1 + line.dataBits + (line.parity == Parity::None ? 0 : 1) + line.stopBits;
  return Seconds(static_cast<double>(bits) / static_cast<double>(std::max(line.baud, 1)));
}

Simulator::Simulator(const Plant& plant, SimulatorOptions options)
    : engine_(plant, options.faults), options_(std::move(options)) {}

Simulator::~Simulator() {
  Close();
}

void Simulator::Close() {
  if (link_) {
    std::error_code ignored;
    // Only our own link goes: something else may have taken its place.
    if (std::filesystem::is_symlink(*link_, ignored) &&
        std::filesystem::read_symlink(*link_, ignored) == portPath_) {
      std::filesystem::remove(*link_, ignored);
    }
    link_.reset();
  }
  for (int* fd : {&fd_, &heldSlave_}) {
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
  }
}

void Simulator::OpenPty(const std::optional<std::filesystem::path>& link) {
  CheckLine(options_.line);
  Close();
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    throw LineError(LineError::Reason::Other, "no pseudo-terminal: " + ErrnoText(errno));
  }
  fd_ = master;
  std::array<char, 128> name{};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name.data(), name.size()) != 0) {
    const int error = errno;
    Close();
    throw LineError(LineError::Reason::Other, "pseudo-terminal not usable: " + ErrnoText(error));
  }
  portPath_ = name.data();
  heldSlave_ = ::open(portPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (heldSlave_ < 0 || !ApplyLine(heldSlave_, options_.line, false)) {
    const int error = errno;
    Close();
    throw LineError(LineError::Reason::Other,
                    "pseudo-terminal slave " + portPath_ + " not usable: " + ErrnoText(error));
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  if (link) {
    std::error_code error;
    if (std::filesystem::is_symlink(*link, error)) {
      std::filesystem::remove(*link, error);
    }
    std::filesystem::create_symlink(portPath_, *link, error);
    if (error) {
      Close();
      throw LineError(LineError::Reason::Other,
                      "cannot make the link " + link->string() + ": " + error.message());
    }
    link_ = *link;
  }
}

void Simulator::OpenDevice(const std::filesystem::path& path) {
  CheckLine(options_.line);
  if (!SpeedOf(options_.line.baud)) {
    throw LineError(LineError::Reason::Other, "baud rate " + std::to_string(options_.line.baud) +
                                                  " not supported by " + path.string());
  }
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    const LineError::Reason reason = error == ENOENT || error == ENODEV || error == ENXIO
                                         ? LineError::Reason::NotFound
                                     : error == EBUSY ? LineError::Reason::Busy
                                                      : LineError::Reason::Other;
    throw LineError(
        reason, path.string() + ": " +
                    (reason == LineError::Reason::NotFound ? "no such device" : ErrnoText(error)));
  }
  fd_ = fd;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    Close();
    throw LineError(
        error == EWOULDBLOCK || error == EBUSY ? LineError::Reason::Busy : LineError::Reason::Other,
        path.string() + ": busy (held by another program)");
  }
  if (::isatty(fd) == 0 || !ApplyLine(fd, options_.line, true)) {
    Close();
    throw LineError(LineError::Reason::Other,
                    path.string() + ": not a serial port, or it refuses the line settings");
  }
  ::tcflush(fd, TCIOFLUSH);
  portPath_ = path.string();
}

void Simulator::OpenDevice(const std::filesystem::path& path, int baud, int dataBits, Parity parity,
                           int stopBits) {
  options_.line = LineSettings{baud, dataBits, parity, stopBits};
  OpenDevice(path);
}

void Simulator::Run(const std::stop_token& stop) {
  if (fd_ < 0) {
    failure_ = "no line open";
    return;
  }
  const Wakeup wakeup;
  const std::stop_callback onStop(stop, [&wakeup] { wakeup.Signal(); });
  const Clock::time_point start = Clock::now();
  const auto characterTime =
      std::chrono::duration_cast<Clock::duration>(CharacterTime(options_.line));
  const auto since = [start](Clock::time_point t) { return Seconds(t - start); };

  std::deque<uint8_t> queue;         // bytes to send
  std::deque<PendingEvent> pending;  // their trace events
  uint64_t queued = 0;               // bytes ever queued
  uint64_t sent = 0;                 // bytes ever sent
  Clock::time_point sendAt{};

  const auto trace = [this](const TraceEvent& event) {
    if (options_.trace) {
      options_.trace(FormatTrace(event));
    }
  };

  while (!stop.stop_requested()) {
    timespec timeout{};
    const timespec* wait = nullptr;  // no time limit while nothing waits to go out
    if (!queue.empty() || !pending.empty()) {
      const auto left =
          std::max(std::chrono::duration_cast<std::chrono::nanoseconds>(sendAt - Clock::now()),
                   std::chrono::nanoseconds{0});
      timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
      wait = &timeout;
    }
    std::array<pollfd, 2> fds{pollfd{fd_, POLLIN, 0}, pollfd{wakeup.ReadEnd(), POLLIN, 0}};
    const int ready = ::ppoll(fds.data(), fds.size(), wait, nullptr);
    if (ready < 0 && errno != EINTR) {
      failure_ = "poll: " + ErrnoText(errno);
      return;
    }
    if (stop.stop_requested()) {
      break;
    }
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      std::array<uint8_t, 512> chunk{};
      const ssize_t n = ::read(fd_, chunk.data(), chunk.size());
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        failure_ = "read from " + portPath_ + ": " + ErrnoText(errno);
        return;
      }
      if (n == 0) {
        failure_ = portPath_ + " closed";
        return;
      }
      if (n > 0) {
        const Clock::time_point now = Clock::now();
        Output out =
            engine_.Receive(std::span(chunk).first(static_cast<std::size_t>(n)), since(now));
        if (out.newFrame) {
          queue.clear();
          pending.clear();
          sent = queued;
        }
        const bool idle = queue.empty() && pending.empty();
        for (TraceEvent& event : out.events) {
          if (event.direction == Direction::Rx) {
            trace(event);
            continue;
          }
          const uint64_t first = queued;
          queued += event.bytes.size();
          queue.insert(queue.end(), event.bytes.begin(), event.bytes.end());
          pending.push_back(PendingEvent{first, std::move(event)});
        }
        if (idle && (!queue.empty() || !pending.empty())) {
          // Each character is handed over when the line would have carried
          // it whole, stop bits included.
          sendAt = options_.timing ? now + options_.turnaround + characterTime : now;
        }
      }
    }
    // Send what is due: one character at a time at the line's pace, or all at once.
    while ((!queue.empty() || !pending.empty()) && Clock::now() >= sendAt) {
      const Clock::time_point now = Clock::now();
      while (!pending.empty() && pending.front().firstByte <= sent) {
        pending.front().event.time = since(now);
        trace(pending.front().event);
        pending.pop_front();
      }
      if (queue.empty()) {
        break;
      }
      const std::size_t count = options_.timing ? 1 : queue.size();
      const std::vector<uint8_t> bytes(queue.begin(),
                                       queue.begin() + static_cast<std::ptrdiff_t>(count));
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        failure_ = "write to " + portPath_ + ": " + ErrnoText(errno);
        return;
      }
      // A full output buffer drops the bytes, as a line nobody listens to would.
      queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(count));
      sent += count;
      if (options_.timing) {
        sendAt += characterTime;
        break;
      }
    }
  }
}

}  // namespace mokta::sim
