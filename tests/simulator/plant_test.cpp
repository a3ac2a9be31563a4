// Plants: the built-in one, the example file, and plant files with mistakes,
// each refused with the file, the line and the problem.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "mokta/sim/engine.h"
#include "mokta/sim/plant.h"

namespace mokta::sim {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

std::string LoadError(const std::string& text) {
  try {
    ParsePlant(text, "plant.toml");
  } catch (const PlantError& error) {
    return error.what();
  }
  return "(loaded)";
}

TEST(SimPlant, TheDefaultPlantHasTwoZonesWithLiveProcessValues) {
  const Plant plant = DefaultPlant();
  ASSERT_EQ(plant.instruments.size(), 2U);
  EXPECT_EQ(plant.instruments[0].id, 0x01);
  EXPECT_EQ(plant.instruments[1].id, 0x02);
  EXPECT_NO_THROW(CheckPlant(plant));
  Engine engine(plant);
  for (const int id : {0x01, 0x02}) {
    SCOPED_TRACE(id);
    // The process value starts below its setpoint and climbs towards it.
    const uint16_t early = engine.LiveValue(id, 0, Seconds(1.0)).value_or(0);
    const uint16_t late = engine.LiveValue(id, 0, Seconds(600.0)).value_or(0);
    const uint16_t setpoint = engine.Get(id, 1)->value;
    EXPECT_LT(early + 10, setpoint);
    EXPECT_NEAR(late, setpoint, 3);
    EXPECT_TRUE(engine.Get(id, 0)->readOnly);
    EXPECT_FALSE(engine.Get(id, 1)->readOnly);
  }
}

TEST(SimPlant, TheExampleFileLoads) {
  const Plant plant = LoadPlant(MOKTA_EXAMPLE_PLANT);
  ASSERT_EQ(plant.instruments.size(), 2U);
  const Instrument& zone = plant.instruments[0];
  EXPECT_EQ(zone.id, 0x01);
  EXPECT_EQ(zone.name, "zone 1");
  EXPECT_EQ(zone.parameters.at(1).value, 300);
  ASSERT_TRUE(zone.parameters.at(0).drift.has_value());
  EXPECT_THAT(zone.parameters.at(0).drift->follow, Optional(1));
  EXPECT_EQ(plant.instruments[1].id, 0x12);
  EXPECT_EQ(plant.instruments[1].parameters.at(1).value, 65535);
}

TEST(SimPlant, AFileWithEveryFormOfParameter) {
  const Plant plant = ParsePlant(R"(
[[instrument]]
id = 0x8F
[instrument.parameters]
0 = 250
1 = { value = 1200, format = 4 }
2 = { value = 300, read_only = true }
3 = { value = 200, drift = { amplitude = 5, period = 20.0 } }
127 = { value = 20, drift = { follow = 1, lag = 30 } }
)",
                                 "plant.toml");
  ASSERT_EQ(plant.instruments.size(), 1U);
  const auto& p = plant.instruments[0].parameters;
  EXPECT_EQ(plant.instruments[0].id, 0x8F);
  EXPECT_EQ(p.at(0).value, 250);
  EXPECT_EQ(p.at(0).formatCode, 0);
  EXPECT_FALSE(p.at(0).readOnly);
  EXPECT_EQ(p.at(1).formatCode, 4);
  EXPECT_TRUE(p.at(2).readOnly);
  EXPECT_DOUBLE_EQ(p.at(3).drift->amplitude, 5.0);
  EXPECT_DOUBLE_EQ(p.at(3).drift->period, 20.0);
  EXPECT_DOUBLE_EQ(p.at(127).drift->lag, 30.0);
}

TEST(SimPlant, MistakesAreNamedWithTheirLine) {
  struct Case {
    const char* what;
    std::string text;
    std::string message;
  };
  const std::string head = "[[instrument]]\nid = 1\n[instrument.parameters]\n";
  const std::array cases{
      Case{"unknown top key", "colour = 1\n", "plant.toml:1: unknown key 'colour'"},
      Case{"unknown instrument key", "[[instrument]]\nid = 1\nmodel = 'x'\n",
           "plant.toml:3: unknown key 'model'"},
      Case{"id too big", "[[instrument]]\nid = 0x90\n", "plant.toml:2: 'id' 144 outside 0..143"},
      Case{"no id", "[[instrument]]\nname = 'x'\n", "plant.toml:1: instrument without 'id'"},
      Case{"same address byte", "[[instrument]]\nid = 0x05\n[[instrument]]\nid = 0x85\n",
           "plant.toml:4: instrument id 0x85 shares its address byte"},
      Case{"pno 128", head + "128 = 1\n", "plant.toml:4: parameter number '128' outside 0..127"},
      Case{"pno not a number", head + "x = 1\n", "plant.toml:4: parameter number 'x'"},
      Case{"value too big", head + "0 = 65536\n", "plant.toml:4: 'parameter 0 value' 65536"},
      Case{"negative value", head + "0 = { value = -1 }\n", "plant.toml:4:"},
      Case{"format 5", head + "0 = { value = 1, format = 5 }\n",
           "plant.toml:4: 'parameter 0 format' 5 outside 0..4"},
      Case{"no value", head + "0 = { format = 1 }\n", "plant.toml:4: parameter 0 without 'value'"},
      Case{"unknown parameter key", head + "0 = { value = 1, unit = 'C' }\n",
           "plant.toml:4: unknown key 'unit'"},
      Case{"read_only not a flag", head + "0 = { value = 1, read_only = 1 }\n",
           "'read_only' must be true or false"},
      Case{"value a string", head + "0 = '12'\n", "plant.toml:4: parameter 0 must be a value"},
      Case{"unknown drift key", head + "0 = { value = 1, drift = { speed = 1 } }\n",
           "unknown key 'speed' in a drift"},
      Case{"negative period", head + "0 = { value = 1, drift = { period = -1 } }\n",
           "'period' must not be negative"},
      Case{"follows nothing", head + "0 = { value = 1, drift = { follow = 9 } }\n",
           "plant.toml:4: parameter 0 follows parameter 9, which the instrument does not have"},
      Case{"bad TOML", "[[instrument]\n", "plant.toml:1:"},
      Case{"empty", "", "no [[instrument]]"},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(LoadError(c.text), HasSubstr(c.message)) << c.what;
  }
}

TEST(SimPlant, AFileThatCannotBeReadIsNamed) {
  try {
    LoadPlant("/nonexistent/plant.toml");
    FAIL() << "loaded";
  } catch (const PlantError& error) {
    EXPECT_THAT(error.what(), HasSubstr("/nonexistent/plant.toml"));
  }
}

TEST(SimPlant, CheckRefusesWhatAFileCouldNotSay) {
  Plant plant = DefaultPlant();
  plant.instruments[1].id = 0x81;
  EXPECT_THROW(CheckPlant(plant), PlantError);
  plant = DefaultPlant();
  plant.instruments[0].parameters[3].formatCode = 5;
  EXPECT_THROW(CheckPlant(plant), PlantError);
  plant = DefaultPlant();
  plant.instruments[0].parameters[200] = Parameter{};
  EXPECT_THROW(Engine{plant}, PlantError);
}

}  // namespace
}  // namespace mokta::sim
