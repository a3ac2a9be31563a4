// Reading the IFG pseudo-gate: no line traffic, the channel's gap handed to
// the host's conversion function.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "address/parser.h"
#include "exchange/read.h"
#include "host/runtime.h"
#include "lorvant/records.h"
#include "support/log_capture.h"

namespace lorvant {
namespace {

using ::lorvant::testing::LogCapture;
using ::lorvant::testing::LogLine;

class ReadIfgGate : public ::testing::Test {
 protected:
  ReadIfgGate() {
    channel_.ifg = 12;
    channel_.portHandle = &channel_;  // any non-null handle: the port counts as open
    gate_.gateName = "GAP";
    gate_.address = GateAddress{0, kFormatIfg, 0, kNoBit, kWholeWidth};
    gate_.valueCount = 1;
    gate_.valueBuffer = values_.data();
  }

  int32_t Read() {
    VpiRequest request{&channel_, 5, 0, 0, &gate_};
    return VpiMain(&request);
  }

  ChannelContext channel_{};
  GateRecord gate_{};
  std::array<uint16_t, 2> values_{0x1111, 0x2222};
  LogCapture log_;
};

TEST_F(ReadIfgGate, GapArrivesInTheValueWord) {
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(values_[0], 0x1111);
  EXPECT_EQ(values_[1], 12);
  EXPECT_THAT(log_.Lines(), ::testing::IsEmpty());
}

TEST_F(ReadIfgGate, ConversionCodeIsLoggedAndReturned) {
  gate_.valueBuffer = nullptr;  // the runtime's conversion refuses with 1
  EXPECT_EQ(Read(), 1);
  EXPECT_THAT(log_.Lines(),
              ::testing::ElementsAre(
                  LogLine{kLogDetail, "MOKTA> DoRead() UnCook err. 1 for gate GAP"},
                  LogLine{kLogDetail, "MOKTA> SingleRead(), ret val is 1 for gate 'GAP'"}));
}

TEST_F(ReadIfgGate, ClosedPortAnswersOneWithoutConversion) {
  channel_.portHandle = nullptr;
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(values_[1], 0x2222);
  EXPECT_THAT(log_.Lines(), ::testing::ElementsAre(LogLine{
                                kLogDetail, "MOKTA> SingleRead(), ret val is 1 for gate 'GAP'"}));
}

TEST_F(ReadIfgGate, GateWithoutNameIsLoggedWithAnEmptyName) {
  channel_.portHandle = nullptr;
  gate_.gateName = nullptr;
  EXPECT_EQ(Read(), 1);
  EXPECT_THAT(log_.Lines(), ::testing::ElementsAre(LogLine{
                                kLogDetail, "MOKTA> SingleRead(), ret val is 1 for gate ''"}));
}

}  // namespace
}  // namespace lorvant
