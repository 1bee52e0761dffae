// Result intake: the fixed order of the steps, the thread they run on with and without a
// message loop on the creating thread, the hand-over time limit and the update mutex.
#include <atomic>
#include <future>
#include <stdexcept>

#include "platform/message_loop.h"
#include "tests/intake/intake_fixture.h"
#include "vartree/tvar.h"

namespace {

using namespace std::chrono_literals;

CLumMsg ResultMessage(int32_t id = kMsgResults) {
  CLumMsg m(id);
  const std::vector<uint8_t> pixels(16, 0x55);
  CLumVariant image(LUM_VT_IMAGE);
  image.AddImage(pixels.data(), static_cast<long>(pixels.size()), 4, 4, 8, 0);
  m.Add(image);
  return m;
}

// The host side: journal entries for the image client and the result callback.
struct Host {
  Journal* journal;
  static void Image(void* arg, const CLumVariant& image) {
    static_cast<Host*>(arg)->journal->Add("image", static_cast<int32_t>(image.GetImgWidth(0)));
  }
  static void Callback(void* arg) { static_cast<Host*>(arg)->journal->Add("callback", 0); }
  static void Throwing(void* arg) {
    Callback(arg);
    throw std::runtime_error("host failure");
  }
};

TEST_F(IntakeTest, StepsRunInTheirFixedOrderAndSignalTheProcessedEvent) {
  ConnectClient();
  Host host{&journal_};
  client_->SetImageClient(Host::Image, &host);
  client_->SetResultsCallback(Host::Throwing, &host);
  for (int i = 0; i < 2; ++i) {
    CLumMsg request = ResultMessage(), reply;
    ASSERT_EQ(server_.Send(&request, &reply), 0);
    EXPECT_TRUE(client_->WaitResultProcessed(1000));
  }
  const auto events = journal_.Events();
  ASSERT_EQ(journal_.Names(), (std::vector<std::string>{"appliance", "image", "callback",
                                                        "appliance", "image", "callback"}));
  EXPECT_EQ(events[0].id, kMsgResults);
  EXPECT_EQ(events[1].id, 4);  // the image variant's width
  // Without a message loop on the creating thread everything runs where the result arrived.
  for (const Event& e : events) EXPECT_NE(e.thread, std::this_thread::get_id());
  EXPECT_FALSE(client_->WaitResultProcessed(0));  // auto-reset: consumed
}

TEST_F(IntakeTest, VBHostGetsTheResultStatusAndDisplayConfiguration) {
  ConnectClient();
  CtVar display;
  display["Zoom"] = 2.0;
  display["Title"] = "Lot 7";
  const std::vector<uint8_t> record = display.SerializeTree();
  const std::vector<uint8_t> status(40, 0x11);  // short: the rest of the 104 bytes stay zero
  CLumMsg request = ResultMessage();
  for (int i = 1; i < 9; ++i) request.Add(CLumVariant(i));
  request.Add(CLumVariant(record.data(), static_cast<long>(record.size()), true));
  request.Add(CLumVariant(status.data(), static_cast<long>(status.size()), true));
  CLumMsg reply;
  server_.Send(&request, &reply);  // not a VB host yet: nothing applied
  EXPECT_TRUE(client_->GetResultStatus().empty());
  EXPECT_EQ(client_->GetVarDispCfg()->GetChild("Zoom"), nullptr);
  client_->SetVBClient(1);
  server_.Send(&request, &reply);
  std::vector<uint8_t> expected(CVelAppClient::kResultStatusSize, 0);
  std::fill_n(expected.begin(), status.size(), 0x11);
  EXPECT_EQ(client_->GetResultStatus(), expected);
  EXPECT_EQ(static_cast<double>((*client_->GetVarDispCfg())["Zoom"]), 2.0);
  EXPECT_STREQ(static_cast<const char*>((*client_->GetVarDispCfg())["Title"]), "Lot 7");
}

TEST_F(IntakeTest, CreatingThreadWithAMessageLoopTakesTheResults) {
  port::MessageLoop loop;
  ConnectClient();
  Host host{&journal_};
  client_->SetResultsCallback(Host::Callback, &host);
  constexpr int kResults = 5;
  auto engine = std::async(std::launch::async, [&] {
    for (int i = 0; i < kResults; ++i) {
      CLumMsg request = ResultMessage(), reply;
      server_.Send(&request, &reply);
    }
    loop.Quit();
  });
  loop.Run();
  engine.get();
  const auto events = journal_.Events();
  ASSERT_EQ(events.size(), 2u * kResults);
  for (const Event& e : events) EXPECT_EQ(e.thread, std::this_thread::get_id()) << e.what;
}

TEST_F(IntakeTest, ResultNotTakenWithinTheHandOverTimeIsCountedAndDropped) {
  port::MessageLoop loop;  // never pumped while the result waits
  ConnectClient();
  Host host{&journal_};
  client_->SetResultsCallback(Host::Callback, &host);
  const uint64_t before = CVelAppClient::GetResultsNotHandedOver();
  const auto start = std::chrono::steady_clock::now();
  CLumMsg request = ResultMessage(), reply;
  ASSERT_EQ(server_.Send(&request, &reply), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(CVelAppClient::kHandOverTimeoutMs));
  EXPECT_EQ(CVelAppClient::GetResultsNotHandedOver(), before + 1);
  EXPECT_TRUE(loop.DoEvents());  // the dropped result does not come back later
  EXPECT_TRUE(journal_.Events().empty());
}

TEST_F(IntakeTest, HistoryLockDropsOnlyTheHistoryResults) {
  ConnectClient();
  Host host{&journal_};
  client_->SetResultsCallback(Host::Callback, &host);
  server_.answer = [](const CLumMsg&, CLumMsg* reply) { reply->Add(CLumVariant(1)); };
  client_->LockHistory();
  EXPECT_TRUE(client_->IsHistoryLocked());
  for (int32_t id : {kMsgResultsHistory, kMsgResults}) {
    CLumMsg request = ResultMessage(id), reply;
    server_.Send(&request, &reply);
  }
  EXPECT_EQ(journal_.Names(), (std::vector<std::string>{"appliance", "callback"}));
  client_->UnLockHistory();
  CLumMsg request = ResultMessage(kMsgResultsHistory), reply;
  server_.Send(&request, &reply);
  EXPECT_EQ(journal_.Names().size(), 4u);
  std::vector<int32_t> sent;
  for (const CLumMsg& m : server_.Requests()) sent.push_back(m.GetId());
  EXPECT_EQ(sent, (std::vector<int32_t>{kMsgLockHistory, kMsgUnLockHistory}));
  EXPECT_EQ(client_->UnLockHistory(), 0);  // not locked: nothing sent
  EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(IntakeTest, ResultThatCannotGetTheUpdateMutexSkipsToTheProcessedEvent) {
  ConnectClient();
  Host host{&journal_};
  client_->SetResultsCallback(Host::Callback, &host);
  ASSERT_EQ(client_->GetUpdateMutex(), 1);
  std::thread([&] { client_->ReleaseUpdateMutex(); }).join();  // not the holder: no effect
  CLumMsg request = ResultMessage(), reply;
  const auto start = std::chrono::steady_clock::now();
  server_.Send(&request, &reply);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_TRUE(client_->WaitResultProcessed(0));
  EXPECT_TRUE(journal_.Events().empty());
  client_->ReleaseUpdateMutex();
  server_.Send(&request, &reply);
  EXPECT_EQ(journal_.Names(), (std::vector<std::string>{"appliance", "callback"}));
}

TEST_F(IntakeTest, WaitingForTheUpdateMutexPumpsTheLoopAndStopsWhenQuitting) {
  port::MessageLoop loop;
  ConnectClient();
  std::promise<void> held, done;
  std::thread holder([&] {
    client_->GetUpdateMutex();
    held.set_value();
    done.get_future().wait();
    client_->ReleaseUpdateMutex();
  });
  held.get_future().wait();
  // While this thread waits, its window still gets the messages other threads post.
  std::thread poster([&] {
    CLumMsg note(kMsgTextSlot);
    note.Add(CLumVariant(1));
    note.Add(CLumVariant("text"));
    client_->OnNetMessage(&note, nullptr);
    std::this_thread::sleep_for(30ms);
    loop.Quit();
  });
  EXPECT_EQ(client_->GetUpdateMutex(), 0);
  poster.join();
  ASSERT_EQ(journal_.Names(), (std::vector<std::string>{"window"}));
  EXPECT_EQ(journal_.Events()[0].id, static_cast<int32_t>(kWmTextSlot));
  done.set_value();
  holder.join();
  EXPECT_EQ(client_->GetUpdateMutex(), 1);  // free at once: no pumping needed
  client_->ReleaseUpdateMutex();
}

}  // namespace
