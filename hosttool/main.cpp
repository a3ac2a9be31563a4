// mokta: a host for the driver. Loads LORVANT as the supervisory host does and
// calls VpiMain with the host's records.

#include <kyrpro/kyrpro.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "lorvant/records.h"

namespace {

// Exit codes that scripts can rely on.
enum ExitCode : int {
  kExitOk = 0,
  kExitDriver = 1,   // the driver library could not be loaded
  kExitUsage = 2,    // bad command line
  kExitRefused = 3,  // an address was refused
};

constexpr uint32_t kSingleAddressParser = 3;
constexpr uint32_t kBlockAddressParser = 4;
constexpr int32_t kAnalogKind = 0;
constexpr int32_t kDigitalKind = 6;

struct Messages {
  std::vector<std::string> lines;
  int shownLevels = KYRPRO_LEVEL_OPERATOR;
};

void CollectMessage(void* context, int level, const char* message) {
  auto* messages = static_cast<Messages*>(context);
  messages->lines.emplace_back(message);
  if ((level & messages->shownLevels) != 0) {
    std::fprintf(stderr, "[%d] %s\n", level, message);
  }
}

const char* FormatName(int32_t format) {
  switch (format) {
    case 0:
      return "value";
    case 1:
      return "value*";
    case 2:
      return "format";
    case 3:
      return "format*";
    case 4:
      return "IFG";
    default:
      return "?";
  }
}

// Without a given kind, an address is checked as the kind its form asks for:
// digital for a bit address, analog otherwise.
int32_t KindFor(const std::string& address, std::optional<int32_t> gateKind) {
  if (gateKind) {
    return *gateKind;
  }
  const bool bitForm =
      address.size() >= 6 && std::isxdigit(static_cast<unsigned char>(address[5])) != 0;
  return bitForm ? kDigitalKind : kAnalogKind;
}

int CheckAddresses(const mokta::DriverLibrary& driver, const std::vector<std::string>& addresses,
                   std::optional<int32_t> gateKind, int32_t blockSize, Messages& messages) {
  std::printf("%-12s %-8s %-4s %-8s %-4s %-4s %-5s %s\n", "address", "result", "id", "form", "pno",
              "bit", "width", "message");
  int exitCode = kExitOk;
  for (const std::string& address : addresses) {
    GateParseRecord record{address.c_str(), 0, KindFor(address, gateKind), blockSize, {}};
    VpiRequest request{nullptr, blockSize > 0 ? kBlockAddressParser : kSingleAddressParser, 0, 0,
                       &record};
    messages.lines.clear();
    const int32_t result = driver.Call(request);
    if (result == 0) {
      const GateAddress& a = record.address;
      std::printf("%-12s %-8s %02X   %-8s %-4d %-4d %d\n", address.c_str(), "ok",
                  static_cast<unsigned>(a.instrumentId), FormatName(a.format), a.pno, a.bitNumber,
                  a.width);
    } else {
      const std::string message = messages.lines.empty() ? "" : messages.lines.back();
      std::printf("%-12s %-8s %-4s %-8s %-4s %-4s %-5s %s\n", address.c_str(), "refused", "", "",
                  "", "", "", message.c_str());
      exitCode = kExitRefused;
    }
  }
  return exitCode;
}

}  // namespace

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"mokta: runs the LORVANT driver as its host does"};
  app.require_subcommand(1);

  std::string driverPath = mokta::DefaultDriverPath();
  app.add_option("--driver", driverPath, "path of the driver library")->capture_default_str();
  std::vector<int> logLevels{KYRPRO_LEVEL_OPERATOR};
  app.add_option("--log", logLevels, "err levels to show on standard error (8, 32, 64)")
      ->check(CLI::IsMember({KYRPRO_LEVEL_INFO, KYRPRO_LEVEL_OPERATOR, KYRPRO_LEVEL_DETAIL}))
      ->delimiter(',');

  auto* check = app.add_subcommand("check", "check gate addresses as the host does before polling");
  std::vector<std::string> addresses;
  check->add_option("address", addresses, "gate addresses, for example 0A001 0a0017 IFG")
      ->required();
  const std::map<std::string, int32_t> kinds{{"analog", 0}, {"digital", 6}, {"string", 7}};
  std::optional<int32_t> gateKind;
  check->add_option("--kind", gateKind, "gate kind: analog, digital or string (default: by form)")
      ->transform(CLI::CheckedTransformer(kinds, CLI::ignore_case));
  int32_t blockSize = 0;
  check->add_option("--block", blockSize, "check as a block of this many parameters")
      ->check(CLI::Range(1, 1000));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kExitOk : kExitUsage;
  }

  Messages messages;
  messages.shownLevels = 0;
  for (const int level : logLevels) {
    messages.shownLevels |= level;
  }
  KyrSetLogSink(CollectMessage, &messages);

  const mokta::DriverLibrary driver(driverPath);
  if (!driver.Loaded()) {
    std::fprintf(stderr, "mokta: %s\n", driver.Error().c_str());
    return kExitDriver;
  }

  int status = kExitOk;
  if (check->parsed()) {
    status = CheckAddresses(driver, addresses, gateKind, blockSize, messages);
  }
  KyrSetLogSink(nullptr, nullptr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mokta: %s\n", e.what());
    return kExitDriver;
  }
}
