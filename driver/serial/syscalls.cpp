// The table in force; see syscalls.h.

#include "serial/syscalls.h"

#include "serial/trace.h"

namespace lorvant::serial {
namespace {

const Syscalls* current = nullptr;

}  // namespace

const Syscalls& Sys() {
  if (current != nullptr) {
    return *current;
  }
  // Chosen once, at the first call: the platform's table, traced on request.
  static const Syscalls& initial = InitialSyscalls();
  return initial;
}

void SetSyscalls(const Syscalls* table) {
  current = table;
}

}  // namespace lorvant::serial
