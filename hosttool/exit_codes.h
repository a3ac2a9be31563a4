// The host tool's exit codes. Scripts rely on them; the README lists them.
// When several gates end differently, the tool exits with the highest code
// among them.
#pragma once

namespace mokta {

enum ExitCode : int {
  kExitOk = 0,
  kExitDriver = 1,       // the driver library could not be loaded
  kExitUsage = 2,        // bad command line or configuration file
  kExitRefused = 3,      // the driver refused a gate address
  kExitPort = 4,         // the port could not be opened
  kExitNoReply = 5,      // an instrument did not answer
  kExitProtocol = 6,     // an answer came but the transaction failed
  kExitNoParameter = 7,  // the instrument has no such parameter (it answered EOT)
};

}  // namespace mokta
