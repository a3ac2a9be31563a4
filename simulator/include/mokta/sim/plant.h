// The simulated plant: instruments on one line, each with its table of
// parameters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mokta::sim {

// How a parameter moves by itself. The live value is
//   level(t) + amplitude * sin(2 pi t / period)
// rounded and held within 0..65535. Without follow the level is the stored
// value; with follow it approaches the value of parameter `follow` of the
// same instrument as a first-order lag with time constant `lag` seconds,
// starting from the stored value (a write sets the level again).
struct Drift {
  double amplitude = 0.0;
  double period = 0.0;  // seconds; 0 for no wave
  std::optional<int> follow;
  double lag = 0.0;  // seconds; 0 jumps to the followed value at once
};

struct Parameter {
  uint16_t value = 0;
  int formatCode = 0;  // 0..4
  bool readOnly = false;
  std::optional<Drift> drift;
};

struct Instrument {
  int id = 0;  // 0x00..0x8F; on the line as id | 0x80
  std::string name;
  std::map<int, Parameter> parameters;  // pno 0..127
};

struct Plant {
  std::vector<Instrument> instruments;
};

// A plant that cannot be used: the message says what is wrong and, for a
// file, where (file:line: problem).
class PlantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The byte an instrument answers to.
inline uint8_t AddressByte(int id) {
  return static_cast<uint8_t>(0x80U | static_cast<unsigned>(id));
}

// Throws PlantError for an id outside 0..0x8F, two instruments on one address
// byte, a pno outside 0..127, a format code outside 0..4, a drift with a
// negative period or lag, or one that follows a parameter the instrument lacks.
void CheckPlant(const Plant& plant);

// Two furnace zones, ids 0x01 and 0x02, whose process values move towards
// their setpoints with a small wave on top.
Plant DefaultPlant();

// A plant file in TOML (simulator/README.md describes it). Throws PlantError.
Plant LoadPlant(const std::filesystem::path& path);
// The same from text; sourceName stands for the file in messages.
Plant ParsePlant(std::string_view text, const std::string& sourceName);

}  // namespace mokta::sim
