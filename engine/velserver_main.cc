// velserver: the reference appliance server on TCP. It holds the machine-wide "server running"
// mutex while it runs, so that a client on this machine starts it only once.
#include <CLI/CLI.hpp>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <vector>

#include "engine/vel_engine.h"
#include "netmsg/net_node.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"

namespace {

constexpr char kServerRunningMutex[] = "VelWorksServerRunning";

class CVelServerNode : public CNetServerNode {
 public:
  // Before Attach no request is answered (the engine needs the node to exist first).
  void Attach(CVelEngine* engine) {
    engine_ = engine;
    engine_->SetDropClient([this](uint32_t id) { DisconnectClient(static_cast<int>(id)); });
    engine_->SetOnCloseServer([this] {
      std::lock_guard lock(mu_);
      closing_ = true;
      cv_.notify_all();
    });
  }
  ~CVelServerNode() override { Close(); }

  int OnNetMessage(int client_id, CLumMsg* request, CLumMsg* reply) override {
    if (!engine_) return 0;
    return engine_->OnNetMessage(static_cast<uint32_t>(client_id), request, reply);
  }
  void OnClientDisconnect(int client_id, int) override {
    if (engine_) engine_->OnClientDisconnect(static_cast<uint32_t>(client_id));
  }

  // A client's stream is read whole, answered as the engine answers it, and ended.
  int OnRcvStreamStart(int, int id, int length) override {
    if (length < 0 || length > CEngineStream::kMaxStreamBytes) return 0;
    std::vector<unsigned char> bytes(static_cast<size_t>(length));
    if (StreamRead(length, bytes.data()) != 0) return 0;
    std::vector<unsigned char> answer = CEngineStream::Answer(id, bytes);
    if (SendStreamStart(id, static_cast<long>(answer.size()), 0) == 0 && !answer.empty())
      StreamWrite(static_cast<int>(answer.size()), answer.data());
    return 0;
  }

  void WaitForClose() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return closing_; });
  }

 private:
  CVelEngine* engine_ = nullptr;
  std::mutex mu_;
  std::condition_variable cv_;
  bool closing_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"velserver: the reference appliance server"};
  int port = 5005;
  std::string root = port::UserDataDir() + "/velserver";
  int version = 0;
  InspectionSettings inspection;
  app.add_option("--port", port, "TCP port to listen on (0: any free port)")->capture_default_str();
  app.add_option("--root", root, "data folder of the simulated appliance")->capture_default_str();
  app.add_option("--server-version", version, "version to report instead of the built one");
  app.add_option("--rate", inspection.rate_hz,
                 "images per second while free-running (0: on software triggers only)")
      ->check(CLI::Range(0.0, 200.0));
  app.add_option("--seed", inspection.seed, "seed of the simulated parts")->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  port::NamedMutex running(kServerRunningMutex);
  CVelServerNode node;
  CVelEngine engine(root, &node, inspection);
  if (version > 0) engine.Model().SetServerVersion(version);
  node.Attach(&engine);
  if (const int err = node.Listen(port); err != 0) {
    std::cerr << "velserver: cannot listen on port " << port << " (error " << err << ")\n";
    return 1;
  }
  std::cout << "velserver: listening on port " << node.GetPort() << ", data in " << root
            << std::endl;
  node.WaitForClose();
  // First the connections: a result being sent to a client that stopped reading is released by
  // the closing socket, so the engine can then stop its deliveries without waiting on one.
  node.Close();  // no handler may reach the engine once it is gone
  std::cout << "velserver: closed by a client" << std::endl;
  return 0;
}
