// Request dispatch: the shut-down flag and the function-code table.

#include "host/dispatch.h"

#include <atomic>

#include "address/parser.h"
#include "exchange/read.h"
#include "exchange/write.h"
#include "host/lifecycle.h"

namespace lorvant {
namespace {

std::atomic<int32_t> shutdownFlag{0};

constexpr FunctionTable kFunctionTable{
    nullptr,              // 0
    ColdStart,            // 1
    WarmStart,            // 2
    SingleAddressParser,  // 3
    BlockAddressParser,   // 4
    SingleRead,           // 5
    BlockRead,            // 6
    SingleWrite,          // 7
    nullptr,              // 8
    nullptr,              // 9
    BlockWrite,           // 10
    EndVpi,               // 11
    CloseCom,             // 12
    ReOpenCom,            // 13
    GetVpiInfo,           // 14
    ChangeVpiParams,      // 15
    nullptr,              // 16
};

}  // namespace

const FunctionTable& FunctionCodeTable() {
  return kFunctionTable;
}

int32_t Dispatch(VpiRequest* request, const FunctionTable& table) {
  if (ShutdownFlag() == 1) {
    return kResultOk;  // nothing of the request is read
  }
  if (request == nullptr) {
    return kResultNoOperation;
  }
  const uint32_t code = request->functionCode;
  if (code >= table.size()) {
    return kResultNoOperation;
  }
  const Operation operation = table[code];
  if (operation == nullptr) {
    return kResultNoOperation;
  }
  return operation(request);
}

int32_t ShutdownFlag() {
  return shutdownFlag.load(std::memory_order_relaxed);
}

void SetShutdownFlag(int32_t value) {
  shutdownFlag.store(value, std::memory_order_relaxed);
}

}  // namespace lorvant
