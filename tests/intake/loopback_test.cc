// Intake with the engine in this process ("loopback"): messages the engine would deliver are
// handed to the client's OnNetMessage from another thread.
#include "dests/app_dests.h"
#include "platform/message_loop.h"
#include "tests/intake/intake_fixture.h"
#include "vartree/tvar.h"

namespace {

class LoopbackIntakeTest : public IntakeTest {
 protected:
  void SetUp() override {
    IntakeTest::SetUp();
    setenv("VEL_ENGINE_ROOT", (dir_ + "/engine").c_str(), 1);
  }
  void Connect() {
    client_.reset(OzkConnectToVelServer(L"loopback", 2));
    ASSERT_NE(client_, nullptr);
    ASSERT_TRUE(client_->IsLoopback());
  }
  void TearDown() override {
    if (client_) client_->CloseAppClient(0);
    IntakeTest::TearDown();
  }
  // Delivers request on a thread of its own, as the engine's would.
  void Deliver(CLumMsg request) {
    std::thread([&] {
      CLumMsg reply;
      client_->OnNetMessage(&request, &reply);
    }).join();
  }
};

TEST_F(LoopbackIntakeTest, ResultsRunOnTheDeliveringThreadEvenWithAMessageLoop) {
  port::MessageLoop loop;  // never pumped: a hand-over would wait for it
  Connect();
  struct Seen {
    std::thread::id thread;
  } seen;
  client_->SetResultsCallback(
      [](void* arg) { static_cast<Seen*>(arg)->thread = std::this_thread::get_id(); }, &seen);
  const auto start = std::chrono::steady_clock::now();
  Deliver(CLumMsg(kMsgResults));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_NE(seen.thread, std::thread::id());
  EXPECT_NE(seen.thread, std::this_thread::get_id());
}

TEST_F(LoopbackIntakeTest, CsvLogStartsWithOneHeaderFromTheDestinationManager) {
  Connect();
  auto* dests = dynamic_cast<CAppDests*>(client_->GetAppDest());
  ASSERT_NE(dests, nullptr);
  const std::string header = dests->GetAppDataFormat(6 | 1);
  ASSERT_FALSE(header.empty());
  const std::string name = dir_ + "/results";
  for (const char* line : {"a\n", "b\n"}) {
    CLumMsg request(kMsgCsvLog);
    request.Add(CLumVariant(name.c_str()));
    request.Add(CLumVariant(line));
    request.Add(CLumVariant(1));
    Deliver(request);
  }
  EXPECT_EQ(ReadFile(name + ".csv"), header + "a\nb\n");
}

TEST_F(LoopbackIntakeTest, ReleaseRequestDropsOneReferenceOfAnExistingVariable) {
  Connect();
  CtVar* app_var = client_->GetRootTVar()->GetChild("AppVar");
  ASSERT_NE(app_var, nullptr);
  CtVar& probe = (*app_var)["Probe"];
  probe.AddRef();
  probe.AddRef();
  auto release = [&](const char* name) {
    CLumMsg request(kMsgReleaseVar);
    request.Add(CLumVariant(0));
    request.Add(CLumVariant(name));
    Deliver(request);
  };
  release("Probe");
  ASSERT_EQ(app_var->GetChild("Probe"), &probe);
  EXPECT_EQ(probe.GetRefCount(), 1u);
  release("Missing.Name");  // looked up without creating
  EXPECT_EQ(app_var->GetChild("Missing"), nullptr);
  release("Probe");
  EXPECT_EQ(app_var->GetChild("Probe"), nullptr);
}

}  // namespace
