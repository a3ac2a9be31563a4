// The driver loaded as a host loads it: dlopen without defining err in the
// host. Its messages must reach the runtime library's sink; were its reference
// to err bound to the C library's err(3), that would print and end the process.

#include <dlfcn.h>
#include <kyrpro/kyrpro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lorvant/records.h"

namespace {

using VpiMainFunction = int32_t (*)(VpiRequest*);
using SetSinkFunction = void (*)(KyrLogSink, void*);

void Collect(void* context, int level, const char* message) {
  static_cast<std::vector<std::string>*>(context)->push_back(std::to_string(level) + " " + message);
}

template <typename Function>
Function Lookup(void* library, const char* name) {
  return reinterpret_cast<Function>(dlsym(library, name));  // NOLINT
}

TEST(DriverLoadedByHost, MessageReachesTheRuntimeSink) {
  void* driver = dlopen(LORVANT_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(driver, nullptr) << dlerror();
  const auto vpiMain = Lookup<VpiMainFunction>(driver, "VpiMain");
  ASSERT_NE(vpiMain, nullptr);

  // The runtime library came in as the driver's dependency.
  void* runtime = dlopen("libKYRPRO.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(runtime, nullptr) << dlerror();
  const auto setSink = Lookup<SetSinkFunction>(runtime, "KyrSetLogSink");
  ASSERT_NE(setSink, nullptr);

  std::vector<std::string> lines;
  setSink(Collect, &lines);
  GateParseRecord record{"9a001", 0, 0, 0, {}};
  VpiRequest request{nullptr, 3, 0, 0, &record};
  EXPECT_EQ(vpiMain(&request), 1);
  setSink(nullptr, nullptr);

  EXPECT_THAT(lines, ::testing::ElementsAre("64 MOKTA> Parse() Illegal character 1 in '9A001'"));
  dlclose(runtime);
  dlclose(driver);
}

TEST(DriverLoadedByHost, ExportsOnlyVpiMain) {
  void* driver = dlopen(LORVANT_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(driver, nullptr) << dlerror();
  EXPECT_NE(dlsym(driver, "VpiMain"), nullptr);
  for (const char* hidden : {"_ZN7lorvant5ParseEP10VpiRequest", "Parse", "Dispatch"}) {
    EXPECT_EQ(dlsym(driver, hidden), nullptr) << hidden;
  }
  dlclose(driver);
}

}  // namespace
