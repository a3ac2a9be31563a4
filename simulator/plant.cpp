#include <toml++/toml.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "mokta/sim/plant.h"

namespace mokta::sim {
namespace {

constexpr int kHighestId = 0x8F;
constexpr int kHighestPno = 127;
constexpr int kHighestFormat = 4;
constexpr int64_t kHighestValue = 65535;

std::string IdText(int id) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << id;
  return text.str();
}

// Checks one instrument; the prefix says where, for messages.
void CheckInstrument(const Instrument& instrument, const std::string& where) {
  if (instrument.id < 0 || instrument.id > kHighestId) {
    throw PlantError(where + "instrument id " + std::to_string(instrument.id) +
                     " outside 0x00..0x8F");
  }
  for (const auto& [pno, parameter] : instrument.parameters) {
    const std::string what =
        where + "instrument " + IdText(instrument.id) + ", parameter " + std::to_string(pno) + ": ";
    if (pno < 0 || pno > kHighestPno) {
      throw PlantError(what + "parameter number outside 0..127");
    }
    if (parameter.formatCode < 0 || parameter.formatCode > kHighestFormat) {
      throw PlantError(what + "format code " + std::to_string(parameter.formatCode) +
                       " outside 0..4");
    }
    if (!parameter.drift) {
      continue;
    }
    const Drift& drift = *parameter.drift;
    if (drift.period < 0.0 || drift.lag < 0.0) {
      throw PlantError(what + "drift period and lag must not be negative");
    }
    if (drift.follow && !instrument.parameters.contains(*drift.follow)) {
      throw PlantError(what + "drift follows parameter " + std::to_string(*drift.follow) +
                       ", which the instrument does not have");
    }
  }
}

Parameter MakeParameter(uint16_t value, int formatCode, bool readOnly,
                        std::optional<Drift> drift = std::nullopt) {
  return Parameter{value, formatCode, readOnly, drift};
}

// A furnace zone: 0 process value (follows the setpoint), 1 setpoint,
// 2 output in tenths of a percent, 3 status word, 4 high alarm limit,
// 5 alarm kind (its format code says which alarm is armed), 6 ramp rate,
// 7 working hours.
Instrument Zone(int id, const std::string& name, uint16_t start, uint16_t setpoint,
                double wavePeriod) {
  Instrument zone{id, name, {}};
  zone.parameters[0] = MakeParameter(start, 0, true, Drift{1.5, wavePeriod, 1, 40.0});
  zone.parameters[1] = MakeParameter(setpoint, 0, false);
  zone.parameters[2] = MakeParameter(455, 1, true, Drift{40.0, wavePeriod * 0.7, {}, 0.0});
  zone.parameters[3] = MakeParameter(0x0005, 3, true);  // bit 0 running, bit 2 heating
  zone.parameters[4] = MakeParameter(static_cast<uint16_t>(setpoint + 50), 0, false);
  zone.parameters[5] = MakeParameter(0, 2, false);
  zone.parameters[6] = MakeParameter(10, 0, false);
  zone.parameters[7] = MakeParameter(1234, 4, true);
  return zone;
}

// --- plant files ---

class FileReader {
 public:
  explicit FileReader(std::string sourceName) : source_(std::move(sourceName)) {}

  Plant Read(const toml::table& root) {
    Plant plant;
    for (const auto& [key, node] : root) {
      if (key.str() != "instrument") {
        Fail(key.source(), "unknown key '" + std::string(key.str()) + "'");
      }
      const toml::array* list = node.as_array();
      if (list == nullptr || !list->is_array_of_tables()) {
        Fail(node.source(), "'instrument' must be an array of tables ([[instrument]])");
      }
      for (const toml::node& entry : *list) {
        plant.instruments.push_back(ReadInstrument(*entry.as_table()));
      }
    }
    if (plant.instruments.empty()) {
      throw PlantError(source_ + ": no [[instrument]] in the plant");
    }
    return plant;
  }

 private:
  [[noreturn]] void Fail(const toml::source_region& where, const std::string& problem) const {
    throw PlantError(source_ + ":" + std::to_string(where.begin.line) + ": " + problem);
  }

  int64_t Integer(const toml::node& node, const std::string& name, int64_t low, int64_t high) {
    const std::optional<int64_t> value = node.value_exact<int64_t>();
    if (!value) {
      Fail(node.source(), "'" + name + "' must be an integer");
    }
    if (*value < low || *value > high) {
      Fail(node.source(), "'" + name + "' " + std::to_string(*value) + " outside " +
                              std::to_string(low) + ".." + std::to_string(high));
    }
    return *value;
  }

  double Number(const toml::node& node, const std::string& name) {
    if (!node.is_number()) {
      Fail(node.source(), "'" + name + "' must be a number");
    }
    const double value = node.value<double>().value_or(0.0);
    if (value < 0.0) {
      Fail(node.source(), "'" + name + "' must not be negative");
    }
    return value;
  }

