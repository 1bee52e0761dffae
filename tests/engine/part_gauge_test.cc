// The engine's inspection: what it measures, judges, counts and accumulates must agree with what
// the images it produced show; and the statistics window, the result fan-out and the loop.
#include "engine/part_gauge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <thread>

#include "engine/gauge_loop.h"
#include "engine/meas_stats.h"
#include "engine/result_fanout.h"
#include "tests/results/part_image.h"

namespace {

const CPartGauge::Measurement& Value(const CPartGauge::Report& r, const std::string& name) {
  for (const auto& m : r.values) {
    if (m.name == name) return m;
  }
  static CPartGauge::Measurement none;
  ADD_FAILURE() << "no measurement " << name;
  return none;
}

VAR_RESULT_TYPE Expected(double v, const MEASVARPROPS& p, bool recycle) {
  if (v >= p.tolerance[kMinPass] && v <= p.tolerance[kMaxPass]) return VAR_RESULT_PASSED;
  if (recycle && v >= p.tolerance[kMinRecycle] && v <= p.tolerance[kMaxRecycle])
    return VAR_RESULT_RECYCLED;
  return VAR_RESULT_REJECTED;
}

TEST(Inspection, MeasurementsCountersAndStatisticsFollowTheImages) {
  CPartGauge insp(7);
  const char* kNumeric[] = {"Width", "Height", "Angle"};
  std::map<std::string, testimg::Stats> stats;
  std::map<std::string, MEASVARPROPS> props;
  for (const char* name : kNumeric) ASSERT_TRUE(insp.GetProps(name, &props[name]));
  MEASVARPROPS label_props;
  ASSERT_TRUE(insp.GetProps("LotCode", &label_props));
  ASSERT_EQ(label_props.kind, kMeasKindText);

  uint32_t passed = 0, recycled = 0, rejected = 0;
  std::set<VAR_RESULT_TYPE> seen;
  for (int i = 0; i < 400; ++i) {
    const CPartGauge::Report r = insp.Inspect(1000 + 50 * i);
    ASSERT_EQ(r.width, 640);
    ASSERT_EQ(r.height, 480);
    ASSERT_EQ(r.image.size(), 640u * 480u);
    ASSERT_EQ(r.number, static_cast<uint32_t>(i + 1));
    const testimg::Part part = testimg::Read(r.image.data(), r.width, r.height);
    const double seen_values[] = {part.width, part.height, part.angle};
    VAR_RESULT_TYPE worst = VAR_RESULT_PASSED;
    for (int k = 0; k < 3; ++k) {
      const auto& m = Value(r, kNumeric[k]);
      ASSERT_EQ(m.value, seen_values[k]) << kNumeric[k] << " of image " << i;
      ASSERT_EQ(m.result, Expected(m.value, props[kNumeric[k]], true));
      stats[kNumeric[k]].Add(m.value);
      worst = std::max(worst, m.result);
    }
    const auto& label = Value(r, "LotCode");
    ASSERT_EQ(label.text, part.label);
    ASSERT_EQ(label.result,
              part.label == label_props.expected ? VAR_RESULT_PASSED : VAR_RESULT_REJECTED);
    worst = std::max(worst, label.result);
    ASSERT_EQ(r.result, worst);
    seen.insert(worst);
    ++(worst == VAR_RESULT_PASSED ? passed : worst == VAR_RESULT_RECYCLED ? recycled : rejected);
    EXPECT_EQ(r.record.counts[kResultLast], static_cast<int32_t>(worst));
  }
  // The generator's spread must exercise every outcome, or the judging is not tested.
  EXPECT_EQ(seen.size(), 3u);

  const OZK_PROCESS_RESULTS c = insp.Counters();
  EXPECT_EQ(c.counts[kResultPassed], static_cast<int32_t>(passed));
  EXPECT_EQ(c.counts[kResultRecycled], static_cast<int32_t>(recycled));
  EXPECT_EQ(c.counts[kResultRejected], static_cast<int32_t>(rejected));
  EXPECT_EQ(static_cast<uint32_t>(c.counts[kResultInspected]), 400u);
  EXPECT_NEAR(c.values[kResultRateHz], 20.0, 1e-9);  // one image every 50 ms

  for (const char* name : kNumeric) {
    OZK_MEAS_VAR_STAT_RECORD s;
    ASSERT_TRUE(insp.GetStats(name, &s));
    const testimg::Stats& want = stats[name];
    EXPECT_EQ(s.count, 400) << name;
    EXPECT_EQ(s.min, want.min) << name;
    EXPECT_EQ(s.max, want.max) << name;
    EXPECT_NEAR(s.mean, want.Mean(), 1e-9) << name;
    EXPECT_NEAR(s.sum_squares, want.sum_squares, 1e-6) << name;
    EXPECT_EQ(s.recent_count, 400);
    EXPECT_EQ(s.sample_period_ms, 50u);
  }
}

TEST(Inspection, TolerancesAndRecycleEnableDecideTheResult) {
  CPartGauge insp(3);
  MEASVARPROPS p;
  ASSERT_TRUE(insp.GetProps("Width", &p));
  struct Case {
    double min_recycle, min_pass, max_pass, max_recycle;
    bool recycle;
  };
  // Every width lies in 17..23 mm: tolerances far below, around and above it.
  const Case cases[] = {
      {0, 0, 100, 100, true},  // always passes
      {0, 0, 1, 100, true},    // always recycled
      {0, 0, 1, 100, false},   // recycling off: rejected
      {0, 0, 1, 2, true},      // always rejected
  };
  for (const Case& c : cases) {
    p.tolerance[kMinRecycle] = c.min_recycle;
    p.tolerance[kMinPass] = c.min_pass;
    p.tolerance[kMaxPass] = c.max_pass;
    p.tolerance[kMaxRecycle] = c.max_recycle;
    ASSERT_TRUE(insp.SetProps("Width", p));
    insp.SetRecycleEnabled(c.recycle);
    for (int i = 0; i < 20; ++i) {
      const auto r = insp.Inspect(i);
      EXPECT_EQ(Value(r, "Width").result, Expected(Value(r, "Width").value, p, c.recycle));
    }
  }
  EXPECT_FALSE(insp.SetProps("NoSuchVar", p));
}

TEST(Inspection, ResetsAndEnumeration) {
  CPartGauge insp(5);
  for (int i = 0; i < 10; ++i) insp.Inspect(i * 10);
  EXPECT_EQ(insp.NumVars(), 4);
  EXPECT_EQ(insp.VarName(0), "Width");
  EXPECT_EQ(insp.VarName(3), "LotCode");
  EXPECT_EQ(insp.VarName(4), "");
  EXPECT_EQ(insp.VarName(-1), "");
  OZK_MEAS_VAR_ATTR attr;
  ASSERT_TRUE(insp.GetAttr("Angle", &attr));
  EXPECT_STREQ(MeasToolTypeName(attr.tool_type), "Angle");

  ASSERT_TRUE(insp.ResetStats("Width"));
  OZK_MEAS_VAR_STAT_RECORD s;
  insp.GetStats("Width", &s);
  EXPECT_EQ(s.count, 0);
  insp.GetStats("Height", &s);
  EXPECT_EQ(s.count, 10);
  ASSERT_TRUE(insp.ResetStats(""));
  insp.GetStats("Height", &s);
  EXPECT_EQ(s.count, 0);
  EXPECT_FALSE(insp.ResetStats("nope"));

  insp.ResetCounters();
  const auto c = insp.Counters();
  EXPECT_EQ(c.counts[kResultPassed] + c.counts[kResultRecycled] + c.counts[kResultRejected], 0);
  EXPECT_EQ(static_cast<uint32_t>(c.counts[kResultImageNumber]), 10u);  // images keep counting
}

TEST(MeasStats, WindowKeepsTheNewestValues) {
  CMeasStats stats;
  OZK_MEAS_VAR_STAT_RECORD r = stats.Record();
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.recent_count, 0);
  const int n = kMeasRecentValues + 10;
  for (int i = 0; i < n; ++i) stats.Add(i, 100 * i);
  r = stats.Record();
  EXPECT_EQ(r.count, n);
  EXPECT_EQ(r.recent_count, kMeasRecentValues);
  EXPECT_EQ(r.recent[0], 10.0f);
  EXPECT_EQ(r.recent[kMeasRecentValues - 1], static_cast<float>(n - 1));
  EXPECT_EQ(r.sample_period_ms, 100u);
  EXPECT_EQ(r.min, 0);
  EXPECT_EQ(r.max, n - 1);
  EXPECT_DOUBLE_EQ(r.mean, (n - 1) / 2.0);
}

