#include "engine/result_fanout.h"

#include <algorithm>

CResultFanout::~CResultFanout() {
  Stop();
}

void CResultFanout::AddClient(uint32_t id, Deliver deliver) {
  std::vector<std::shared_ptr<Sink>> done;
  {
    std::lock_guard lock(mu_);
    if (stopped_) return;
    auto it =
        std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s->id == id; });
    if (it != sinks_.end()) RetireLocked(it);
    auto sink = std::make_shared<Sink>();
    sink->id = id;
    sink->deliver = std::move(deliver);
    sink->worker = std::thread(&CResultFanout::Run, this, sink.get());
    sinks_.push_back(std::move(sink));
  }
  done = TakeRetired(false);
  Join(done);
}

void CResultFanout::RemoveClient(uint32_t id) {
  std::vector<std::shared_ptr<Sink>> done;
  {
    std::lock_guard lock(mu_);
    auto it =
        std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s->id == id; });
    if (it != sinks_.end()) RetireLocked(it);
  }
  done = TakeRetired(false);
  Join(done);
}

bool CResultFanout::HasClient(uint32_t id) {
  std::lock_guard lock(mu_);
  return std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s->id == id; });
}

void CResultFanout::Publish(std::shared_ptr<const CLumMsg> message) {
  std::vector<std::shared_ptr<Sink>> done;
  {
    std::lock_guard lock(mu_);
    for (auto& sink : sinks_) {
      if (sink->queue.size() >= kMaxQueued) {
        sink->queue.pop_front();
        ++dropped_;
      }
      sink->queue.push_back(message);
      sink->cv.notify_one();
    }
  }
  done = TakeRetired(false);
  Join(done);
}

void CResultFanout::Stop() {
  {
    std::lock_guard lock(mu_);
    stopped_ = true;
    while (!sinks_.empty()) RetireLocked(sinks_.begin());
  }
  auto all = TakeRetired(true);
  Join(all);
}

void CResultFanout::Run(Sink* sink) {
  std::unique_lock lock(mu_);
  for (;;) {
    sink->cv.wait(lock, [&] { return sink->closed || !sink->queue.empty(); });
    if (sink->closed) break;
    CLumMsg message = *sink->queue.front();
    sink->queue.pop_front();
    lock.unlock();
    sink->deliver(&message);
    lock.lock();
  }
  sink->finished = true;
}

void CResultFanout::RetireLocked(std::vector<std::shared_ptr<Sink>>::iterator it) {
  (*it)->closed = true;
  (*it)->queue.clear();
  (*it)->cv.notify_one();
  retired_.push_back(std::move(*it));
  sinks_.erase(it);
}

std::vector<std::shared_ptr<CResultFanout::Sink>> CResultFanout::TakeRetired(bool wait_all) {
  std::lock_guard lock(mu_);
  std::vector<std::shared_ptr<Sink>> out;
  for (auto it = retired_.begin(); it != retired_.end();) {
    // A delivery thread never joins itself; it stays parked for a later call.
    const bool own = (*it)->worker.get_id() == std::this_thread::get_id();
    if (!own && (wait_all || (*it)->finished)) {
      out.push_back(std::move(*it));
      it = retired_.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

void CResultFanout::Join(std::vector<std::shared_ptr<Sink>>& sinks) {
  for (auto& sink : sinks) {
    if (sink->worker.joinable()) sink->worker.join();
  }
  sinks.clear();
}
