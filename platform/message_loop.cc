#include "platform/message_loop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace port {
namespace detail {

// What a sender waits on: filled by the owner thread, or taken back by the sender.
struct SendSlot {
  enum State { kQueued, kRunning, kDone, kDropped } state = kQueued;
  intptr_t result = 0;
};

struct Item {
  std::shared_ptr<WindowCore> target;
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
  std::shared_ptr<SendSlot> slot;  // null for a posted message
};

struct MessageQueue {
  std::mutex mu;
  std::condition_variable cv;  // items arrived or quit (owner); a send finished (senders)
  std::deque<Item> items;
  bool quit = false;
  bool closed = false;
  std::thread::id owner = std::this_thread::get_id();
};

struct WindowCore {
  WindowProc proc;
  std::shared_ptr<MessageQueue> queue;
  bool alive = true;  // guarded by queue->mu
};

}  // namespace detail

namespace {

using detail::Item;
using detail::MessageQueue;
using detail::SendSlot;

thread_local std::shared_ptr<MessageQueue> t_queue;

// Runs one item on the owner thread, outside the queue lock.
void Dispatch(MessageQueue& q, Item& item) {
  bool alive;
  {
    std::lock_guard lock(q.mu);
    alive = item.target->alive;
    if (item.slot) item.slot->state = alive ? SendSlot::kRunning : SendSlot::kDropped;
  }
  intptr_t result = alive ? item.target->proc(item.message, item.wparam, item.lparam) : 0;
  if (!item.slot) return;
  {
    std::lock_guard lock(q.mu);
    if (alive) {
      item.slot->result = result;
      item.slot->state = SendSlot::kDone;
    }
  }
  q.cv.notify_all();
}

// Runs the items queued now; false when quitting. wait: block until something arrives.
bool Pump(MessageQueue& q, bool wait) {
  std::deque<Item> batch;
  {
    std::unique_lock lock(q.mu);
    if (wait) q.cv.wait(lock, [&] { return q.quit || !q.items.empty(); });
    if (q.quit) return false;
    batch.swap(q.items);
  }
  for (Item& item : batch) Dispatch(q, item);
  return true;
}

}  // namespace

MessageLoop::MessageLoop() : queue_(std::make_shared<MessageQueue>()), outer_(std::move(t_queue)) {
  t_queue = queue_;
}

MessageLoop::~MessageLoop() {
  std::deque<Item> dropped;
  {
    std::lock_guard lock(queue_->mu);
    queue_->closed = true;
    dropped.swap(queue_->items);
    for (Item& item : dropped)
      if (item.slot) item.slot->state = SendSlot::kDropped;
  }
  queue_->cv.notify_all();
  t_queue = std::move(outer_);
}

bool MessageLoop::DoEvents() {
  return Pump(*queue_, false);
}

void MessageLoop::Run() {
  while (Pump(*queue_, true)) {
  }
}

void MessageLoop::Quit() {
  {
    std::lock_guard lock(queue_->mu);
    queue_->quit = true;
  }
  queue_->cv.notify_all();
}

bool DoEvents() {
  return t_queue ? Pump(*t_queue, false) : true;
}

bool HasMessageLoop() {
  return t_queue != nullptr;
}

Window::Window(WindowProc proc) {
  if (!t_queue) return;
  core_ = std::make_shared<detail::WindowCore>();
  core_->proc = std::move(proc);
  core_->queue = t_queue;
}

Window::~Window() {
  if (!core_) return;
  std::lock_guard lock(core_->queue->mu);
  core_->alive = false;
}

bool Window::IsWindow() const {
  if (!core_) return false;
  std::lock_guard lock(core_->queue->mu);
  return !core_->queue->closed;
}

bool Window::IsOwnerThread() const {
  return core_ && core_->queue->owner == std::this_thread::get_id();
}

bool Window::Post(uint32_t message, uintptr_t wparam, intptr_t lparam) const {
  if (!core_) return false;
  MessageQueue& q = *core_->queue;
  {
    std::lock_guard lock(q.mu);
    if (q.closed) return false;
    q.items.push_back({core_, message, wparam, lparam, nullptr});
  }
  q.cv.notify_all();
  return true;
}

bool Window::Send(uint32_t message, uintptr_t wparam, intptr_t lparam, uint32_t timeout_ms,
                  intptr_t* result) const {
  if (!core_) return false;
  MessageQueue& q = *core_->queue;
  if (IsOwnerThread()) {
    const intptr_t r = core_->proc(message, wparam, lparam);
    if (result) *result = r;
    return true;
  }
  auto slot = std::make_shared<SendSlot>();
  std::unique_lock lock(q.mu);
  if (q.closed) return false;
  q.items.push_back({core_, message, wparam, lparam, slot});
  // Woken while this thread still held the lock, the owner would only block on it again.
  lock.unlock();
  q.cv.notify_all();
  lock.lock();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const auto settled = [&] {
    return slot->state == SendSlot::kDone || slot->state == SendSlot::kDropped;
  };
  if (!q.cv.wait_until(lock, deadline,
                       [&] { return settled() || slot->state == SendSlot::kRunning; })) {
    // Not started: take it back so that it never runs after the sender gave up.
    for (auto it = q.items.begin(); it != q.items.end(); ++it) {
      if (it->slot == slot) {
        q.items.erase(it);
        return false;
      }
    }
  }
  // Started (or taken by a pump that is about to start it): its arguments are in use until done.
  q.cv.wait(lock, settled);
  if (slot->state != SendSlot::kDone) return false;
  if (result) *result = slot->result;
  return true;
}

}  // namespace port
