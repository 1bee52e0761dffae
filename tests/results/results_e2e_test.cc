// Results end to end, in process ("loopback") and over TCP against a velserver: every image the
// engine sends is read back here, and the server's counters and statistics must be what those
// images give; then the measurement-variable calls and calibration over the same sessions.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "link/result_message_ids.h"
#include "link/vel_app_client.h"
#include "platform/process.h"
#include "tests/common/test_sandbox.h"
#include "tests/results/part_image.h"
#include "vartree/tvar.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Keeps what every results message showed, then lets the client handle it as usual.
class CapturingClient : public CVelAppClient {
 public:
  int OnNetMessage(CLumMsg* request, CLumMsg* reply) override {
    if (request->GetId() == kMsgResults) {
      const CLumVariant& image = request->Get(0);
      OZK_PROCESS_RESULTS record{};
      UnPackResultVar(request->Get(1), &record);
      std::lock_guard lock(mu_);
      if (image.GetImgBuffSize(0) ==
          static_cast<long>(image.GetImgWidth(0)) * image.GetImgHeight(0)) {
        parts_.push_back(testimg::Read(static_cast<const uint8_t*>(image.GetImgBuff(0)),
                                       static_cast<int>(image.GetImgWidth(0)),
                                       static_cast<int>(image.GetImgHeight(0))));
      }
      results_.push_back(record.counts[kResultLast]);
      texts_ = request->Get(2).GetSize();
      cv_.notify_all();
    }
    return CVelAppClient::OnNetMessage(request, reply);
  }
  bool WaitFor(size_t count) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return parts_.size() >= count; });
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<testimg::Part> parts_;
  std::vector<int32_t> results_;
  int texts_ = 0;
};

class ResultsEndToEnd : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) StartServer();
    ASSERT_EQ(client_.ConnectToVelServer(GetParam() ? L"127.0.0.1" : L"loopback", 2), 1);
  }
  void TearDown() override { client_.Close(0); }
  void StartServer() { box_.StartServer(VEL_SERVER_BIN, {"--seed", "99"}); }

  TestSandbox box_{"vel_results", 24000};
  const std::string& dir_ = box_.dir();
  const int port_ = box_.port();
  CapturingClient client_;
};

TEST_P(ResultsEndToEnd, CountersAndStatisticsAreThoseOfTheImagesSent) {
  const int kImages = 60;
  // One image at a time, so that none is dropped for being late.
  for (int i = 1; i <= kImages; ++i) {
    ASSERT_EQ(client_.SoftwareTrigger(), 1);
    ASSERT_TRUE(client_.WaitFor(i)) << "image " << i;
  }
  EXPECT_EQ(client_.texts_, 4);

  std::map<int32_t, int> by_result;
  for (int32_t r : client_.results_) ++by_result[r];
  OZK_PROCESS_RESULTS counters;
  ASSERT_EQ(client_.GetResultCount(&counters), 1);
  EXPECT_EQ(static_cast<uint32_t>(counters.counts[kResultInspected]), uint32_t{kImages});
  EXPECT_EQ(counters.counts[kResultPassed], by_result[VAR_RESULT_PASSED]);
  EXPECT_EQ(counters.counts[kResultRecycled], by_result[VAR_RESULT_RECYCLED]);
  EXPECT_EQ(counters.counts[kResultRejected], by_result[VAR_RESULT_REJECTED]);
  EXPECT_EQ(counters.counts[kResultImageWidth], 640);

  testimg::Stats width, height, angle;
  for (const auto& p : client_.parts_) {
    width.Add(p.width);
    height.Add(p.height);
    angle.Add(p.angle);
  }
  const std::pair<const char*, testimg::Stats*> vars[] = {
      {"Width", &width}, {"Height", &height}, {"Angle", &angle}};
  for (const auto& [name, want] : vars) {
    auto s = std::make_unique<OZK_MEAS_VAR_STAT_RECORD>();
    ASSERT_EQ(client_.GetMeasVarStats(name, 0, s.get()), 1) << name;
    EXPECT_EQ(s->count, kImages) << name;
    EXPECT_EQ(s->min, want->min) << name;
    EXPECT_EQ(s->max, want->max) << name;
    EXPECT_NEAR(s->mean, want->Mean(), 1e-9) << name;
    const double sd = std::sqrt(want->sum_squares / want->count - want->Mean() * want->Mean());
    EXPECT_NEAR(CVelAppClient::GetMeasStdDeviation(s.get()), sd, 1e-6) << name;
    ASSERT_EQ(s->recent_count, kImages);
    for (int i = 0; i < kImages; ++i)
      ASSERT_EQ(s->recent[i], static_cast<float>(want->values[i])) << name << " " << i;
  }

  client_.ResetMeasVarStats("Width", 0);
  auto s = std::make_unique<OZK_MEAS_VAR_STAT_RECORD>();
  ASSERT_EQ(client_.GetMeasVarStats("Width", 0, s.get()), 1);
  EXPECT_EQ(s->count, 0);
  EXPECT_EQ(s->min, 0);
  EXPECT_EQ(s->max, 1.0);
  ASSERT_EQ(client_.ResetResultCount(), 1);
  ASSERT_EQ(client_.GetResultCount(&counters), 1);
  EXPECT_EQ(counters.counts[kResultPassed] + counters.counts[kResultRecycled] +
                counters.counts[kResultRejected],
            0);
}

