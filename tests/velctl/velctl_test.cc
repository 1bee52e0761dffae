// The built velctl program: output and exit status of its commands against the in-process
// engine ("loopback") and against a velserver this test starts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>
#include "platform/process.h"
#include "tests/common/temp_dir.h"
#include "tests/common/test_sandbox.h"
#include "tests/dests/tcp_peer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out, err;
};

class VelctlTest : public ::testing::Test {
 protected:
  // Runs velctl with args; its output goes through files so that no pipe can fill up.
  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), VELCTL_BIN);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    const std::string out = dir_ + "/out", err = dir_ + "/err";
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Result r;
    pid_t pid;
    if (posix_spawn(&pid, VELCTL_BIN, &files, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&files);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }

  void StartServer(std::vector<std::string> extra = {}) {
    box_.StartServer(VEL_SERVER_BIN, std::move(extra));
  }

  // The same session commands, whichever appliance answers; device_root is its file system.
  void ExpectSessionCommands(const std::string& host, const std::string& device_root) {
    Result r = Run({"--host", host, "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("appliance_library: ZelvinEC.dll\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("serial_number: 180042\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("loopback: ") + (host == "loopback" ? "true" : "false")),
              std::string::npos);

    r = Run({"--host", host, "info", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"server_version\": 1800"), std::string::npos) << r.out;

    r = Run({"--host", host, "set", "AppVar.Global.Speed", "12.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "AppVar.Global.Speed = 12.50\n");
    r = Run({"--host", host, "get", "AppVar.Global.Version"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "AppVar.Global.Version = 1800.00\n");

    r = Run({"--host", host, "param", "set", "2", "4.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({"--host", host, "param", "get", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "param 2 = 4.5\n");  // kept by the appliance between two runs

    std::ofstream(dir_ + "/recipe.txt", std::ios::binary) << "speed=12\n";
    r = Run({"--host", host, "push", dir_ + "/recipe.txt", "\\recipe.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(device_root + "/recipe.txt"), "speed=12\n");
    r = Run({"--host", host, "ls", "\\*.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("recipe.txt"), std::string::npos) << r.out;
    r = Run({"--host", host, "pull", "\\recipe.txt", dir_ + "/back.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir_ + "/back.txt"), "speed=12\n");
  }

  TestSandbox box_{"vel_velctl", 23000};
  const std::string& dir_ = box_.dir();
  const int port_ = box_.port();
};

TEST_F(VelctlTest, SessionCommandsInProcess) {
  ExpectSessionCommands("loopback", dir_ + "/engine/files");
}

TEST_F(VelctlTest, SessionCommandsAgainstVelserver) {
  StartServer();
  ExpectSessionCommands("127.0.0.1", dir_ + "/server/files");
}

// Destinations against a velserver persist in it: an add opens the link there at once, a later
// run's send goes out over that same link.
TEST_F(VelctlTest, DestCommandsAgainstVelserver) {
  StartServer();
  testpeer::Listener peer;
  ASSERT_GE(peer.fd, 0);
  const std::string port = std::to_string(peer.port);
  Result r = Run({"--host", "127.0.0.1", "dest", "add-socket-client", "127.0.0.1", port});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1\n");
  ASSERT_TRUE(peer.Accept());

  r = Run({"--host", "127.0.0.1", "dest", "send", "1", "hello"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testpeer::ReadSome(peer.peer, 7), "hello\r\n");
  // The server's variable, attached now, writes through the server's link.
  r = Run({"--host", "127.0.0.1", "dest", "attach", "AppVar.Out", "1", "0", "--value", "7"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testpeer::ReadSome(peer.peer, 9), std::string("7.000000\0", 9));

  r = Run({"--host", "127.0.0.1", "dest", "add-socket-client", "127.0.0.1", port});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
  const std::string udp_port = std::to_string(testpeer::FreePort());
  r = Run({"--host", "127.0.0.1", "dest", "add-socket-server", udp_port, "--udp", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\": \"2\""), std::string::npos) << r.out;

  r = Run({"--host", "127.0.0.1", "dest", "list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  1   6 tcp-client  Client 127.0.0.1:" + port), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  2   1 udp-server  Server on port " + udp_port), std::string::npos)
      << r.out;
  r = Run({"--host", "127.0.0.1", "dest", "recv", "1"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("--host loopback"), std::string::npos) << r.err;
  r = Run({"--host", "127.0.0.1", "dest", "send", "7", "x"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("no destination 7"), std::string::npos) << r.err;
}

// On loopback each run has its own engine: the destinations are kept by velctl between runs
// and every run connects anew.
TEST_F(VelctlTest, DestCommandsInProcess) {
  testpeer::Listener peer;
  const std::string port = std::to_string(peer.port);
  Result r = Run({"--host", "loopback", "dest", "add-socket-client", "127.0.0.1", port, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\": \"1\""), std::string::npos) << r.out;
  EXPECT_FALSE(peer.Accept(300));  // added unopened: a link would end with the add's run

  std::string received;
  std::thread reader([&] {
    if (peer.Accept()) received = testpeer::ReadSome(peer.peer, 6);
  });
  r = Run({"--host", "loopback", "dest", "send", "1", "ping"});
  reader.join();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(received, "ping\r\n");

  std::thread writer([&] {
    if (peer.Accept()) testpeer::SendText(peer.peer, "answer 42\r\n");
  });
  r = Run({"--host", "loopback", "dest", "recv", "1", "--timeout", "3000"});
  writer.join();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "answer 42\n");

  // The same serial port added again is rewritten in place with its new speed.
  r = Run({"--host", "loopback", "dest", "add-serial", "COM7", "19200"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
  r = Run({"--host", "loopback", "dest", "add-serial", "COM7", "9600"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
  r = Run({"--host", "loopback", "dest", "list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  2   2 serial      Com port on COM7 Baud:9600"), std::string::npos)
      << r.out;

  r = Run({"--host", "loopback", "dest", "list", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"connected\": false"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"kind\": \"tcp-client\""), std::string::npos) << r.out;
}

TEST_F(VelctlTest, FailuresSayWhyAndExitNonZero) {
  struct Case {
    std::vector<std::string> args;
    std::string err;  // a part of the message on standard error
  };
  const Case cases[] = {
      {{"--host", "loopback", "param", "get", "x"}, "velctl: not a parameter id: x"},
      {{"--host", "loopback", "pull", "\\none", dir_ + "/none"}, "no such device file"},
      {{"--host", "loopback", "push", dir_ + "/missing", "\\m"}, ""},
      {{"--host", "127.0.0.1", "info"}, ""},  // no server listens on the port
      {{"nosuchcommand"}, ""},
  };
  for (const auto& c : cases) {
    const Result r = Run(c.args);
    EXPECT_NE(r.status, 0) << c.args.back();
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir_ + "/none"));
}

// watch triggers an appliance that sends nothing by itself, and the counters it ends with are
// those of the results it saw; stats then covers every image taken.
TEST_F(VelctlTest, WatchTriggersTheInProcessEngine) {
  Result r = Run({"watch", "--count", "25", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["results"], 25);
  EXPECT_EQ(doc["triggered"], true);
  EXPECT_EQ(doc["inspected"], 25);  // a fresh engine in this process
  EXPECT_EQ(doc["passed"].get<int>() + doc["recycled"].get<int>() + doc["rejected"].get<int>(), 25);

  r = Run({"watch", "--count", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("result 3: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3 results in "), std::string::npos) << r.out;
}

// With --result-port the engine of velctl's own process serves each result's line on the
// system result port: the header once, then one line per result.
TEST_F(VelctlTest, WatchSendsEachResultLineToTheResultPort) {
  std::string received;
  std::thread reader([&] {
    for (int i = 0; i < 250 && received.empty(); ++i) {
      testpeer::Client peer(5022);
      if (peer.fd >= 0) received = testpeer::ReadSome(peer.fd, 1 << 16, 5000);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const Result r = Run({"watch", "--count", "5", "--result-port"});
  reader.join();
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(received.rfind("\"Frame Number\",\"TimeStamp\",", 0), 0u) << received;
  size_t lines = 0;
  for (size_t at = received.find("\r\n"); at != std::string::npos;
       at = received.find("\r\n", at + 1))
    ++lines;
  EXPECT_EQ(lines, 6u) << received;
  EXPECT_NE(received.find(std::string("\0", 1) + "5, "), std::string::npos) << received;
}

TEST_F(VelctlTest, WatchFollowsAFreeRunningVelserver) {
  StartServer({"--rate", "50"});
  Result r = Run({"--host", "127.0.0.1", "watch", "--count", "20", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["results"], 20);
  EXPECT_EQ(doc["triggered"], false);
  EXPECT_GE(doc["inspected"].get<int>(), 20);

  r = Run({"--host", "127.0.0.1", "stats", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc.size(), 4u);
  EXPECT_EQ(doc[0]["name"], "Width");
  EXPECT_EQ(doc[0]["tolerances"]["perfect"], 20.0);
  EXPECT_GE(doc[0]["count"].get<int>(), 20);
  EXPECT_LE(doc[0]["min"].get<double>(), doc[0]["mean"].get<double>());
  EXPECT_GE(doc[0]["max"].get<double>(), doc[0]["mean"].get<double>());
  EXPECT_GT(doc[0]["std_dev"].get<double>(), 0.0);
  EXPECT_EQ(doc[3]["expected"], "LOT42");

  r = Run({"--host", "127.0.0.1", "stats", "--camera", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "no measurement variables on camera 1\n");
}

TEST_F(VelctlTest, CountersResetOnAVelserver) {
  StartServer();
  ASSERT_EQ(Run({"--host", "127.0.0.1", "watch", "--count", "10"}).status, 0);
  Result r = Run({"--host", "127.0.0.1", "counters", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["inspected"], 10);  // the server kept them between two runs
  EXPECT_EQ(doc["passed"].get<int>() + doc["recycled"].get<int>() + doc["rejected"].get<int>(), 10);

  r = Run({"--host", "127.0.0.1", "counters", "--reset"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "passed: 0\nrecycled: 0\nrejected: 0\ninspected: 0\n");
}

}  // namespace
