// The initialisation file: an optional text file, read at every cold start,
// whose lines can set the channel's inter-frame gap.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "lorvant/records.h"

namespace lorvant {

// Reads the first of MOKTAnn.INT, MOKTAn.INT and MOKTA.INT (n the request's
// channel number) that opens in the current directory, and applies its IFG
// lines to the context's gap in turn. Logs a missing file and every illegal
// line. Lines are read as a Windows C runtime reads a text file, on every
// platform: in pieces of at most 255 characters up to a line feed, a carriage
// return before a line feed dropped, Ctrl-Z ending the file.
void ReadInitFile(VpiRequest* request);

// Tries the three names in order and returns the first file that opens, or
// null. The name of the last file tried is left in name.
std::FILE* OpenInitFile(const char* baseName, std::span<char> name, uint32_t channelNumber);

}  // namespace lorvant
