// Request entry: the function-code table, the codes without an operation and
// the shut-down flag.

#include "host/dispatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <utility>

#include "address/parser.h"
#include "exchange/read.h"
#include "exchange/write.h"
#include "host/lifecycle.h"
#include "lorvant/records.h"
#include "support/log_capture.h"

namespace lorvant {
namespace {

using ::lorvant::testing::LogCapture;

TEST(FunctionCodeTable, HoldsEachOperationAtItsCode) {
  const FunctionTable expected{nullptr,
                               ColdStart,
                               WarmStart,
                               SingleAddressParser,
                               BlockAddressParser,
                               SingleRead,
                               BlockRead,
                               SingleWrite,
                               nullptr,
                               nullptr,
                               BlockWrite,
                               EndVpi,
                               CloseCom,
                               ReOpenCom,
                               GetVpiInfo,
                               ChangeVpiParams,
                               nullptr};
  for (std::size_t code = 0; code < kFunctionSlots; ++code) {
    EXPECT_EQ(FunctionCodeTable().at(code), expected.at(code)) << "function code " << code;
  }
}

// A table whose every slot records its call and answers 100 plus its code.
struct Recorder {
  std::array<int, kFunctionSlots> calls{};
  VpiRequest* lastRequest = nullptr;
};
Recorder recorder;

template <std::size_t Code>
int32_t Record(VpiRequest* request) {
  ++recorder.calls.at(Code);
  recorder.lastRequest = request;
  return static_cast<int32_t>(100 + Code);
}

template <std::size_t... Codes>
constexpr FunctionTable MakeRecordingTable(std::index_sequence<Codes...> /*codes*/) {
  return FunctionTable{&Record<Codes>...};
}
constexpr FunctionTable kRecordingTable =
    MakeRecordingTable(std::make_index_sequence<kFunctionSlots>{});

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = Recorder{};
    SetShutdownFlag(0);
  }
  void TearDown() override { SetShutdownFlag(0); }

  [[nodiscard]] static int TotalCalls() {
    int total = 0;
    for (const int calls : recorder.calls) {
      total += calls;
    }
    return total;
  }
};

TEST_F(DispatchTest, CallsTheSlotOfTheCodeAndReturnsItsResultUnchanged) {
  for (uint32_t code = 0; code < kFunctionSlots; ++code) {
    recorder = Recorder{};
    VpiRequest request{nullptr, code, 7, 0, nullptr};
    EXPECT_EQ(Dispatch(&request, kRecordingTable), static_cast<int32_t>(100 + code));
    EXPECT_EQ(recorder.calls.at(code), 1);
    EXPECT_EQ(TotalCalls(), 1);
    EXPECT_EQ(recorder.lastRequest, &request);
  }
}

TEST_F(DispatchTest, CodesAboveTheTableAnswerTwoAndCallNothing) {
  const LogCapture log;
  for (const uint32_t code : {17U, 18U, 99U, 0x7FFFFFFFU, 0x80000000U, 0xFFFFFFFFU}) {
    VpiRequest request{nullptr, code, 0, 0, nullptr};
    EXPECT_EQ(Dispatch(&request, kRecordingTable), 2) << "function code " << code;
  }
  EXPECT_EQ(TotalCalls(), 0);
  EXPECT_THAT(log.Lines(), ::testing::IsEmpty());
}

TEST_F(DispatchTest, EmptySlotsAnswerTwoAndLogNothing) {
  const LogCapture log;
  for (const uint32_t code : {0U, 8U, 9U, 16U, 17U, 0xFFFFFFFFU}) {
    VpiRequest request{nullptr, code, 0, 0, nullptr};
    EXPECT_EQ(VpiMain(&request), 2) << "function code " << code;
  }
  EXPECT_THAT(log.Lines(), ::testing::IsEmpty());
}

TEST_F(DispatchTest, AfterShutdownEveryRequestAnswersZeroUnread) {
  SetShutdownFlag(1);
  for (const uint32_t code : {14U, 1U, 3U, 99U, 0U, 0xFFFFFFFFU}) {
    VpiRequest request{nullptr, code, 0, 0, nullptr};
    EXPECT_EQ(Dispatch(&request, kRecordingTable), 0) << "function code " << code;
  }
  EXPECT_EQ(TotalCalls(), 0);
  EXPECT_EQ(Dispatch(nullptr, kRecordingTable), 0);
}

TEST_F(DispatchTest, AfterShutdownTheHostsRecordsAreUntouched) {
  SetShutdownFlag(1);
  VpiInfo info{};
  std::memset(&info, 0xA5, sizeof info);
  VpiInfo before{};
  std::memcpy(&before, &info, sizeof info);
  VpiRequest request{nullptr, 14, 0, 0, &info};
  EXPECT_EQ(VpiMain(&request), 0);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);

  GateParseRecord record{"9A001", 0, 0, 0, {1, 2, 3, 4, 5}};
  VpiRequest parse{nullptr, 3, 0, 0, &record};
  const LogCapture log;
  EXPECT_EQ(VpiMain(&parse), 0);
  EXPECT_EQ(record.address.instrumentId, 1);
  EXPECT_THAT(log.Lines(), ::testing::IsEmpty());
}

TEST_F(DispatchTest, ShutdownFlagOtherThanOneDoesNotEndTheDriver) {
  SetShutdownFlag(2);
  VpiRequest request{nullptr, 17, 0, 0, nullptr};
  EXPECT_EQ(Dispatch(&request, kRecordingTable), 2);
}

TEST_F(DispatchTest, NullRequestIsRefused) {
  EXPECT_EQ(VpiMain(nullptr), 2);
}

}  // namespace
}  // namespace lorvant
