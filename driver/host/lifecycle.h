// Driver information and the lifecycle of a channel: announcing the driver,
// starting a channel, managing its port at run time, ending the driver.
#pragma once

#include <cstdint>

#include "lorvant/records.h"

namespace lorvant {

int32_t ColdStart(VpiRequest* request);        // function code 1
int32_t WarmStart(VpiRequest* request);        // function code 2
int32_t EndVpi(VpiRequest* request);           // function code 11
int32_t CloseCom(VpiRequest* request);         // function code 12
int32_t ReOpenCom(VpiRequest* request);        // function code 13
int32_t GetVpiInfo(VpiRequest* request);       // function code 14
int32_t ChangeVpiParams(VpiRequest* request);  // function code 15

}  // namespace lorvant
