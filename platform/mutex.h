// Locks shared across subsystems.
//
// RecursiveMutex is the "critical section" of the original: one thread may enter it again while
// it holds it, and must leave it as often as it entered. It also keeps a sequence for readers
// that do not take it: odd while some thread holds the lock, and grown by the outermost Enter
// and Leave only. A reader that saw the same even sequence before and after reading (with
// relaxed atomic loads of data that holders store atomically) read no change made under the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace port {

class RecursiveMutex {
 public:
  void Enter() {
    mu_.lock();
    Entered();
  }
  bool TryEnter() {
    if (!mu_.try_lock()) return false;
    Entered();
    return true;
  }
  void Leave() {
    // Only the holder touches the depth, so it needs no atomic access.
    if (--depth_ == 0)
      sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    mu_.unlock();
  }

  // BasicLockable, so std::lock_guard and std::unique_lock work too.
  void lock() { Enter(); }
  void unlock() { Leave(); }

  // For readers without the lock: the sequence as it is now (acquire), and as it is after the
  // reader's loads (an acquire fence keeps them before it).
  uint64_t SequenceBefore() const { return sequence_.load(std::memory_order_acquire); }
  uint64_t SequenceAfter() const {
    std::atomic_thread_fence(std::memory_order_acquire);
    return sequence_.load(std::memory_order_relaxed);
  }

 private:
  void Entered() {
    if (depth_++ == 0) {
      sequence_.store(sequence_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      // The odd value is visible before any store the holder makes.
      std::atomic_thread_fence(std::memory_order_release);
    }
  }

  std::recursive_mutex mu_;
  uint32_t depth_ = 0;
  std::atomic<uint64_t> sequence_{0};
};

}  // namespace port
