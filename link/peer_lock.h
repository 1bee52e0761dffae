// PeerTreeLock: the tree lock as a peer holds it, from its lock request to its unlock request.
//
// The tree lock belongs to a thread, while the peer's requests may be served on any handler
// thread. So the lock is entered and left by a thread of its own, and while it is held the
// peer's tree operations run on that same thread (Run), where the recursive lock lets them pass
// and everyone else waits. Lock requests nest; the last unlock leaves the lock.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class PeerTreeLock {
 public:
  PeerTreeLock() = default;
  ~PeerTreeLock();  // leaves a lock the peer still holds
  PeerTreeLock(const PeerTreeLock&) = delete;
  PeerTreeLock& operator=(const PeerTreeLock&) = delete;

  int Lock();
  // 0 when the peer holds no lock.
  int Unlock();
  // Runs op on the holding thread while the lock is held, else on the calling thread.
  void Run(const std::function<void()>& op);

 private:
  void Hold();

  std::mutex mu_;
  std::condition_variable cv_;
  int depth_ = 0;
  bool entered_ = false;
  std::deque<const std::function<void()>*> ops_;
  size_t done_ = 0;  // ops completed, to tell a caller that its own op ran
  size_t posted_ = 0;
  std::thread holder_;
};
