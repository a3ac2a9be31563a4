// The read transaction.
//
// Built so far: the closed-port test and the IFG pseudo-gate, whose value is
// the channel's inter-frame gap handed to the host's conversion function.
// Reading an instrument over the line is not built yet and answers 2, as does
// BlockRead as a whole.

#include "exchange/read.h"

#include "address/parser.h"
#include "host/dispatch.h"
#include "host/runtime.h"

namespace lorvant {
namespace {

constexpr int32_t kResultPortClosed = 1;

GateRecord& GateOf(VpiRequest* request) {
  return *static_cast<GateRecord*>(request->params);
}

// The gate's name for messages; a host that gave none gets an empty one.
const char* NameOf(const GateRecord& gate) {
  return gate.gateName != nullptr ? gate.gateName : "";
}

}  // namespace

int32_t DoRead(VpiRequest* request) {
  const ChannelContext& channel = *request->context;
  GateRecord& gate = GateOf(request);
  if (channel.portHandle == nullptr) {
    return kResultPortClosed;
  }
  if (gate.address.format == kFormatIfg) {
    const auto code = static_cast<uint16_t>(
        Kyr5UnCook(0, gate.conversion, static_cast<double>(channel.ifg), gate.valueBuffer));
    if (code != 0) {
      err(kLogDetail, "MOKTA> DoRead() UnCook err. %d for gate %s", static_cast<int>(code),
          NameOf(gate));
    }
    return code;
  }
  return kResultNoOperation;
}

int32_t SingleRead(VpiRequest* request) {
  const int32_t result = DoRead(request);
  if (result != kResultOk) {
    err(kLogDetail, "MOKTA> SingleRead(), ret val is %d for gate '%s'", static_cast<int>(result),
        NameOf(GateOf(request)));
  }
  return result;
}

int32_t BlockRead(VpiRequest* /*request*/) {
  return kResultNoOperation;
}

}  // namespace lorvant
