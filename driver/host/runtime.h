// What the driver takes from the host's runtime library: the logging function
// err and the value conversion Kyr5UnCook, and the levels at which it logs.
#pragma once

#include <kyrpro/kyrpro.h>

namespace lorvant {

// Levels of the driver's log lines.
inline constexpr int kLogInfo = KYRPRO_LEVEL_INFO;          // the driver announced itself
inline constexpr int kLogOperator = KYRPRO_LEVEL_OPERATOR;  // a fault that needs the operator
inline constexpr int kLogDetail = KYRPRO_LEVEL_DETAIL;      // progress, protocol errors, retries

}  // namespace lorvant
