// The serial line in fixed memory; see memory_line.h.

#include "support/memory_line.h"

#include <algorithm>

namespace lorvant::testing {
namespace {

MemoryLine* active = nullptr;

constexpr DWORD kReadTimeoutMs = 100;

BOOL WINAPI Escape(HANDLE /*handle*/, DWORD /*function*/) {
  return TRUE;
}

BOOL WINAPI Status(HANDLE /*handle*/, LPDWORD errors, LPCOMSTAT status) {
  if (errors != nullptr) {
    *errors = 0;
  }
  if (status != nullptr) {
    *status = COMSTAT{};
    status->cbInQue = active->Pending();
  }
  return TRUE;
}

BOOL WINAPI GetTimeouts(HANDLE /*handle*/, LPCOMMTIMEOUTS timeouts) {
  *timeouts = COMMTIMEOUTS{};
  timeouts->ReadTotalTimeoutConstant = kReadTimeoutMs;
  return TRUE;
}

BOOL WINAPI SetTimeouts(HANDLE /*handle*/, LPCOMMTIMEOUTS /*timeouts*/) {
  return TRUE;
}

BOOL WINAPI Read(HANDLE /*handle*/, LPVOID buffer, DWORD count, LPDWORD transferred,
                 LPOVERLAPPED /*overlapped*/) {
  *transferred = active->Take(std::span(static_cast<uint8_t*>(buffer), count));
  if (*transferred < count) {
    active->nowMs += kReadTimeoutMs;
  }
  return TRUE;
}

BOOL WINAPI Write(HANDLE /*handle*/, LPCVOID /*buffer*/, DWORD count, LPDWORD transferred,
                  LPOVERLAPPED /*overlapped*/) {
  *transferred = count;
  active->Deliver();
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
  active->nowMs += milliseconds;
}

int64_t Clock() {
  return active->nowMs;
}

}  // namespace

MemoryLine::MemoryLine(std::span<const uint8_t> script) : script_(script) {
  table_ = serial::PlatformSyscalls();
  table_.escapeCommFunction = &Escape;
  table_.clearCommError = &Status;
  table_.getCommTimeouts = &GetTimeouts;
  table_.setCommTimeouts = &SetTimeouts;
  table_.readFile = &Read;
  table_.writeFile = &Write;
  table_.sleep = &Sleep;
  table_.clockMs = &Clock;
  active = this;
  serial::SetSyscalls(&table_);
}

MemoryLine::~MemoryLine() {
  serial::SetSyscalls(nullptr);
  active = nullptr;
}

std::vector<uint8_t> MemoryLine::Script(const std::vector<std::vector<uint8_t>>& replies) {
  std::vector<uint8_t> script;
  for (const std::vector<uint8_t>& reply : replies) {
    script.push_back(static_cast<uint8_t>(reply.size()));
    script.insert(script.end(), reply.begin(), reply.end());
  }
  return script;
}

void MemoryLine::Deliver() {
  if (script_.empty()) {
    return;
  }
  const std::size_t length = std::min<std::size_t>(script_[0], script_.size() - 1);
  for (const uint8_t byte : script_.subspan(1, length)) {
    input_[tail_++ % input_.size()] = byte;
  }
  head_ = std::max(head_, tail_ > input_.size() ? tail_ - input_.size() : 0);
  script_ = script_.subspan(1 + length);
}

DWORD MemoryLine::Take(std::span<uint8_t> bytes) {
  DWORD n = 0;
  while (n < bytes.size() && head_ < tail_) {
    bytes[n++] = input_[head_++ % input_.size()];
  }
  return n;
}

}  // namespace lorvant::testing
