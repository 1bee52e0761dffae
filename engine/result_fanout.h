// CResultFanout: hands each result message to every client that takes results, without ever
// making the caller wait for one of them. Every client has its own queue and delivery thread; a
// client that falls behind by more than kMaxQueued messages loses its oldest ones, so a slow or
// vanished client delays nobody but itself.
//
// RemoveClient only stops further deliveries: it may run on a thread that a delivery in progress
// waits for (an in-process client calling back into the engine), so the delivery thread is
// joined later, once it has finished, or at Stop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "netmsg/lum_msg.h"

class CResultFanout {
 public:
  static constexpr size_t kMaxQueued = 4;
  using Deliver = std::function<void(CLumMsg* message)>;

  CResultFanout() = default;
  ~CResultFanout();
  CResultFanout(const CResultFanout&) = delete;
  CResultFanout& operator=(const CResultFanout&) = delete;

  // Adds a client, or gives a known one a new delivery.
  void AddClient(uint32_t id, Deliver deliver);
  void RemoveClient(uint32_t id);
  bool HasClient(uint32_t id);
  void Publish(std::shared_ptr<const CLumMsg> message);
  // Ends every delivery thread, waiting for deliveries in progress (so never from inside a
  // delivery). Publish and AddClient do nothing after.
  void Stop();
  // Messages dropped because a client was behind.
  uint64_t Dropped() const { return dropped_; }

 private:
  struct Sink {
    uint32_t id = 0;
    Deliver deliver;
    std::deque<std::shared_ptr<const CLumMsg>> queue;
    bool closed = false;
    bool finished = false;
    std::condition_variable cv;
    std::thread worker;
  };
  void Run(Sink* sink);
  // Under mu_: closes the sink and parks it for joining.
  void RetireLocked(std::vector<std::shared_ptr<Sink>>::iterator it);
  // Takes the parked sinks whose thread has finished (all of them with wait_all), to be joined
  // outside mu_.
  std::vector<std::shared_ptr<Sink>> TakeRetired(bool wait_all);
  static void Join(std::vector<std::shared_ptr<Sink>>& sinks);

  std::mutex mu_;
  bool stopped_ = false;
  std::vector<std::shared_ptr<Sink>> sinks_;
  std::vector<std::shared_ptr<Sink>> retired_;
  std::atomic<uint64_t> dropped_{0};
};
