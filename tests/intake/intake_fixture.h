// A server node of the test's own that a CVelAppClient connects to over loopback TCP, and an
// appliance object that records what the client hands it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/vel_appliance.h"
#include "link/server_message_ids.h"
#include "link/vel_app_client.h"
#include "netmsg/net_node.h"
#include "tests/common/temp_dir.h"

// Answers the client's requests with `answer` (when set) and records their ids.
class TestServer : public CNetServerNode {
 public:
  ~TestServer() override { Close(); }
  int OnNetMessage(int client, CLumMsg* request, CLumMsg* reply) override {
    {
      std::lock_guard lock(mu);
      requests.push_back(*request);
    }
    if (answer) answer(*request, reply);
    return 0;
  }
  std::vector<CLumMsg> Requests() {
    std::lock_guard lock(mu);
    return requests;
  }
  // Sends to the one connected client and waits for its reply.
  int Send(CLumMsg* request, CLumMsg* reply) {
    return SendNetMessage(GetClientId(0), request, reply);
  }

  std::function<void(const CLumMsg&, CLumMsg*)> answer;
  std::mutex mu;
  std::vector<CLumMsg> requests;
};

// What the appliance saw, in order, with the thread it ran on.
struct Event {
  std::string what;
  int32_t id;
  std::thread::id thread;
};

class Journal {
 public:
  void Add(std::string what, int32_t id) {
    std::lock_guard lock(mu_);
    events_.push_back({std::move(what), id, std::this_thread::get_id()});
  }
  std::vector<Event> Events() {
    std::lock_guard lock(mu_);
    return events_;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const Event& e : Events()) names.push_back(e.what);
    return names;
  }

 private:
  std::mutex mu_;
  std::vector<Event> events_;
};

class RecordingAppliance : public CVelAppliance {
 public:
  RecordingAppliance(CVelAppClient* client, Journal* journal)
      : CVelAppliance(client), journal_(journal) {}
  int OnNetMessage(CLumMsg* request, CLumMsg* reply) override {
    journal_->Add("appliance", request->GetId());
    if (reply) reply->Add(CLumVariant(request->GetId() + 1));
    return 1;
  }
  intptr_t OnWndMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    journal_->Add("window", static_cast<int32_t>(message));
    std::lock_guard lock(mu_);
    window_messages.push_back({message, static_cast<intptr_t>(wparam), lparam});
    return 7;
  }
  int OnRcvStreamStart(int id, int length) override {
    journal_->Add("stream", id);
    return 0;
  }
  struct WindowMessage {
    uint32_t message;
    intptr_t wparam, lparam;
    bool operator==(const WindowMessage&) const = default;
  };
  std::vector<WindowMessage> WindowMessages() {
    std::lock_guard lock(mu_);
    return window_messages;
  }

 private:
  Journal* journal_;
  std::mutex mu_;
  std::vector<WindowMessage> window_messages;
};

// A client connected to a TestServer, with private settings folders.
class IntakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", (dir_ + "/user").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir_ + "/all").c_str(), 1);
    setenv("VEL_DRIVE_ROOT", (dir_ + "/drives").c_str(), 1);
  }
  void TearDown() override {
    client_.reset();
    server_.Close();
  }

  // Creates the client on the calling thread and connects it; with an appliance that records.
  void ConnectClient() {
    client_ = std::make_unique<CVelAppClient>();
    client_->SetAppliance(new RecordingAppliance(client_.get(), &journal_));
    ASSERT_EQ(server_.Listen(0), 0);
    ASSERT_EQ(client_->Connect("127.0.0.1", server_.GetPort()), 0);
    for (int i = 0; i < 1000 && server_.GetClientCount() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(server_.GetClientCount(), 1);
  }
  RecordingAppliance* Appliance() {
    return static_cast<RecordingAppliance*>(client_->GetAppliance());
  }

  TempDir tmp_{"vel_intake"};
  const std::string& dir_ = tmp_.path();
  TestServer server_;
  Journal journal_;
  std::unique_ptr<CVelAppClient> client_;
};