TEST(ResultFanout, ASlowClientHoldsUpNobodyAndLosesItsOldest) {
  CResultFanout fanout;
  std::atomic<int> fast{0};
  std::atomic<bool> release{false};
  std::vector<int32_t> slow_seen;
  std::mutex slow_mu;
  fanout.AddClient(1, [&](CLumMsg* m) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(slow_mu);
    slow_seen.push_back(m->GetId());
  });
  fanout.AddClient(2, [&](CLumMsg*) { ++fast; });
  // Each message is published once the fast client has taken the one before.
  const int kMessages = 50;
  for (int i = 0; i < kMessages; ++i) {
    fanout.Publish(std::make_shared<CLumMsg>(i));
    for (int wait = 0; wait < 2000 && fast <= i; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(fast, kMessages);
  release = true;
  fanout.Stop();
  // The slow client got its first message (taken before it stalled) and at most the newest
  // queued ones after it.
  ASSERT_FALSE(slow_seen.empty());
  EXPECT_LE(slow_seen.size(), 1 + CResultFanout::kMaxQueued);
  EXPECT_GT(fanout.Dropped(), 0u);
}

TEST(ResultFanout, AClientMayBeRemovedFromItsOwnDelivery) {
  CResultFanout fanout;
  std::atomic<int> delivered{0};
  fanout.AddClient(9, [&](CLumMsg*) {
    fanout.RemoveClient(9);  // what a client closing from its result callback does
    ++delivered;
  });
  fanout.Publish(std::make_shared<CLumMsg>(1));
  for (int i = 0; i < 2000 && !delivered; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(delivered, 1);
  EXPECT_FALSE(fanout.HasClient(9));
  fanout.Publish(std::make_shared<CLumMsg>(2));
  fanout.Stop();
  EXPECT_EQ(delivered, 1);
}

TEST(InspectionLoop, TriggersAndFreeRunning) {
  std::atomic<int> images{0};
  std::atomic<double> rate{0};
  CGaugeLoop loop([&] { ++images; }, [&] { return rate.load(); });
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(loop.Trigger());
  for (int i = 0; i < 2000 && images < 5; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(images, 5);
  rate = 100;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const int free_run = images - 5;
  // Loose bounds: the machine is shared; the point is that images come without triggers.
  EXPECT_GT(free_run, 5);
  EXPECT_LT(free_run, 60);
  loop.Stop();
  const int stopped = images;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(images, stopped);
  EXPECT_FALSE(loop.Trigger());
}

}  // namespace
