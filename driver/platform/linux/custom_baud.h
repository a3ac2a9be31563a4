// Baud rates by number, through the kernel's termios2 interface: any rate a
// device can make, not only the ones <termios.h> has a speed_t constant for.
// Kept apart because <asm/termbits.h> cannot be included beside <termios.h>.
#pragma once

#include <cstdint>

namespace lorvant::win32::internal {

// Sets input and output rate of a terminal to baud (BOTHER), leaving the
// rest of its settings as they are. False, with errno set, when the kernel
// or the device refuses, or this system has no termios2.
bool SetBaudByNumber(int fd, uint32_t baud);

// The output rate the kernel holds for the terminal, as a number (for every
// rate, standard or not). False, with errno set, when it cannot be read.
bool ReadBaudNumber(int fd, uint32_t* baud);

}  // namespace lorvant::win32::internal
