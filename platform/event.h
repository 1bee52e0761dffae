// Event: one thread waits until another signals. An auto-reset event lets one wait through per
// signal; a manual-reset event stays signalled until Reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace port {

class Event {
 public:
  explicit Event(bool manual_reset = false) : manual_(manual_reset) {}

  void Set() {
    {
      std::lock_guard lock(mu_);
      signalled_ = true;
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard lock(mu_);
    signalled_ = false;
  }
  // True when signalled within timeout_ms.
  bool Wait(uint32_t timeout_ms) {
    std::unique_lock lock(mu_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return signalled_; }))
      return false;
    if (!manual_) signalled_ = false;
    return true;
  }

 private:
  const bool manual_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace port
