// Opening and closing devices for CreateFileA and CloseHandle.
#pragma once

#include "platform/linux/handles.h"

namespace lorvant::win32::internal {

// Gives up the exclusive hold on the device, if taken, and closes it.
void ReleaseDevice(const Device& device);

}  // namespace lorvant::win32::internal
