// Per-thread message queues: the stand-in for the windows of the original's user interface.
//
// A thread that wants messages constructs a MessageLoop (its queue) and pumps it, with Run until
// Quit, or with DoEvents now and then. A Window created on that thread belongs to its queue:
// other threads Post (message, wparam, lparam) to it, or Send and wait, and the window's
// procedure runs on the owning thread when the queue is pumped. A thread without a loop cannot
// own windows (IsWindow is false), so nothing posted to it can wait forever unseen.
//
// Destroy a window on its own thread. Messages still queued for a destroyed window, or for a
// loop that has gone, are dropped; senders waiting on them are released.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace port {

namespace detail {
struct MessageQueue;
struct WindowCore;
}  // namespace detail

class MessageLoop {
 public:
  // Becomes the calling thread's loop until destroyed (a nested loop hides the outer one).
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Runs what is queued now and returns; false once Quit was called. Owning thread only.
  bool DoEvents();
  // Runs messages as they come until Quit. Owning thread only.
  void Run();
  // Any thread: Run returns, DoEvents reports quitting from now on.
  void Quit();

 private:
  std::shared_ptr<detail::MessageQueue> queue_;
  std::shared_ptr<detail::MessageQueue> outer_;
};

// Pumps the calling thread's loop when it has one; false when the application is quitting.
bool DoEvents();
// Whether the calling thread runs a MessageLoop.
bool HasMessageLoop();

using WindowProc = std::function<intptr_t(uint32_t message, uintptr_t wparam, intptr_t lparam)>;

class Window {
 public:
  // Belongs to the calling thread's loop; without one the window does not exist (IsWindow).
  explicit Window(WindowProc proc);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  bool IsWindow() const;
  bool IsOwnerThread() const;
  // Queues the message; false when the window or its loop is gone.
  bool Post(uint32_t message, uintptr_t wparam, intptr_t lparam) const;
  // Runs the procedure on the owning thread (directly when called there) and waits for it.
  // Gives up after timeout_ms when the owner has not started on it yet, and the message is
  // then never run; once started, it is waited for to the end. True with *result when run.
  bool Send(uint32_t message, uintptr_t wparam, intptr_t lparam, uint32_t timeout_ms,
            intptr_t* result = nullptr) const;

 private:
  std::shared_ptr<detail::WindowCore> core_;
};

}  // namespace port
