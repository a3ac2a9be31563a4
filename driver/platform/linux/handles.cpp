// The slot table behind the HANDLEs, the last error, and errno → Win32 error.

#include "platform/linux/handles.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/linux/open_close.h"
#include "platform/linux/win32_linux.h"

namespace lorvant::win32::internal {

enum class SlotState : uint8_t {
  kFree,
  kOpen,     // the handle names it
  kClosing,  // closed; the device goes when the last call using it returns
};

struct Slot {
  SlotState state = SlotState::kFree;
  uint32_t generation = 0;  // times the slot has been closed, modulo kGenerations
  int users = 0;            // calls running on it
  std::atomic<bool> abandoned{false};
  Device device;
  COMMTIMEOUTS timeouts{};
  bool dcbApplied = false;
  DCB dcb{};
};

namespace {

constexpr size_t kMaxPorts = 64;
constexpr uintptr_t kGenerations = uintptr_t{1} << 20;

thread_local DWORD lastError = ERROR_SUCCESS;

std::mutex tableMutex;
std::array<Slot, kMaxPorts> table;

HANDLE HandleOf(size_t index, uint32_t generation) {
  const uintptr_t value = (generation * kMaxPorts) + index + 1;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle is a number
  return reinterpret_cast<HANDLE>(value);
}

// The open slot the handle names, or null. The table's lock is held.
Slot* FindOpen(HANDLE handle) {
  const auto value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > kMaxPorts * kGenerations) {
    return nullptr;
  }
  const size_t index = (value - 1) % kMaxPorts;
  const uintptr_t generation = (value - 1) / kMaxPorts;
  Slot& slot = table.at(index);
  if (slot.state != SlotState::kOpen || slot.generation != generation) {
    return nullptr;
  }
  return &slot;
}

// Releases the device of a slot that no call uses any more, then frees the
// slot. Called without the table's lock: closing a tty may wait for its
// output to drain.
void Retire(Slot* slot) {
  ReleaseDevice(slot->device);
  const std::scoped_lock lock(tableMutex);
  slot->device = Device{};
  slot->state = SlotState::kFree;
}

}  // namespace

void SetLastError(DWORD error) {
  lastError = error;
}

BOOL Fail(DWORD error) {
  lastError = error;
  return FALSE;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case EBADF:  // a read on a handle opened for writing only, or the reverse
      return ERROR_ACCESS_DENIED;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
      return ERROR_DEVICE_NOT_CONNECTED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

HANDLE AddPort(const Device& device) {
  const std::scoped_lock lock(tableMutex);
  for (size_t index = 0; index < table.size(); ++index) {
    Slot& slot = table.at(index);
    if (slot.state == SlotState::kFree) {
      slot.state = SlotState::kOpen;
      slot.users = 0;
      slot.abandoned.store(false);
      slot.device = device;
      slot.timeouts = COMMTIMEOUTS{};
      slot.dcbApplied = false;
      slot.dcb = DCB{};
      return HandleOf(index, slot.generation);
    }
  }
  SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  return INVALID_HANDLE_VALUE;  // NOLINT(performance-no-int-to-ptr): Win32's own value
}

BOOL RemovePort(HANDLE handle) {
  Slot* slot = nullptr;
  bool unused = false;
  {
    const std::scoped_lock lock(tableMutex);
    slot = FindOpen(handle);
    if (slot == nullptr) {
      return Fail(ERROR_INVALID_HANDLE);
    }
    slot->state = SlotState::kClosing;
    slot->generation = static_cast<uint32_t>((slot->generation + 1) % kGenerations);
    slot->abandoned.store(true);
    unused = slot->users == 0;
  }
  if (unused) {
    Retire(slot);
  }
  return TRUE;
}

PortUse::PortUse(HANDLE handle) {
  const std::scoped_lock lock(tableMutex);
  slot_ = FindOpen(handle);
  if (slot_ == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return;
  }
  ++slot_->users;
}

PortUse::~PortUse() {
  if (slot_ == nullptr) {
    return;
  }
  bool last = false;
  {
    const std::scoped_lock lock(tableMutex);
    --slot_->users;
    last = slot_->state == SlotState::kClosing && slot_->users == 0;
  }
  if (last) {
    Retire(slot_);
  }
}

// The device does not change while a call holds the slot.
const Device& PortUse::Dev() const {
  return slot_->device;
}

bool PortUse::RequireTerminal() const {
  if (slot_ == nullptr) {
    return false;
  }
  if (!slot_->device.terminal) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return false;
  }
  return true;
}

bool PortUse::Abandoned() const {
  return slot_->abandoned.load();
}

COMMTIMEOUTS PortUse::Timeouts() const {
  const std::scoped_lock lock(tableMutex);
  return slot_->timeouts;
}

void PortUse::SetTimeouts(const COMMTIMEOUTS& timeouts) const {
  const std::scoped_lock lock(tableMutex);
  slot_->timeouts = timeouts;
}

bool PortUse::AppliedDcb(DCB* dcb) const {
  const std::scoped_lock lock(tableMutex);
  if (slot_->dcbApplied) {
    *dcb = slot_->dcb;
  }
  return slot_->dcbApplied;
}

void PortUse::SetAppliedDcb(const DCB& dcb) const {
  const std::scoped_lock lock(tableMutex);
  slot_->dcb = dcb;
  slot_->dcbApplied = true;
}

}  // namespace lorvant::win32::internal

namespace lorvant::win32 {

DWORD GetLastError() {
  return internal::lastError;
}

}  // namespace lorvant::win32
