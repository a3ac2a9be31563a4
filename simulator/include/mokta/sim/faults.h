// Faults put on the simulator's answers on purpose, to see how the driver
// copes. Every reply block sent (a repeat too) and every answer to a write
// frame is one answer; answers are counted from 1.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mokta::sim {

enum class FaultKind {
  Bcc,      // reply block with a wrong BCC
  Nak,      // NAK instead of the answer
  Soh,      // SOH instead of the answer
  Eot,      // EOT instead of the answer
  Silence,  // no answer at all
  Drop,     // one byte of the block missing
  Extra,    // one extra byte inside the block
  Order,    // the first two elements of the block swapped (blocks of two or more)
};

std::string_view FaultName(FaultKind kind);
std::optional<FaultKind> ParseFaultKind(std::string_view name);
// "bcc,nak,silence"; throws std::invalid_argument naming a bad kind.
std::vector<FaultKind> ParseFaultKinds(std::string_view list);
// "3:bcc,5:silence"; throws std::invalid_argument naming a bad entry.
std::map<uint64_t, FaultKind> ParseFaultScript(std::string_view script);

struct FaultOptions {
  double rate = 0.0;  // chance per answer, 0..1
  uint32_t seed = 1;
  std::vector<FaultKind> kinds;          // drawn from evenly; all kinds when empty
  std::map<uint64_t, FaultKind> script;  // answer number -> fault; wins over the rate
};

// Decides, answer by answer, which fault (if any) to apply. The same options
// give the same decisions.
class FaultPlan {
 public:
  FaultPlan() = default;
  explicit FaultPlan(FaultOptions options);

  // The fault for the next answer.
  std::optional<FaultKind> Next();
  uint64_t Answers() const { return answers_; }

 private:
  FaultOptions options_;
  // Seeded from the options: the same seed must give the same faults.
  std::mt19937 random_{1};  // NOLINT(cert-msc32-c,cert-msc51-cpp)
  uint64_t answers_ = 0;
};

// The bytes that go out instead of a reply block under a fault; nullopt when
// the fault does not apply to the block (the block goes out as it was).
std::optional<std::vector<uint8_t>> ApplyToBlock(FaultKind kind, std::span<const uint8_t> block);
// The same for the one-byte answer to a write frame (ACK or NAK): nak, soh
// and eot replace it, silence sends nothing; the others do not apply. A nak
// on a NAK does not apply either.
std::optional<std::vector<uint8_t>> ApplyToWriteAnswer(FaultKind kind, uint8_t answer);

}  // namespace mokta::sim
