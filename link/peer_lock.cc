#include "link/peer_lock.h"

#include "platform/mutex.h"
#include "vartree/tvar.h"

PeerTreeLock::~PeerTreeLock() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    depth_ = 0;
  }
  cv_.notify_all();
  if (holder_.joinable()) holder_.join();
}

void PeerTreeLock::Hold() {
  port::RecursiveMutex* tree_lock = GetTreeLock();
  tree_lock->Enter();
  std::unique_lock<std::mutex> lock(mu_);
  entered_ = true;
  cv_.notify_all();
  for (;;) {
    cv_.wait(lock, [this] { return depth_ == 0 || !ops_.empty(); });
    if (!ops_.empty()) {
      const std::function<void()>* op = ops_.front();
      ops_.pop_front();
      lock.unlock();
      (*op)();
      lock.lock();
      ++done_;
      cv_.notify_all();
      continue;
    }
    break;
  }
  entered_ = false;
  lock.unlock();
  tree_lock->Leave();
}

int PeerTreeLock::Lock() {
  std::unique_lock<std::mutex> lock(mu_);
  if (depth_++ > 0) return 1;
  if (holder_.joinable()) {  // a holder that has been told to stop
    lock.unlock();
    holder_.join();
    lock.lock();
  }
  holder_ = std::thread([this] { Hold(); });
  cv_.wait(lock, [this] { return entered_; });
  return 1;
}

int PeerTreeLock::Unlock() {
  std::thread finished;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (depth_ == 0) return 0;
    if (--depth_ > 0) return 1;
    finished = std::move(holder_);
  }
  cv_.notify_all();
  finished.join();
  return 1;
}

void PeerTreeLock::Run(const std::function<void()>& op) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!entered_ || std::this_thread::get_id() == holder_.get_id()) {
    lock.unlock();
    op();
    return;
  }
  ops_.push_back(&op);
  const size_t ticket = ++posted_;
  cv_.notify_all();
  cv_.wait(lock, [&] { return done_ >= ticket; });
}
