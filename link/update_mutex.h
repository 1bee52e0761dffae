// The client's update mutex: recursive and timed like the original's, and aware of the thread
// that holds it, so that a release from a thread that does not hold it does nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

class CUpdateMutex {
 public:
  void lock() {
    mu_.lock();
    Entered();
  }
  bool try_lock_for(std::chrono::milliseconds timeout) {
    if (!mu_.try_lock_for(timeout)) return false;
    Entered();
    return true;
  }
  void unlock() {
    if (--depth_ == 0) owner_ = std::thread::id();
    mu_.unlock();
  }
  bool HeldByThisThread() const { return owner_ == std::this_thread::get_id(); }

 private:
  void Entered() {
    owner_ = std::this_thread::get_id();
    ++depth_;
  }

  std::recursive_timed_mutex mu_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;  // touched only by the holder
};
