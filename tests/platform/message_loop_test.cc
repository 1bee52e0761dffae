// Per-thread message queues: where and when window procedures run, and what happens to
// messages nobody will pump.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "platform/message_loop.h"

namespace {

using namespace std::chrono_literals;

struct Seen {
  std::vector<uint32_t> messages;
  std::vector<std::thread::id> threads;
};

port::WindowProc Recorder(Seen* seen) {
  return [seen](uint32_t message, uintptr_t wparam, intptr_t lparam) -> intptr_t {
    seen->messages.push_back(message);
    seen->threads.push_back(std::this_thread::get_id());
    return static_cast<intptr_t>(wparam) + lparam;
  };
}

TEST(MessageLoopTest, PostedMessagesRunOnTheOwningThreadInOrderWhenPumped) {
  port::MessageLoop loop;
  Seen seen;
  port::Window window(Recorder(&seen));
  ASSERT_TRUE(window.IsWindow());
  EXPECT_TRUE(window.IsOwnerThread());
  std::thread([&] {
    EXPECT_FALSE(window.IsOwnerThread());
    for (uint32_t m : {1035u, 1037u, 24u}) EXPECT_TRUE(window.Post(m, 0, 0));
  }).join();
  EXPECT_TRUE(seen.messages.empty());  // nothing runs until the owner pumps
  EXPECT_TRUE(port::DoEvents());
  EXPECT_EQ(seen.messages, (std::vector<uint32_t>{1035, 1037, 24}));
  for (auto id : seen.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(MessageLoopTest, RunServesSendersUntilQuit) {
  port::MessageLoop loop;
  Seen seen;
  port::Window window(Recorder(&seen));
  auto sender = std::async(std::launch::async, [&] {
    intptr_t sum = 0;
    const bool ran = window.Send(1050, 40, 2, 5000, &sum);
    loop.Quit();
    return ran ? sum : -1;
  });
  loop.Run();
  EXPECT_EQ(sender.get(), 42);
  intptr_t direct = 0;  // on the owning thread a send runs at once
  EXPECT_TRUE(window.Send(7, 3, 4, 0, &direct));
  EXPECT_EQ(direct, 7);
  EXPECT_EQ(seen.threads, std::vector<std::thread::id>(2, std::this_thread::get_id()));
  EXPECT_FALSE(loop.DoEvents());  // quitting from now on
  EXPECT_FALSE(port::DoEvents());
}

TEST(MessageLoopTest, UnservedSendTimesOutAndNeverRunsLater) {
  port::MessageLoop loop;
  Seen seen;
  port::Window window(Recorder(&seen));
  const auto start = std::chrono::steady_clock::now();
  bool ran = true;
  std::thread([&] { ran = window.Send(1050, 0, 0, 50); }).join();
  EXPECT_FALSE(ran);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_TRUE(loop.DoEvents());
  EXPECT_TRUE(seen.messages.empty());
}

TEST(MessageLoopTest, ThreadWithoutLoopOwnsNoWindow) {
  std::thread([] {
    EXPECT_FALSE(port::HasMessageLoop());
    EXPECT_TRUE(port::DoEvents());
    Seen seen;
    port::Window window(Recorder(&seen));
    EXPECT_FALSE(window.IsWindow());
    EXPECT_FALSE(window.Post(1, 0, 0));
    EXPECT_FALSE(window.Send(1, 0, 0, 10));
    EXPECT_TRUE(seen.messages.empty());
  }).join();
}

TEST(MessageLoopTest, GoneLoopOrWindowDropsItsMessagesAndReleasesSenders) {
  Seen seen;
  std::promise<void> queued;
  std::unique_ptr<port::Window> window;
  auto loop = std::make_unique<port::MessageLoop>();
  window = std::make_unique<port::Window>(Recorder(&seen));
  auto sender = std::async(std::launch::async, [&] {
    queued.set_value();
    return window->Send(1050, 0, 0, 10000);
  });
  queued.get_future().wait();
  std::this_thread::sleep_for(20ms);  // the send is queued by now
  loop.reset();
  EXPECT_FALSE(sender.get());
  EXPECT_FALSE(window->IsWindow());
  EXPECT_FALSE(window->Post(1, 0, 0));
  window.reset();

  port::MessageLoop second;
  auto doomed = std::make_unique<port::Window>(Recorder(&seen));
  std::thread([&] { EXPECT_TRUE(doomed->Post(2, 0, 0)); }).join();
  doomed.reset();
  EXPECT_TRUE(second.DoEvents());
  EXPECT_TRUE(seen.messages.empty());
}

TEST(MessageLoopTest, NestedLoopHidesTheOuterOneUntilItEnds) {
  port::MessageLoop outer;
  Seen seen;
  port::Window outer_window(Recorder(&seen));
  {
    port::MessageLoop inner;
    port::Window inner_window(Recorder(&seen));
    std::thread([&] {
      outer_window.Post(1, 0, 0);
      inner_window.Post(2, 0, 0);
    }).join();
    EXPECT_TRUE(port::DoEvents());
    EXPECT_EQ(seen.messages, (std::vector<uint32_t>{2}));
  }
  EXPECT_TRUE(port::DoEvents());
  EXPECT_EQ(seen.messages, (std::vector<uint32_t>{2, 1}));
}

}  // namespace
