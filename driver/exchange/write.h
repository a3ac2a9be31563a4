// The write transaction: single gates by read-modify-write.
#pragma once

#include <cstdint>

#include "lorvant/records.h"

namespace lorvant {

int32_t SingleWrite(VpiRequest* request);  // function code 7
int32_t BlockWrite(VpiRequest* request);   // function code 10

}  // namespace lorvant
