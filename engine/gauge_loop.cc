#include "engine/gauge_loop.h"

#include <algorithm>
#include <chrono>

CGaugeLoop::CGaugeLoop(std::function<void()> inspect, std::function<double()> rate_hz)
    : inspect_(std::move(inspect)), rate_hz_(std::move(rate_hz)) {
  thread_ = std::thread(&CGaugeLoop::Run, this);
}

CGaugeLoop::~CGaugeLoop() {
  Stop();
}

bool CGaugeLoop::Trigger() {
  std::lock_guard lock(mu_);
  if (stop_ || pending_ >= kMaxPendingTriggers) return false;
  ++pending_;
  cv_.notify_one();
  return true;
}

void CGaugeLoop::Stop() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
    cv_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

void CGaugeLoop::Run() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point next_free_run = Clock::now();
  std::unique_lock lock(mu_);
  while (!stop_) {
    lock.unlock();
    const double rate = rate_hz_();
    lock.lock();
    const auto now = Clock::now();
    auto wake = now + std::chrono::milliseconds(kRatePollMs);
    if (rate > 0) {
      const auto period =
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
      // After a pause (rate 0, or a slow inspection) the schedule starts again from now rather
      // than catching up with a burst.
      if (next_free_run + period < now) next_free_run = now;
      wake = std::min(wake, next_free_run);
      if (now >= next_free_run) {
        next_free_run += period;
        lock.unlock();
        inspect_();
        lock.lock();
        continue;
      }
    } else {
      next_free_run = now;
    }
    if (pending_ > 0) {
      --pending_;
      lock.unlock();
      inspect_();
      lock.lock();
      continue;
    }
    cv_.wait_until(lock, wake, [this] { return stop_ || pending_ > 0; });
  }
}
