// The server's requests and notifications, each row of the client's dispatch, sent by a test
// server over TCP; and the mode exchanges the client starts.
#include <filesystem>
#include <future>

#include "platform/message_loop.h"
#include "tests/intake/intake_fixture.h"

namespace {

using namespace std::chrono_literals;
using Msg = RecordingAppliance::WindowMessage;

CLumMsg Message(int32_t id, std::vector<CLumVariant> values) {
  CLumMsg m(id);
  for (auto& v : values) m.Add(v);
  return m;
}

CLumVariant Data(const std::vector<uint8_t>& bytes) {
  return CLumVariant(bytes.data(), static_cast<long>(bytes.size()), true);
}

TEST_F(IntakeTest, StatusRecordIsKeptAndTheViewIsToldOnItsOwnThread) {
  port::MessageLoop loop;
  ConnectClient();
  std::vector<uint8_t> record(8, 0);
  record[0] = 7;
  record[4] = 9;
  std::vector<uint8_t> oversized(200, 1);
  auto engine = std::async(std::launch::async, [&] {
    for (auto* bytes : {&oversized, &record}) {
      CLumMsg request = Message(kMsgStatusRecord, {Data(*bytes)}), reply;
      server_.Send(&request, &reply);
    }
    loop.Quit();
  });
  loop.Run();
  engine.get();
  const auto status = client_->GetStatusRecord();
  EXPECT_EQ(status[0], 7u);
  EXPECT_EQ(status[1], 9u);
  for (int i = 2; i < CVelAppClient::kStatusWords; ++i) EXPECT_EQ(status[i], 0u) << i;
  const Msg told{kWmStatusRecord, 0, reinterpret_cast<intptr_t>(client_.get())};
  EXPECT_EQ(Appliance()->WindowMessages(), (std::vector<Msg>{told, told}));
  for (const Event& e : journal_.Events()) EXPECT_EQ(e.thread, std::this_thread::get_id());
}

TEST_F(IntakeTest, TextSlotsAndPanelValuesAreKeptAndPosted) {
  port::MessageLoop loop;
  ConnectClient();
  const std::string long_text(400, 'x');
  for (auto [index, text] : std::vector<std::pair<int, std::string>>{
           {2, "hello"}, {4, "nowhere"}, {-1, "nowhere"}, {3, long_text}}) {
    CLumMsg request = Message(kMsgTextSlot, {CLumVariant(index), CLumVariant(text.c_str())});
    CLumMsg reply;
    server_.Send(&request, &reply);
  }
  CLumMsg values = Message(kMsgPanelValues, {CLumVariant(5), CLumVariant(-6), CLumVariant(7)});
  CLumMsg reply;
  server_.Send(&values, &reply);
  EXPECT_TRUE(Appliance()->WindowMessages().empty());  // posted, not yet pumped
  EXPECT_TRUE(loop.DoEvents());
  EXPECT_EQ(client_->GetTextSlot(2), "hello");
  EXPECT_EQ(client_->GetTextSlot(0), "");
  EXPECT_EQ(client_->GetTextSlot(3), long_text.substr(0, CVelAppClient::kTextSlotSize - 1));
  EXPECT_EQ(client_->GetTextSlot(4), "");
  EXPECT_EQ(client_->GetPanelValues(), (std::array<int32_t, 3>{5, -6, 7}));
  EXPECT_EQ(Appliance()->WindowMessages(), (std::vector<Msg>{{kWmTextSlot, 2, 0},
                                                             {kWmTextSlot, 4, 0},
                                                             {kWmTextSlot, -1, 0},
                                                             {kWmTextSlot, 3, 0},
                                                             {kWmPanelValues, 5, -6}}));
}

TEST_F(IntakeTest, ImageRequestTakesOnlyAnImageThatFits) {
  ConnectClient();
  auto send_image = [&](uint32_t width, uint32_t height, size_t bytes) {
    std::vector<uint8_t> pixels(bytes);
    for (size_t i = 0; i < bytes; ++i) pixels[i] = static_cast<uint8_t>(i);
    CLumMsg request = Message(kMsgImage, {CLumVariant(width), CLumVariant(height), Data(pixels)});
    CLumMsg reply;
    server_.Send(&request, &reply);
  };
  send_image(4, 4, 16);  // nothing pending: ignored
  std::vector<uint8_t> buffer(16, 0xEE);
  auto sender = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(20ms);
    send_image(5, 4, 20);  // larger than the buffer
    send_image(4, 4, 8);   // fewer pixels than it claims
    send_image(4, 3, 12);
  });
  uint32_t width = 0, height = 0;
  ASSERT_EQ(client_->ReceiveImage(buffer, 2000, &width, &height), 1);
  sender.get();
  EXPECT_EQ(width, 4u);
  EXPECT_EQ(height, 3u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(buffer[i], i);
  EXPECT_EQ(buffer[12], 0xEE);
  EXPECT_EQ(client_->ReceiveImage(buffer, 20), 0);
}

