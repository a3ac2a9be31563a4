// The read transaction: single gates and blocks of parameters.
#pragma once

#include <cstdint>

#include "lorvant/records.h"

namespace lorvant {

// Function code 5. Reads one gate; logs and returns non-zero on failure.
int32_t SingleRead(VpiRequest* request);

// Function code 6. Reads a block of consecutive parameters.
int32_t BlockRead(VpiRequest* request);

// The engine of both: 0 success; 1 port closed; for the IFG pseudo-gate the
// code of the host's conversion function.
int32_t DoRead(VpiRequest* request);

}  // namespace lorvant
