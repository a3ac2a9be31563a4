// The table in force; see syscalls.h.

#include "serial/syscalls.h"

namespace lorvant::serial {
namespace {

const Syscalls* current = nullptr;

}  // namespace

const Syscalls& Sys() {
  return current != nullptr ? *current : PlatformSyscalls();
}

void SetSyscalls(const Syscalls* table) {
  current = table;
}

}  // namespace lorvant::serial
