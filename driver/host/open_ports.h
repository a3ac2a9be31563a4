// Which channel holds which port the driver opened.
//
// The host allocates a channel's context and the driver cannot tell a port
// handle it stored there from whatever the memory held before the first cold
// start. This record of the ports opened and not yet closed, by channel, lets
// a repeated cold start close the port its channel still holds, and never
// anything else.
#pragma once

#include "lorvant/records.h"

namespace lorvant {

// The channel now holds handle (replacing what it held before).
void RememberPort(const ChannelContext* channel, void* handle);
// The channel's port was closed.
void ForgetPort(const ChannelContext* channel);
// True when handle is a port that the driver opened for channel and has not
// closed.
bool HoldsPort(const ChannelContext* channel, void* handle);

}  // namespace lorvant
