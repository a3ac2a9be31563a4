// The scripted stand-in for the Win32 communications calls; see fake_serial.h.

#include "support/fake_serial.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace lorvant::testing {
namespace {

FakeSerial* active = nullptr;

int64_t H(HANDLE handle) {
  return static_cast<int64_t>(reinterpret_cast<intptr_t>(handle));
}

HANDLE WINAPI FakeCreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
  active->Record("CreateFileA",
                 {access, shareMode, security == nullptr ? 0 : 1, disposition, flags,
                  templateFile == nullptr ? 0 : 1},
                 name == nullptr ? "" : name);
  return active->Fails("CreateFileA") ? INVALID_HANDLE_VALUE : active->handle;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  active->Record("CloseHandle", {H(handle)});
  return active->Fails("CloseHandle") ? FALSE : TRUE;
}

BOOL WINAPI FakeGetCommState(HANDLE handle, LPDCB dcb) {
  active->Record("GetCommState", {H(handle), dcb->DCBlength});
  if (active->Fails("GetCommState")) {
    return FALSE;
  }
  const DWORD length = dcb->DCBlength;
  *dcb = active->dcb;
  dcb->DCBlength = length;
  return TRUE;
}

BOOL WINAPI FakeSetCommState(HANDLE handle, LPDCB dcb) {
  active->Record("SetCommState", {H(handle)});
  active->lastSetState = *dcb;
  if (active->Fails("SetCommState")) {
    return FALSE;
  }
  active->dcb = *dcb;
  return TRUE;
}

BOOL WINAPI FakeGetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  active->Record("GetCommTimeouts", {H(handle)});
  if (active->Fails("GetCommTimeouts")) {
    return FALSE;
  }
  *timeouts = active->timeouts;
  return TRUE;
}

BOOL WINAPI FakeSetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  active->Record("SetCommTimeouts",
                 {H(handle), timeouts->ReadIntervalTimeout, timeouts->ReadTotalTimeoutMultiplier,
                  timeouts->ReadTotalTimeoutConstant, timeouts->WriteTotalTimeoutMultiplier,
                  timeouts->WriteTotalTimeoutConstant});
  if (active->Fails("SetCommTimeouts")) {
    return FALSE;
  }
  active->timeouts = *timeouts;
  return TRUE;
}

BOOL WINAPI FakeSetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
  active->Record("SetupComm", {H(handle), inQueue, outQueue});
  return active->Fails("SetupComm") ? FALSE : TRUE;
}

BOOL WINAPI FakeClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  active->Record("ClearCommError", {H(handle)});
  if (active->Fails("ClearCommError")) {
    return FALSE;
  }
  if (errors != nullptr) {
    *errors = 0;
  }
  if (status != nullptr) {
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(active->input.size());
    if (!active->outQueue.empty()) {
      status->cbOutQue = active->outQueue.front();
      active->outQueue.pop_front();
    }
  }
  return TRUE;
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD transferred,
                         LPOVERLAPPED overlapped) {
  active->Record("ReadFile", {H(handle), count, overlapped == nullptr ? 0 : 1});
  *transferred = 0;
  if (active->Fails("ReadFile")) {
    return FALSE;
  }
  DWORD n = std::min<DWORD>(count, static_cast<DWORD>(active->input.size()));
  if (!active->readLimits.empty()) {
    n = std::min(n, active->readLimits.front());
    active->readLimits.pop_front();
  }
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (DWORD i = 0; i < n; ++i) {
    bytes[i] = active->input.front();
    active->input.pop_front();
  }
  *transferred = n;
  // A read that ends short has waited out its time-out.
  if (n < count) {
    active->nowMs += active->timeouts.ReadTotalTimeoutConstant;
  }
  return TRUE;
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD transferred,
                          LPOVERLAPPED overlapped) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  std::string text(reinterpret_cast<const char*>(bytes), count);
  active->Record("WriteFile", {H(handle), count, overlapped == nullptr ? 0 : 1}, std::move(text));
  *transferred = 0;
  if (active->Fails("WriteFile")) {
    return FALSE;
  }
  DWORD n = count;
  if (!active->writeLimits.empty()) {
    n = std::min(n, active->writeLimits.front());
    active->writeLimits.pop_front();
  }
  active->sent.insert(active->sent.end(), bytes, bytes + n);
  *transferred = n;
  if (active->onWrite) {
    active->onWrite(std::span<const uint8_t>(bytes, n));
  }
  return TRUE;
}

