// The appliance object: its fixed dispatch, handler table and message map, the notifications
// and what they show on the monitor panel, on the panel's own thread.
#include <future>

#include "app/panel_ctrl.h"
#include "platform/message_loop.h"
#include "tests/intake/intake_fixture.h"

namespace {

using Calls = std::vector<std::string>;

class RecordingPanel : public CPanelCtrl {
 public:
  explicit RecordingPanel(bool* deleted = nullptr) : deleted_(deleted) {}
  ~RecordingPanel() override {
    if (deleted_) *deleted_ = true;
  }
  Calls Take() {
    std::lock_guard lock(mu_);
    return std::exchange(calls_, {});
  }
  int OnNetMessage(CLumMsg* request, CLumMsg* reply) override {
    Note("net " + std::to_string(request->GetId()));
    return answer;
  }
  CPanelCtrl* GetCurrentSubPanel() override { return sub; }
  uint32_t GetPanelAttributes() override { return attributes; }
  void Reset(int full) override { Note("reset " + std::to_string(full), true); }
  void ShowWindow(int show) override { Note("show " + std::to_string(show), true); }
  void EnableChangeSolution(int enable) override { Note("enable " + std::to_string(enable)); }
  void SetSolution(int id, const std::string& d) override {
    Note("solution " + std::to_string(id) + " " + d);
  }
  void SetCurrentCamera(int camera) override { Note("camera " + std::to_string(camera)); }
  void SetNumOfCameras(int count) override { Note("cameras " + std::to_string(count)); }
  void SelectCamera(int camera) override { Note("select " + std::to_string(camera)); }
  void SetState(int state, const std::string& text) override {
    Note("state " + std::to_string(state) + " " + text);
  }
  void SetCameraState(int state) override { Note("camera state " + std::to_string(state)); }
  void RefreshState() override { Note("refresh"); }
  void SetClosingFlag(int closing) override { Note("closing " + std::to_string(closing)); }

  int answer = 0;
  CPanelCtrl* sub = nullptr;
  uint32_t attributes = 0;

 private:
  // on_thread: the call must come on the panel's own thread.
  void Note(std::string call, bool on_thread = false) {
    if (on_thread) {
      EXPECT_TRUE(IsOwnerThread()) << call;
    }
    std::lock_guard lock(mu_);
    calls_.push_back(std::move(call));
  }
  std::mutex mu_;
  Calls calls_;
  bool* deleted_;
};

// Notes the appliance's own notifications.
class NotingAppliance : public CVelAppliance {
 public:
  using CVelAppliance::CVelAppliance;
  int OnResults(CLumMsg* request, CLumMsg* reply, int complete) override {
    calls.push_back("results " + std::to_string(complete));
    return 0;
  }
  void OnSolutionChanged(int id) override { calls.push_back("changed " + std::to_string(id)); }
  void OnSolutionChangeBegin() override { calls.push_back("begin"); }
  void OnCameraChanged(int camera) override {
    calls.push_back("on camera " + std::to_string(camera));
  }
  void OnRelearn() override { calls.push_back("relearn"); }
  Calls calls;
};

CLumMsg Message(int32_t id, std::vector<CLumVariant> values = {}) {
  CLumMsg m(id);
  for (auto& v : values) m.Add(v);
  return m;
}

class ApplianceTest : public ::testing::Test {
 protected:
  ApplianceTest() : appliance_(new NotingAppliance(&client_)), panel_(new RecordingPanel) {
    client_.SetAppliance(appliance_);
    appliance_->SetMonitorPanel(panel_, 0);
  }
  ~ApplianceTest() override { appliance_->SetMonitorPanel(nullptr, 1); }
  int Deliver(CLumMsg request, CLumMsg* reply = nullptr) {
    CLumMsg scratch;
    return appliance_->OnNetMessage(&request, reply ? reply : &scratch);
  }

