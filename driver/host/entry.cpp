// The driver library's one exported function.

#include "host/dispatch.h"
#include "lorvant/records.h"

#if defined(_WIN32)
#define LORVANT_EXPORT  // exported by name through LORVANT.def
#else
#define LORVANT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LORVANT_EXPORT int32_t LORVANT_CALL VpiMain(VpiRequest* request) {
  return lorvant::Dispatch(request, lorvant::FunctionCodeTable());
}