DWORD WINAPI FakeGetLastError() {
  active->Record("GetLastError", {});
  return ERROR_GEN_FAILURE;
}

BOOL WINAPI FakeEscapeCommFunction(HANDLE handle, DWORD function) {
  active->Record("EscapeCommFunction", {H(handle), function});
  return active->Fails("EscapeCommFunction") ? FALSE : TRUE;
}

BOOL WINAPI FakeSetCommBreak(HANDLE handle) {
  active->Record("SetCommBreak", {H(handle)});
  return active->Fails("SetCommBreak") ? FALSE : TRUE;
}

BOOL WINAPI FakeClearCommBreak(HANDLE handle) {
  active->Record("ClearCommBreak", {H(handle)});
  return active->Fails("ClearCommBreak") ? FALSE : TRUE;
}

void WINAPI FakeSleep(DWORD milliseconds) {
  active->Record("Sleep", {milliseconds});
  if (active->sleepAdvance.empty()) {
    active->nowMs += milliseconds;
  } else {
    active->nowMs += active->sleepAdvance.front();
    active->sleepAdvance.pop_front();
  }
}

int64_t FakeClockMs() {
  return active->nowMs;
}

}  // namespace

FakeSerial::FakeSerial() {
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = 19200;
  dcb.ByteSize = 7;
  dcb.Parity = ODDPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fBinary = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  table_ = {&FakeCreateFileA,     &FakeCloseHandle,     &FakeGetCommState, &FakeSetCommState,
            &FakeGetCommTimeouts, &FakeSetCommTimeouts, &FakeSetupComm,    &FakeClearCommError,
            &FakeReadFile,        &FakeWriteFile,       &FakeGetLastError, &FakeEscapeCommFunction,
            &FakeSetCommBreak,    &FakeClearCommBreak,  &FakeSleep,        &FakeClockMs};
  active = this;
  serial::SetSyscalls(&table_);
}

FakeSerial::~FakeSerial() {
  serial::SetSyscalls(nullptr);
  active = nullptr;
}

void FakeSerial::FailCall(std::string_view name, int nth) {
  pendingFailures_[std::string(name)].push_back(nth);
}

void FakeSerial::FailAlways(std::string_view name) {
  alwaysFail_.emplace(name);
}

bool FakeSerial::Fails(std::string_view name) {
  if (alwaysFail_.contains(name)) {
    return true;
  }
  auto it = pendingFailures_.find(name);
  if (it == pendingFailures_.end()) {
    return false;
  }
  bool fail = false;
  for (int& countdown : it->second) {
    if (--countdown == 0) {
      fail = true;
    }
  }
  std::erase_if(it->second, [](int countdown) { return countdown <= 0; });
  return fail;
}

void FakeSerial::Record(std::string_view name, std::vector<int64_t> args, std::string text) {
  calls.push_back(FakeCall{std::string(name), std::move(args), std::move(text)});
}

std::vector<std::string> FakeSerial::Names() const {
  std::vector<std::string> names;
  names.reserve(calls.size());
  for (const FakeCall& call : calls) {
    names.push_back(call.name);
  }
  return names;
}

std::vector<FakeCall> FakeSerial::CallsOf(std::string_view name) const {
  std::vector<FakeCall> result;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(result),
               [name](const FakeCall& call) { return call.name == name; });
  return result;
}

}  // namespace lorvant::testing