  port::MessageLoop loop_;  // the panel's thread is the test's
  CVelAppClient client_;
  NotingAppliance* appliance_;
  RecordingPanel* panel_;
};

int g_handled = 0;
int CountingHandler(CVelAppliance*, CLumMsg* request, CLumMsg*) {
  return g_handled += request->GetId();
}
int OtherHandler(CVelAppliance*, CLumMsg*, CLumMsg*) {
  return -1;
}

TEST_F(ApplianceTest, HandlerTableHoldsFortyAndTheFirstMatchWins) {
  g_handled = 0;
  // Identifiers the base dispatches itself never reach a handler.
  ASSERT_EQ(appliance_->AddMessageHandler(kMsgAlarm, &CountingHandler), 1);
  Deliver(Message(kMsgAlarm, {CLumVariant("")}));
  EXPECT_EQ(g_handled, 0);
  ASSERT_EQ(appliance_->AddMessageHandler(30000, &OtherHandler), 1);
  EXPECT_EQ(appliance_->AddMessageHandler(30002, nullptr), 0);
  for (uint32_t i = 0; i < CVelAppliance::kMaxMessageHandlers - 2; ++i)
    ASSERT_EQ(appliance_->AddMessageHandler(30000 + i, &CountingHandler), 1) << i;
  EXPECT_EQ(appliance_->AddMessageHandler(31000, &CountingHandler), 0);
  EXPECT_EQ(Deliver(Message(31000)), 0);   // the 41st was not stored
  EXPECT_EQ(Deliver(Message(30000)), -1);  // the first entry for an identifier wins
  EXPECT_EQ(Deliver(Message(30037)), 30037);
  EXPECT_EQ(Deliver(Message(30037)), 2 * 30037);
}

// A derived class whose message map reaches a member object's handler.
class MappedAppliance : public CVelAppliance {
 public:
  explicit MappedAppliance(CVelAppClient* client) : CVelAppliance(client) {
    map_[0].offset = reinterpret_cast<const char*>(&part) - reinterpret_cast<const char*>(this);
  }
  struct Part {
    int seen = 0;
    static int Handle(void* self, CLumMsg* request, CLumMsg*) {
      return static_cast<Part*>(self)->seen = request->GetId();
    }
  } part;
  const VelMessageMapEntry* GetMessageMap() const override { return map_; }

