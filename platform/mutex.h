// Locks shared across subsystems.
//
// RecursiveMutex is the "critical section" of the original: one thread may enter it again while
// it holds it, and must leave it as often as it entered.
#pragma once

#include <mutex>

namespace port {

class RecursiveMutex {
 public:
  void Enter() { mu_.lock(); }
  bool TryEnter() { return mu_.try_lock(); }
  void Leave() { mu_.unlock(); }

  // BasicLockable, so std::lock_guard and std::unique_lock work too.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mu_;
};

}  // namespace port
