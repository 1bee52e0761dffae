// The engine's answers about results, modes and measurement variables to requests as a client
// sends them, malformed ones included.
#include "engine/gauge_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/result_message_ids.h"
#include "vartree/tvar.h"

namespace {

class InspectionServiceTest : public ::testing::Test {
 protected:
  InspectionServiceTest() : service_(&root_, &params_, {}) { params_.AddStandardSet(); }

  CLumMsg Ask(int32_t id, std::initializer_list<CLumVariant> values = {}) {
    CLumMsg request(id), reply;
    for (const auto& v : values) request.Add(v);
    EXPECT_TRUE(service_.HandleMessage(1, request, &reply)) << id;
    return reply;
  }
  int64_t First(const CLumMsg& m) { return m.Get(0).GetLongLong(0); }
  uint32_t Inspected() {
    OZK_PROCESS_RESULTS r;
    EXPECT_EQ(UnPackResultVar(Ask(kMsgGetResultCount).Get(0), &r), 1);
    return static_cast<uint32_t>(r.counts[kResultInspected]);
  }
  void WaitForInspected(uint32_t n) {
    for (int i = 0; i < 2000 && Inspected() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  CtVar root_;
  CDeviceParams params_;
  CGaugeService service_;
};

TEST_F(InspectionServiceTest, ModesAreKeptAndIdleTakesNoImages) {
  EXPECT_EQ(First(Ask(kMsgGetEngineMode)), 1);
  EXPECT_EQ(First(Ask(kMsgSetEngineMode, {CLumVariant(7)})), 0);  // no such mode
  EXPECT_EQ(First(Ask(kMsgSetEngineMode, {CLumVariant(0)})), 1);
  EXPECT_EQ(First(Ask(kMsgGetEngineMode)), 0);
  EXPECT_EQ(First(Ask(kMsgSoftwareTrigger)), 0);
  const CLumMsg state = Ask(kMsgGetFrameworkState);
  EXPECT_EQ(state.Size(), 2);
  EXPECT_EQ(state.Get(1).GetLongLong(0), 0);
  EXPECT_EQ(First(Ask(kMsgSetAppMode, {CLumVariant(4)})), 4);
  EXPECT_EQ(First(Ask(kMsgGetAppMode)), 4);
  EXPECT_EQ(First(Ask(kMsgLockHistory)), 1);
  EXPECT_EQ(First(Ask(kMsgUnLockHistory)), 1);
  EXPECT_EQ(Ask(kMsgSendMsgHandlerEvent, {CLumVariant(3)}).Size(), 0);
  EXPECT_EQ(Inspected(), 0u);

  EXPECT_EQ(First(Ask(kMsgSetEngineMode, {CLumVariant(1)})), 1);
  EXPECT_EQ(First(Ask(kMsgSoftwareTrigger)), 1);
  WaitForInspected(1);
  EXPECT_EQ(Inspected(), 1u);
  CLumMsg other(12345), reply;
  EXPECT_FALSE(service_.HandleMessage(1, other, &reply));
  EXPECT_EQ(reply.Size(), 0);
}

TEST_F(InspectionServiceTest, MalformedMeasurementRequestsAreRefused) {
  // Short property data, a name that is no variable, a camera the appliance lacks.
  EXPECT_EQ(First(Ask(kMsgSetMeasVarProperties,
                      {CLumVariant("Width"), CLumVariant(0), CLumVariant("abc", 3, true)})),
            0);
  EXPECT_EQ(Ask(kMsgGetMeasVarProperties, {CLumVariant("Nope"), CLumVariant(0)}).Size(), 0);
  EXPECT_EQ(Ask(kMsgGetMeasVarStats, {CLumVariant("Width"), CLumVariant(3)}).Size(), 0);
  EXPECT_EQ(Ask(kMsgGetMeasVarAttributes, {}).Size(), 0);
  EXPECT_EQ(Ask(kMsgGetMeasVarStats, {CLumVariant("Width"), CLumVariant(0)}).Get(0).GetDataSize(0),
            8272);
  // Enumeration cursors belong to the client that asks.
  EXPECT_STREQ(Ask(kMsgGetNextMeasVar, {CLumVariant(0), CLumVariant(0)}).Get(0).GetString(0),
               "Width");
  EXPECT_STREQ(Ask(kMsgGetNextMeasVar, {CLumVariant(1), CLumVariant(0)}).Get(0).GetString(0),
               "Height");
  CLumMsg request(kMsgGetNextMeasVar), reply;
  request.Add(CLumVariant(1));
  request.Add(CLumVariant(0));
  ASSERT_TRUE(service_.HandleMessage(2, request, &reply));
  EXPECT_STREQ(reply.Get(0).GetString(0), "Height");  // a fresh cursor of client 2 moved once
  for (int i = 0; i < 5; ++i) Ask(kMsgGetNextMeasVar, {CLumVariant(1), CLumVariant(0)});
  EXPECT_STREQ(Ask(kMsgGetNextMeasVar, {CLumVariant(1), CLumVariant(0)}).Get(0).GetString(0), "");
}

}  // namespace