TEST_F(IntakeTest, DeviceRecordIsKeptAndFlagsParameter40) {
  ConnectClient();
  const std::vector<uint8_t> flagged = {1, 0, 0, 0, 0xAB};
  const std::vector<uint8_t> plain = {0, 0, 0, 0, 0xCD};
  for (auto* bytes : {&plain, &flagged}) {
    CLumMsg request = Message(kMsgDeviceRecord, {Data(*bytes)}), reply;
    server_.Send(&request, &reply);
    EXPECT_EQ(client_->GetDeviceRecord(), *bytes);
  }
  const uint64_t errors = CVelAppClient::GetDeviceRecordErrors();
  CLumMsg wrong = Message(kMsgDeviceRecord, {CLumVariant(1)}), reply;
  server_.Send(&wrong, &reply);
  EXPECT_EQ(CVelAppClient::GetDeviceRecordErrors(), errors + 1);
  EXPECT_EQ(client_->GetDeviceRecord(), flagged);
  // Only the flagged record set the parameter.
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].GetId(), 20541);
  EXPECT_EQ(requests[0].Get(0).GetLongLong(0), 40);
  EXPECT_EQ(requests[0].Get(1).GetDouble(0), 1.0);
}

TEST_F(IntakeTest, OtherRequestsAndStreamsReachTheApplianceButNotSolutionTransfers) {
  ConnectClient();
  CLumMsg transfer = Message(kMsgSolutionTransfer, {CLumVariant(3), CLumVariant(L"C:\\s.bin")});
  CLumMsg answer;
  ASSERT_EQ(server_.Send(&transfer, &answer), 0);
  ASSERT_EQ(answer.Size(), 1);
  EXPECT_EQ(answer.Get(0).GetLongLong(0), 0);  // not transferred
  CLumMsg request(24590), reply;
  ASSERT_EQ(server_.Send(&request, &reply), 0);
  EXPECT_EQ(reply.Get(0).GetLongLong(0), 24591);  // the appliance's answer
  client_->OnRcvStreamStart(0, 10);
  client_->OnRcvStreamStart(12, 10);
  const auto events = journal_.Events();
  ASSERT_EQ(journal_.Names(), (std::vector<std::string>{"appliance", "stream"}));
  EXPECT_EQ(events[1].id, 12);
  EXPECT_EQ(client_->OnWndMessage(99, 1, 2), 7);
}

TEST_F(IntakeTest, AppendTextCreatesTheFoldersAndAppends) {
  ConnectClient();
  const std::string path = dir_ + "/notes/deep/log.txt";
  for (const char* text : {"first\n", "second\n"}) {
    CLumVariant list(LUM_VT_STRING);
    list.AddString(path.c_str());
    list.AddString(text);
    CLumMsg request = Message(kMsgAppendText, {list}), reply;
    server_.Send(&request, &reply);
  }
  EXPECT_EQ(ReadFile(path), "first\nsecond\n");
  CLumMsg empty(kMsgAppendText), reply;  // no variants at all
  EXPECT_EQ(server_.Send(&empty, &reply), 0);
}

TEST_F(IntakeTest, CsvLogWithoutDestinationsHasNoHeaderAndFollowsTheName) {
  ConnectClient();
  auto log = [&](const std::string& name, const char* line) {
    CLumMsg request = Message(kMsgCsvLog, {CLumVariant(name.c_str()), CLumVariant(line)});
    CLumMsg reply;
    server_.Send(&request, &reply);
  };
  log(dir_ + "/results", "1,2\n");
  log(dir_ + "/results", "3,4\n");
  log(dir_ + "/other.log", "5\n");
  log(dir_ + "/results", "6\n");
  EXPECT_EQ(ReadFile(dir_ + "/results.csv"), "1,2\n3,4\n6\n");
  EXPECT_EQ(ReadFile(dir_ + "/other.log"), "5\n");
  log(dir_ + "/missing/folder/x", "7\n");  // cannot be opened: nothing, and no crash
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/missing"));
}

TEST_F(IntakeTest, ModeExchangesSendTheirValuesAndReadTheReply) {
  ConnectClient();
  server_.answer = [](const CLumMsg& request, CLumMsg* reply) {
    switch (request.GetId()) {
      case kMsgGetEngineMode:
        reply->Add(CLumVariant(0xFFFFFFF0u));
        break;
      case kMsgGetFrameworkState:
        reply->Add(CLumVariant(1));
        if (request.Size() == 0) reply->Add(CLumVariant(5));
        break;
      default:
        reply->Add(CLumVariant(static_cast<int>(request.Get(0).GetLongLong(0)) + 100));
    }
  };
  EXPECT_EQ(client_->GetEngineMode(), 0xFFFFFFF0u);
  EXPECT_EQ(client_->SetEngineMode(2), 102);
  EXPECT_EQ(client_->GetAppMode(), 100);
  EXPECT_EQ(client_->SetAppMode(3), 103);
  int state = 0;
  EXPECT_EQ(client_->GetFrameworkState(&state), 1);
  EXPECT_EQ(state, 5);
  client_->SendMsgHandlerEvent(9);
  for (int i = 0; i < 500 && server_.Requests().size() < 6; ++i) std::this_thread::sleep_for(2ms);
  std::vector<int32_t> ids;
  for (const CLumMsg& m : server_.Requests()) ids.push_back(m.GetId());
  EXPECT_EQ(ids,
            (std::vector<int32_t>{kMsgGetEngineMode, kMsgSetEngineMode, kMsgGetAppMode,
                                  kMsgSetAppMode, kMsgGetFrameworkState, kMsgSendMsgHandlerEvent}));
  EXPECT_EQ(server_.Requests()[5].Get(0).GetLongLong(0), 9);
  // SetAppMode told the appliance with a local 24583.
  const auto events = journal_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, kMsgAppModeChanged);
}

}  // namespace