TEST_P(ResultsEndToEnd, MeasurementVariablesAndTheirProperties) {
  std::vector<std::string> names;
  char name[kMeasNameSize];
  for (int next = 0; names.size() < 512 && client_.GetNextMeasVar(next, 0, name, sizeof name);
       next = 1)
    names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Width", "Height", "Angle", "LotCode"}));
  EXPECT_EQ(client_.GetNextMeasVar(0, 1, name, sizeof name), 0);  // a camera it does not have
  char tiny[3];
  ASSERT_EQ(client_.GetNextMeasVar(0, 0, tiny, sizeof tiny), 1);
  EXPECT_STREQ(tiny, "Wi");

  MEASVARPROPS props;
  ASSERT_EQ(client_.GetMeasVarProperties("LotCode", 0, &props), 1);
  EXPECT_EQ(props.kind, kMeasKindText);
  EXPECT_STREQ(props.expected, "LOT42");
  ASSERT_EQ(client_.GetMeasVarProperties("Width", 0, &props), 1);
  EXPECT_EQ(props.tolerance[kPerfect], 20.0);
  EXPECT_EQ(client_.GetMeasVarProperties("Nope", 0, &props), 0);

  // Every width passes once the pass band is wide; the change is sent without a reply, so the
  // next request (answered in order) sees it.
  props.tolerance[kMinPass] = 0;
  props.tolerance[kMaxPass] = 1000;
  EXPECT_EQ(client_.SetMeasVarProperties("Width", 0, &props), 1);
  MEASVARPROPS back;
  ASSERT_EQ(client_.GetMeasVarProperties("Width", 0, &back), 1);
  EXPECT_EQ(back.tolerance[kMaxPass], 1000);

  OZK_MEAS_VAR_ATTR attr;
  ASSERT_EQ(client_.GetMeasurementVarAttributes("Width", 0, &attr), 1);
  EXPECT_STREQ(MeasToolTypeName(attr.tool_type), "Ruler");
  EXPECT_EQ(client_.GetRecycleEnable(), 1);

  // The mirrored tree shows the last part's measurements and their results.
  ASSERT_EQ(client_.SoftwareTrigger(), 1);
  ASSERT_TRUE(client_.WaitFor(1));
  CtVar* root = client_.GetRootTVar();
  ASSERT_NE(root, nullptr);
  ASSERT_TRUE(!root->GetRpc() || root->ReadTreeRemote());
  CtVar* width = root->Index("AppVar.Width", 0);
  ASSERT_NE(width, nullptr);
  std::string text;
  EXPECT_EQ(client_.GetVarValueStr(width, &text, 0), 32768);
  char want[32];
  std::snprintf(want, sizeof want, " = %5.2f", client_.parts_.back().width);
  // Units are not part of what a mirror reads from the server; in process the tree is shared.
  EXPECT_EQ(text, GetParam() ? std::string(want) : std::string(want) + " mm");
}

TEST_P(ResultsEndToEnd, CalibrationRepliesNeverOverrunTheBuffers) {
  char b1[64], b2[64];
  int points = 0;
  float scale = 0;
  ASSERT_EQ(client_.CalStart({3, 2, 60, 40, 0}, "target A", &points, &scale, b1, b2), 1);
  EXPECT_EQ(points, 6);
  EXPECT_NEAR(scale, 0.1f, 1e-6);
  EXPECT_STREQ(b1, "target A: started");
  EXPECT_STREQ(b2, "grid 3 x 2");

  // A flatness map of 100 rows is far longer than the buffer: cut, terminated, nothing past it.
  char guarded[80];
  std::memset(guarded, '#', sizeof guarded);
  int x = 0, y = 0;
  ASSERT_EQ(client_.CalFindFlatZone(0, {10, 20, 100, 50, 100}, 0, 255, 0.01f, 0, 1, 1, &x, &y, b1,
                                    std::span<char>(guarded, 16)),
            1);
  EXPECT_EQ(x, 60);
  EXPECT_EQ(y, 45);
  EXPECT_EQ(std::strlen(guarded), 15u);
  EXPECT_EQ(guarded[16], '#');
  EXPECT_EQ(std::string(guarded).substr(0, 4), "row ");

  int index = -1, selected = 0;
  for (int row = 0; row < 2; ++row) {
    for (int col = 0; col < 3; ++col) {
      ASSERT_EQ(client_.CalSelectCalPoint(0, {0, 0, 0, 0, 0}, col, row, &index, &selected, b1, b2),
                1);
    }
  }
  EXPECT_EQ(index, 5);
  EXPECT_EQ(selected, 6);
  EXPECT_EQ(client_.CalSelectCalPoint(0, {}, 3, 0, &index, nullptr, {}, {}), 0);
  EXPECT_EQ(client_.CalSaveAllValues({}), 1);
  EXPECT_EQ(client_.CalSaveAllValues({}), 0);  // a new calibration must start first
}

INSTANTIATE_TEST_SUITE_P(Hosts, ResultsEndToEnd, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tcp" : "Loopback"; });

}  // namespace
