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

// Opens and configures the port that portSettings name. The handle, or null
// when the port did not open. Logs nothing.
void* OpenChannelPort(const PortSettings& portSettings);

// What the driver announces.
inline constexpr const char* kDriverName = "Eurotherm 6000 ";
inline constexpr std::size_t kBannerLength = 205;
const char* Banner();
inline constexpr LineSettings kDefaultLineSettings{9600, 8, 0, 2};  // 8 data bits, 1 stop, even

// The read time-out applied for a reply time-out that is not positive: the
// one second a port has right after it opens. A time-out of 0 would let a
// read wait without limit.
inline constexpr int32_t kFallbackReplyTimeout = 100;

}  // namespace lorvant
