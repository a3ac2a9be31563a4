#include "mokta/sim/faults.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>
#include <string>
#include <utility>

#include "mokta/wire.h"

namespace mokta::sim {
namespace {

constexpr std::array kAllKinds{FaultKind::Bcc,   FaultKind::Nak,     FaultKind::Soh,
                               FaultKind::Eot,   FaultKind::Silence, FaultKind::Drop,
                               FaultKind::Extra, FaultKind::Order};
constexpr std::size_t kElementSize = 4;
constexpr uint8_t kExtraByte = 0xA5;

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// Calls take(piece) for each comma-separated piece, trimmed.
template <typename Take>
void ForEachPiece(std::string_view list, Take take) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    take(Trim(list.substr(0, comma)));
    if (comma == std::string_view::npos) {
      break;
    }
    list.remove_prefix(comma + 1);
  }
}

FaultKind KindOrThrow(std::string_view name) {
  const std::optional<FaultKind> kind = ParseFaultKind(name);
  if (!kind) {
    throw std::invalid_argument("unknown fault kind '" + std::string(name) +
                                "' (bcc, nak, soh, eot, silence, drop, extra, order)");
  }
  return *kind;
}

}  // namespace

std::string_view FaultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Bcc:
      return "bcc";
    case FaultKind::Nak:
      return "nak";
    case FaultKind::Soh:
      return "soh";
    case FaultKind::Eot:
      return "eot";
    case FaultKind::Silence:
      return "silence";
    case FaultKind::Drop:
      return "drop";
    case FaultKind::Extra:
      return "extra";
    case FaultKind::Order:
      return "order";
  }
  return "?";
}

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
  for (const FaultKind kind : kAllKinds) {
    if (FaultName(kind) == name) {
      return kind;
    }
  }
  return std::nullopt;
}

std::vector<FaultKind> ParseFaultKinds(std::string_view list) {
  std::vector<FaultKind> kinds;
  ForEachPiece(list, [&](std::string_view name) { kinds.push_back(KindOrThrow(name)); });
  return kinds;
}

std::map<uint64_t, FaultKind> ParseFaultScript(std::string_view script) {
  std::map<uint64_t, FaultKind> faults;
  ForEachPiece(script, [&](std::string_view entry) {
    const std::size_t colon = entry.find(':');
    const std::string_view number = Trim(entry.substr(0, colon));
    uint64_t answer = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), answer);
    if (colon == std::string_view::npos || error != std::errc{} ||
        end != number.data() + number.size() || answer == 0) {
      throw std::invalid_argument("bad fault script entry '" + std::string(entry) +
                                  "' (expected ANSWER:KIND, answers counted from 1)");
    }
    faults[answer] = KindOrThrow(Trim(entry.substr(colon + 1)));
  });
  return faults;
}

FaultPlan::FaultPlan(FaultOptions options) : options_(std::move(options)), random_(options_.seed) {
  if (options_.kinds.empty()) {
    options_.kinds.assign(kAllKinds.begin(), kAllKinds.end());
  }
}

std::optional<FaultKind> FaultPlan::Next() {
  ++answers_;
  const auto scripted = options_.script.find(answers_);
  if (scripted != options_.script.end()) {
    return scripted->second;
  }
  if (options_.rate <= 0.0) {
    return std::nullopt;
  }
  // Drawn straight from the generator's words, so that a seed means the same
  // faults with every standard library.
  const double draw = static_cast<double>(random_()) / 4294967296.0;
  if (draw >= options_.rate) {
    return std::nullopt;
  }
  return options_.kinds[random_() % options_.kinds.size()];
}

std::optional<std::vector<uint8_t>> ApplyToBlock(FaultKind kind, std::span<const uint8_t> block) {
  std::vector<uint8_t> bytes(block.begin(), block.end());
  switch (kind) {
    case FaultKind::Bcc:
      bytes.back() ^= 0x01U;
      return bytes;
    case FaultKind::Nak:
      return std::vector<uint8_t>{wire::kNak};
    case FaultKind::Soh:
      return std::vector<uint8_t>{wire::kSoh};
    case FaultKind::Eot:
      return std::vector<uint8_t>{wire::kEot};
    case FaultKind::Silence:
      return std::vector<uint8_t>{};
    case FaultKind::Drop:
      // The middle byte: an element's byte in any block with elements.
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
      return bytes;
    case FaultKind::Extra:
      bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), kExtraByte);
      return bytes;
    case FaultKind::Order: {
      // STX, elements, end character, BCC: two elements or more.
      if (bytes.size() < 3 + 2 * kElementSize) {
        return std::nullopt;
      }
      const auto first = bytes.begin() + 1;
      std::swap_ranges(first, first + kElementSize, first + kElementSize);
      return bytes;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> ApplyToWriteAnswer(FaultKind kind, uint8_t answer) {
  switch (kind) {
    case FaultKind::Nak:
      if (answer == wire::kNak) {
        return std::nullopt;
      }
      return std::vector<uint8_t>{wire::kNak};
    case FaultKind::Soh:
      return std::vector<uint8_t>{wire::kSoh};
    case FaultKind::Eot:
      return std::vector<uint8_t>{wire::kEot};
    case FaultKind::Silence:
      return std::vector<uint8_t>{};
    case FaultKind::Bcc:
    case FaultKind::Drop:
    case FaultKind::Extra:
    case FaultKind::Order:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace mokta::sim
