#include "wire_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace mokta {
namespace {

constexpr uint8_t kEot = 0x04;
constexpr auto kMarkWait = std::chrono::seconds(2);

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::unique_ptr<WireTrace> WireTrace::Start(const std::string& file, std::string* problem) {
  std::FILE* out = nullptr;
  if (!file.empty()) {
    out = std::fopen(file.c_str(), "w");
    if (out == nullptr) {
      *problem = "cannot write the trace file " + file + ": " +
                 std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
      return nullptr;
    }
    std::fputs("# wire trace: seconds (monotonic clock), port handle, event, bytes\n", out);
  }
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) {
    *problem = std::string("cannot open the trace pipe: ") +
               std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
    if (out != nullptr) {
      std::fclose(out);
    }
    return nullptr;
  }
  const std::string path = "/dev/fd/" + std::to_string(ends[1]);
  ::setenv("LORVANT_TRACE", path.c_str(), 1);  // NOLINT(concurrency-mt-unsafe): before any thread
  return std::unique_ptr<WireTrace>(new WireTrace(ends[0], ends[1], out));
}

WireTrace::WireTrace(int readEnd, int writeEnd, std::FILE* file)
    : readEnd_(readEnd), writeEnd_(writeEnd), file_(file), reader_([this] { Read(); }) {}

WireTrace::~WireTrace() {
  {
    const std::scoped_lock lock(writing_);
    WriteAll(writeEnd_, "quit\n");
  }
  reader_.join();
  ::close(readEnd_);
  ::close(writeEnd_);
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

void WireTrace::Read() {
  std::string pending;
  std::array<char, 4096> chunk{};
  for (;;) {
    const ssize_t n = ::read(readEnd_, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    pending.append(chunk.data(), static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end = pending.find('\n'); end != std::string::npos;
         end = pending.find('\n', start)) {
      const std::string line = pending.substr(start, end - start);
      start = end + 1;
      if (line == "quit") {
        return;
      }
      Take(line);
    }
    pending.erase(0, start);
  }
}

// One line: "mark N" from Collect, or the driver's "SECONDS hHANDLE EVENT [BYTES]".
void WireTrace::Take(const std::string& line) {
  uint64_t mark = 0;
  if (std::sscanf(line.c_str(), "mark %" SCNu64, &mark) == 1) {  // NOLINT(cert-err34-c)
    {
      const std::scoped_lock lock(mutex_);
      seenMark_ = mark;
    }
    marked_.notify_all();
    return;
  }
  if (file_ != nullptr) {
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
  }
  double seconds = 0;
  uintptr_t handle = 0;
  std::array<char, 32> event{};
  unsigned first = 0;
  // The driver wrote the line; a line that does not scan is skipped.
  // NOLINTNEXTLINE(cert-err34-c)
  const int fields = std::sscanf(line.c_str(), "%lf h%" SCNuPTR " %31s %x", &seconds, &handle,
                                 event.data(), &first);
  if (fields < 3) {
    return;
  }
  const std::string name = event.data();
  const std::scoped_lock lock(mutex_);
  PortState& port = ports_[handle];
  if (name == "tx") {
    port.requestWritten = fields == 4 && first == kEot;
    port.sentAt = -1;
  } else if (name == "sent" && port.requestWritten) {
    port.sentAt = seconds;
    port.requestWritten = false;
  } else if (name == "rx" && port.sentAt >= 0) {
    port.turnarounds.push_back((seconds - port.sentAt) * 1000.0);
    port.sentAt = -1;
  }
}

std::vector<double> WireTrace::Collect(const void* handle) {
  uint64_t mark = 0;
  {
    // Marks go into the pipe in the order of their numbers.
    const std::scoped_lock lock(writing_);
    mark = ++nextMark_;
    WriteAll(writeEnd_, "mark " + std::to_string(mark) + "\n");
  }
  std::unique_lock lock(mutex_);
  marked_.wait_for(lock, kMarkWait, [&] { return seenMark_ >= mark; });
  PortState& port = ports_[reinterpret_cast<uintptr_t>(
      handle)];  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
  std::vector<double> taken;
  taken.swap(port.turnarounds);
  return taken;
}

}  // namespace mokta
