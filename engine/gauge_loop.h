// CGaugeLoop: the thread that takes images. It runs the inspection once per software
// trigger, and free-running at the rate the rate function reports (images per second; 0 or less:
// only on triggers). The rate is asked again at least every kRatePollMs, so a changed parameter
// takes effect without a call here. Triggers that arrive faster than images are taken are kept,
// up to kMaxPendingTriggers.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CGaugeLoop {
 public:
  static constexpr int kRatePollMs = 100;
  static constexpr int kMaxPendingTriggers = 64;

  CGaugeLoop(std::function<void()> inspect, std::function<double()> rate_hz);
  ~CGaugeLoop();
  CGaugeLoop(const CGaugeLoop&) = delete;
  CGaugeLoop& operator=(const CGaugeLoop&) = delete;

  // Returns false when the trigger was not kept (too many pending, or stopped).
  bool Trigger();
  // Waits for the inspection in progress, if any; no image is taken after.
  void Stop();

 private:
  void Run();

  std::function<void()> inspect_;
  std::function<double()> rate_hz_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  int pending_ = 0;
  std::thread thread_;
};
