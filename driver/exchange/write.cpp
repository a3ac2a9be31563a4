// The write transaction.
//
// Not built yet: both operations answer 2 and touch nothing.

#include "exchange/write.h"

#include "host/dispatch.h"

namespace lorvant {

int32_t SingleWrite(VpiRequest* /*request*/) {
  return kResultNoOperation;
}
int32_t BlockWrite(VpiRequest* /*request*/) {
  return kResultNoOperation;
}

}  // namespace lorvant
