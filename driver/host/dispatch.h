// The door for every request: the shut-down flag and the function-code table
// that VpiMain consults before it calls an operation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "lorvant/records.h"

namespace lorvant {

// Result codes shared by all operations. Each operation documents which of
// them it returns and for what.
inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultRefused = 1;
inline constexpr int32_t kResultNoOperation = 2;

// An operation of the function-code table: takes the request, returns a result code.
using Operation = int32_t (*)(VpiRequest* request);

// Indexed by function code; a null slot has no operation.
inline constexpr std::size_t kFunctionSlots = 17;
using FunctionTable = std::array<Operation, kFunctionSlots>;

// The driver's own table.
const FunctionTable& FunctionCodeTable();

// Answers one request through the given table: 0 at once once the driver has
// been ended; 2 for a code above the table or an empty slot; otherwise the
// operation's result, unchanged. Logs nothing.
int32_t Dispatch(VpiRequest* request, const FunctionTable& table);

// The driver's only process-wide state: 1 once the driver has been ended, 0
// while it runs. Safe to read while another channel's request sets it.
int32_t ShutdownFlag();
void SetShutdownFlag(int32_t value);

}  // namespace lorvant
