// Driver information and channel lifecycle.
//
// Not built yet: every operation answers 2, as a function code without an
// operation does, and touches nothing.

#include "host/lifecycle.h"

#include "host/dispatch.h"

namespace lorvant {

int32_t ColdStart(VpiRequest* /*request*/) {
  return kResultNoOperation;
}
int32_t WarmStart(VpiRequest* /*request*/) {
  return kResultNoOperation;
}
int32_t EndVpi(VpiRequest* /*request*/) {
  return kResultNoOperation;
}
int32_t CloseCom(VpiRequest* /*request*/) {
  return kResultNoOperation;
}
int32_t ReOpenCom(VpiRequest* /*request*/) {
  return kResultNoOperation;
}
int32_t GetVpiInfo(VpiRequest* /*request*/) {
  return kResultNoOperation;
}
int32_t ChangeVpiParams(VpiRequest* /*request*/) {
  return kResultNoOperation;
}

}  // namespace lorvant
