// The link layer: sending under RTS, receiving and classifying a reply, and
// pacing frames by the inter-frame gap.

#include "link/link.h"

#include <algorithm>
#include <cstddef>

#include "host/runtime.h"
#include "serial/serial.h"
#include "serial/syscalls.h"

namespace lorvant::link {
namespace {

// The drain poll sleeps this long between two looks at the output queue.
constexpr DWORD kDrainPollMs = 1;

// Stopwatch readings are seconds; the gap is compared in milliseconds
// measured a little generously, so that a clock that ticks exactly the gap
// never counts as short.
constexpr double kSecondsPerMs = 0.001;
constexpr double kMeasuredMsPerSecond = 1001.0;

// Longest reply a length can count.
constexpr std::size_t kMaxReplyLength = 0xFFFF;

// Raises or drops RTS; a device without modem lines (the null device, a
// pseudo-terminal) refuses, and the frame goes out all the same.
void SetRts(HANDLE port, DWORD function) {
  if (serial::Sys().escapeCommFunction(port, function) != TRUE) {
    err(kLogDetail, "MOKTA> Send() EscapeCommFunction() failed");
  }
}

// Waits until the device's output queue is empty. Every successful look is
// followed by at least one poll sleep; a failed look ends the wait.
void DrainOutput(HANDLE port) {
  const serial::Syscalls& sys = serial::Sys();
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (sys.clearCommError(port, &errors, &status) != TRUE) {
      err(kLogDetail, "MOKTA> Send() ClearCommError() failed");
      return;
    }
    sys.sleep(kDrainPollMs);
    if (status.cbOutQue == 0) {
      return;
    }
  }
}

// Reads one byte into the given place of the buffer.
bool ReadByte(HANDLE port, std::span<uint8_t> buffer, std::size_t index) {
  return serial::ComRead(port, buffer.subspan(index, 1), nullptr) == serial::kComOk;
}

// Reads the rest of a block whose STX stands in buffer[0]: byte by byte until
// endCharacter, then its BCC. Every byte read needs a place in the buffer; a
// block that does not fit is refused once the buffer is full.
int ReceiveBlock(std::span<uint8_t> buffer, uint16_t* length, HANDLE port, uint8_t endCharacter) {
  for (std::size_t last = 0; last + 1 < buffer.size(); ++last) {  // last: the last byte stored
    if (buffer[last] == endCharacter) {
      // The BCC position counts even when its byte does not come: the
      // caller's check of the BCC then finds what the position holds.
      ReadByte(port, buffer, last + 1);
      *length = static_cast<uint16_t>(last + 2);
      return kLinkOk;
    }
    if (!ReadByte(port, buffer, last + 1)) {
      break;
    }
  }
  err(kLogDetail, "MOKTA> Receive() Reply not ended with %02x",
      static_cast<unsigned>(endCharacter));
  return kLinkRefused;
}

}  // namespace

int Send(std::span<const uint8_t> frame, const ChannelContext& channel) {
  HANDLE port = channel.portHandle;
  if (channel.ifg != 0) {
    WaitIFG(channel);
  }
  SetRts(port, SETRTS);
  serial::ComPurgeInput(port);
  DWORD written = 0;
  const int wrote = serial::ComWrite(port, frame, &written);
  DrainOutput(port);
  serial::ComSleep(kRtsHoldMs);
  SetRts(port, CLRRTS);
  if (wrote == serial::kComOk && written == frame.size()) {
    return kLinkOk;
  }
  err(kLogDetail, "MOKTA> Send() Unable to send message.");
  return kLinkFailed;
}

int Receive(std::span<uint8_t> buffer, uint16_t* length, HANDLE port, uint8_t endCharacter) {
  buffer = buffer.first(std::min(buffer.size(), kMaxReplyLength));
  if (buffer.empty() || !ReadByte(port, buffer, 0)) {
    err(kLogDetail, "MOKTA> Receive() No reply");
    return kLinkFailed;
  }
  switch (buffer[0]) {
    case kStx:
      return ReceiveBlock(buffer, length, port, endCharacter);
    case kAck:
      *length = 1;
      return kLinkOk;
    case kSoh:
      err(kLogDetail, "MOKTA> Receive() Plc sent SOH");
      return kLinkRefused;
    case kEot:
      err(kLogDetail, "MOKTA> Receive() EOT Replied");
      return kLinkRefused;
    case kNak:
      err(kLogDetail, "MOKTA> Receive() Reply with NAK");
      return kLinkRefused;
    default:
      err(kLogDetail, "MOKTA> Receive() Unknown start of reply (hex. %02X)",
          static_cast<unsigned>(buffer[0]));
      return kLinkRefused;
  }
}

double StartStopwatch(double* start) {
  *start = static_cast<double>(serial::Sys().clockMs()) * kSecondsPerMs;
  return *start;
}

double ReadStopwatch(double start) {
  return (static_cast<double>(serial::Sys().clockMs()) * kSecondsPerMs) - start;
}

void WaitIFG(uint16_t gapMs) {
  double start = 0.0;
  StartStopwatch(&start);
  for (;;) {
    serial::ComSleep(gapMs);
    // Held wide: a gap near the top of its 16 bits measures above 65535 ms.
    const auto measured = static_cast<int64_t>(ReadStopwatch(start) * kMeasuredMsPerSecond);
    if (measured >= gapMs) {
      return;
    }
    err(kLogDetail, "MOKTA> IFG failed (%dms < %dms)", static_cast<int>(measured),
        static_cast<int>(gapMs));
  }
}

void WaitIFG(const ChannelContext& channel) {
  WaitIFG(channel.ifg);
}

}  // namespace lorvant::link