 private:
  VelMessageMapEntry map_[3] = {
      {30100, &Part::Handle, 0}, {0, nullptr, 0}, {30200, &Part::Handle, 0},  // beyond the end
  };
};

TEST(ApplianceMapTest, MessageMapIsSearchedAfterTheTableAndEndsAtTheNullEntry) {
  CVelAppClient client;
  MappedAppliance appliance(&client);
  CLumMsg mapped(30100), beyond(30200), reply;
  EXPECT_EQ(appliance.OnNetMessage(&mapped, &reply), 30100);
  EXPECT_EQ(appliance.part.seen, 30100);
  EXPECT_EQ(appliance.OnNetMessage(&beyond, &reply), 0);
  EXPECT_EQ(appliance.part.seen, 30100);
}

TEST_F(ApplianceTest, ResultsWaitForTheEndOfASolutionChangeAndThePanelMayStopThem) {
  Deliver(Message(kMsgResults));
  Deliver(Message(kMsgResultsHistory));
  EXPECT_EQ(appliance_->calls, (Calls{"results 1", "results 0"}));
  EXPECT_EQ(panel_->Take(), (Calls{"net 36865", "net 36864"}));

  Deliver(Message(kMsgSolutionChanged, {CLumVariant(0)}));
  EXPECT_EQ(appliance_->IsEnabled(), 0);
  Deliver(Message(kMsgResults));
  EXPECT_EQ(appliance_->calls.back(), "begin");
  Deliver(Message(kMsgSolutionChanged, {CLumVariant(1), CLumVariant(0), CLumVariant(1),
                                        CLumVariant(4), CLumVariant("Caps")}));
  EXPECT_EQ(appliance_->IsEnabled(), 1);
  panel_->answer = CPanelCtrl::kStopResult;
  Deliver(Message(kMsgResults));
  EXPECT_EQ(appliance_->calls, (Calls{"results 1", "results 0", "begin", "changed 4"}));
}

TEST_F(ApplianceTest, SolutionChangeShowsTheNewSolutionOnThePanelsThread) {
  Deliver(Message(kMsgSolutionChanged, {CLumVariant(0)}));
  EXPECT_TRUE(panel_->Take().empty());  // 1035 is posted
  // The end of the change arrives on another thread: the reset is posted too.
  std::thread([&] {
    Deliver(Message(kMsgSolutionChanged, {CLumVariant(1), CLumVariant(2), CLumVariant(3),
                                          CLumVariant(7), CLumVariant("Bottles")}));
  }).join();
  EXPECT_EQ(panel_->Take(), (Calls{"enable 1", "solution 7 Bottles", "camera 2", "cameras 3"}));
  EXPECT_EQ(appliance_->calls, (Calls{"begin", "changed 7", "on camera 2"}));
  loop_.DoEvents();
  EXPECT_EQ(panel_->Take(), (Calls{"reset 1", "show 1"}));
}

TEST_F(ApplianceTest, StateAndAlarmGoToTheCurrentSubPanel) {
  Deliver(Message(kMsgUpdateState, {CLumVariant(2)}));
  EXPECT_EQ(panel_->Take(), (Calls{"state 2 ", "camera state 2", "refresh"}));
  RecordingPanel sub;
  panel_->sub = &sub;
  Deliver(Message(kMsgUpdateState, {CLumVariant(1)}));
  EXPECT_EQ(sub.Take(), (Calls{"state 1 ", "camera state 1"}));
  Deliver(Message(kMsgAlarm, {CLumVariant("Jam at feeder")}));
  EXPECT_EQ(sub.Take(), (Calls{"state 3 Jam at feeder", "camera state 3"}));
  EXPECT_EQ(client_.GetLastAlarm(), "Jam at feeder");
  Deliver(Message(kMsgAlarm, {CLumVariant("")}));
  EXPECT_TRUE(sub.Take().empty());
  EXPECT_TRUE(panel_->Take().empty());
  panel_->sub = nullptr;
}

TEST_F(ApplianceTest, CameraChangeTellsTheClientAndShowsTheCamera) {
  Deliver(Message(kMsgCameraChanged, {CLumVariant(2), CLumVariant(1), CLumVariant(5),
                                      CLumVariant("Labels"), CLumVariant(1)}));
  EXPECT_EQ(appliance_->calls, (Calls{"on camera 0", "on camera 1", "on camera 3", "on camera 4",
                                      "on camera 5", "on camera 6", "on camera 7", "on camera 2"}));
  EXPECT_EQ(client_.GetCurrentCamera(), 2);
  EXPECT_EQ(panel_->Take(), (Calls{"select 2", "camera state 1", "solution 5 Labels"}));
  loop_.DoEvents();
  EXPECT_EQ(panel_->Take(), (Calls{"show 0", "show 1"}));
  appliance_->calls.clear();
  Deliver(Message(kMsgCameraChanged, {CLumVariant(1), CLumVariant(0), CLumVariant(5)}));
  EXPECT_EQ(appliance_->calls, (Calls{"on camera 1"}));
}

TEST_F(ApplianceTest, SmallNotificationsAndPanelRequests) {
  Deliver(Message(kMsgAppModeValue, {CLumVariant(6)}));
  EXPECT_EQ(client_.GetCurrentAppMode(), 6);
  for (int mode : {0, 1, 2}) Deliver(Message(kMsgAppModeChanged, {CLumVariant(mode)}));
  loop_.DoEvents();
  EXPECT_EQ(panel_->Take(), (Calls{"show 1", "show 1"}));

  CLumMsg reply;
  Deliver(Message(kMsgPanelAttributes), &reply);
  EXPECT_EQ(reply.Get(0).GetLongLong(0), 0);  // no sub-panel
  RecordingPanel sub;
  sub.attributes = 0x55;
  panel_->sub = &sub;
  reply.Clear();
  Deliver(Message(kMsgPanelAttributes), &reply);
  EXPECT_EQ(reply.Get(0).GetLongLong(0), 0x55);
  panel_->sub = nullptr;

  Deliver(Message(kMsgPanelMessage));
  Deliver(Message(kMsgApplianceIgnored));
  Deliver(Message(kMsgApplianceNotify));
  EXPECT_EQ(panel_->Take(), (Calls{"net 24585"}));
  EXPECT_EQ(appliance_->calls, (Calls{"relearn"}));
}

TEST_F(ApplianceTest, DisplayStatesAndPanelReplacement) {
  for (int i = 0; i < CVelAppliance::kDisplayStates; ++i)
    EXPECT_EQ(appliance_->GetDisplayState(i), 1);
  appliance_->SetDisplayState(3, 9);
  appliance_->SetDisplayState(8, 9);
  appliance_->SetDisplayState(-1, 9);
  EXPECT_EQ(appliance_->GetDisplayState(3), 9);
  EXPECT_EQ(appliance_->GetDisplayState(8), 0);

  appliance_->SetClosingFlag(1);
  EXPECT_EQ(panel_->Take(), (Calls{"closing 1"}));
  bool deleted = false;
  auto* next = new RecordingPanel(&deleted);
  appliance_->SetMonitorPanel(next, 1);  // the first panel goes
  EXPECT_EQ(appliance_->GetMonitorPanel(nullptr, nullptr), next);
  panel_ = new RecordingPanel;
  EXPECT_EQ(appliance_->GetMonitorPanel(this, panel_), panel_);
  EXPECT_TRUE(deleted);
}

TEST(ApplianceNoPanelTest, NotificationsWithoutAPanelChangeOnlyTheObject) {
  CVelAppClient client;
  NotingAppliance appliance(&client);
  CLumMsg reply;
  for (CLumMsg m :
       {Message(kMsgUpdateState, {CLumVariant(1)}), Message(kMsgAlarm, {CLumVariant("x")}),
        Message(kMsgSolutionChanged), Message(kMsgCameraChanged), Message(kMsgAppModeChanged),
        Message(kMsgResults), Message(kMsgPanelMessage)})
    appliance.OnNetMessage(&m, &reply);
  appliance.ResetMonitorPanel();
  // The client has no appliance of its own to tell about the camera.
  EXPECT_EQ(appliance.calls, (Calls{"begin"}));
  EXPECT_EQ(client.GetCurrentCamera(), 0);
  EXPECT_EQ(appliance.IsEnabled(), 0);
}

}  // namespace