  Instrument ReadInstrument(const toml::table& table) {
    Instrument instrument;
    const toml::node* id = table.get("id");
    if (id == nullptr) {
      Fail(table.source(), "instrument without 'id'");
    }
    instrument.id = static_cast<int>(Integer(*id, "id", 0, kHighestId));
    if (!addresses_.insert(AddressByte(instrument.id)).second) {
      Fail(id->source(), "instrument id " + IdText(instrument.id) +
                             " shares its address byte with an earlier instrument");
    }
    for (const auto& [key, node] : table) {
      const std::string_view name = key.str();
      if (name == "id") {
        continue;
      }
      if (name == "name") {
        const std::optional<std::string> text = node.value_exact<std::string>();
        if (!text) {
          Fail(node.source(), "'name' must be a string");
        }
        instrument.name = *text;
      } else if (name == "parameters") {
        const toml::table* parameters = node.as_table();
        if (parameters == nullptr) {
          Fail(node.source(), "'parameters' must be a table");
        }
        ReadParameters(*parameters, instrument);
      } else {
        Fail(key.source(), "unknown key '" + std::string(name) + "' in an instrument");
      }
    }
    for (const auto& [pno, parameter] : instrument.parameters) {
      if (parameter.drift && parameter.drift->follow &&
          !instrument.parameters.contains(*parameter.drift->follow)) {
        Fail(followSources_.at(pno), "parameter " + std::to_string(pno) + " follows parameter " +
                                         std::to_string(*parameter.drift->follow) +
                                         ", which the instrument does not have");
      }
    }
    followSources_.clear();
    return instrument;
  }

  void ReadParameters(const toml::table& table, Instrument& instrument) {
    for (const auto& [key, node] : table) {
      const std::string_view name = key.str();
      int pno = -1;
      if (!name.empty() && name.size() <= 3 &&
          name.find_first_not_of("0123456789") == std::string_view::npos) {
        pno = std::stoi(std::string(name));
      }
      if (pno < 0 || pno > kHighestPno) {
        Fail(key.source(), "parameter number '" + std::string(name) + "' outside 0..127");
      }
      instrument.parameters[pno] = ReadParameter(node, pno);
    }
  }

  Parameter ReadParameter(const toml::node& node, int pno) {
    Parameter parameter;
    const std::string where = "parameter " + std::to_string(pno) + " ";
    if (node.is_integer()) {
      parameter.value = static_cast<uint16_t>(Integer(node, where + "value", 0, kHighestValue));
      return parameter;
    }
    const toml::table* table = node.as_table();
    if (table == nullptr) {
      Fail(node.source(), where + "must be a value or a table { value = ... }");
    }
    const toml::node* value = table->get("value");
    if (value == nullptr) {
      Fail(node.source(), where + "without 'value'");
    }
    for (const auto& [key, field] : *table) {
      const std::string_view name = key.str();
      if (name == "value") {
        parameter.value = static_cast<uint16_t>(Integer(field, where + "value", 0, kHighestValue));
      } else if (name == "format") {
        parameter.formatCode =
            static_cast<int>(Integer(field, where + "format", 0, kHighestFormat));
      } else if (name == "read_only") {
        const std::optional<bool> flag = field.value_exact<bool>();
        if (!flag) {
          Fail(field.source(), "'read_only' must be true or false");
        }
        parameter.readOnly = *flag;
      } else if (name == "drift") {
        parameter.drift = ReadDrift(field, where);
        followSources_[pno] = field.source();
      } else {
        Fail(key.source(), "unknown key '" + std::string(name) + "' in " + where);
      }
    }
    return parameter;
  }

  Drift ReadDrift(const toml::node& node, const std::string& where) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
      Fail(node.source(), where + "'drift' must be a table");
    }
    Drift drift;
    for (const auto& [key, field] : *table) {
      const std::string_view name = key.str();
      if (name == "amplitude") {
        drift.amplitude = Number(field, "amplitude");
      } else if (name == "period") {
        drift.period = Number(field, "period");
      } else if (name == "lag") {
        drift.lag = Number(field, "lag");
      } else if (name == "follow") {
        drift.follow = static_cast<int>(Integer(field, "follow", 0, kHighestPno));
      } else {
        Fail(key.source(), "unknown key '" + std::string(name) + "' in a drift");
      }
    }
    return drift;
  }

  std::string source_;
  std::set<uint8_t> addresses_;
  std::map<int, toml::source_region> followSources_;
};

}  // namespace

void CheckPlant(const Plant& plant) {
  std::set<uint8_t> addresses;
  for (const Instrument& instrument : plant.instruments) {
    CheckInstrument(instrument, "");
    if (!addresses.insert(AddressByte(instrument.id)).second) {
      throw PlantError("instrument id " + IdText(instrument.id) +
                       " shares its address byte with another instrument");
    }
  }
}

Plant DefaultPlant() {
  Plant plant;
  plant.instruments.push_back(Zone(0x01, "zone 1", 250, 300, 20.0));
  plant.instruments.push_back(Zone(0x02, "zone 2", 180, 220, 27.0));
  return plant;
}

Plant ParsePlant(std::string_view text, const std::string& sourceName) {
  toml::table root;
  try {
    root = toml::parse(text, sourceName);
  } catch (const toml::parse_error& error) {
    throw PlantError(sourceName + ":" + std::to_string(error.source().begin.line) + ": " +
                     std::string(error.description()));
  }
  Plant plant = FileReader(sourceName).Read(root);
  CheckPlant(plant);
  return plant;
}

Plant LoadPlant(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw PlantError(path.string() + ": cannot be read");
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParsePlant(text.str(), path.string());
}

}  // namespace mokta::sim
