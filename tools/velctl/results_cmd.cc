// velctl stats, counters and watch: the appliance's measurement statistics, its pass, recycle and
// reject counters, and its results as they arrive.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "dests/app_dests.h"
#include "dests/connection.h"
#include "tools/velctl/commands.h"
#include "tools/velctl/session.h"
#include "vartree/tvar.h"

namespace velctl {
namespace {

// The user interface stops at this many variables per camera; so do we.
constexpr int kMaxMeasVars = 512;

const char* ResultName(int32_t result) {
  static constexpr const char* kNames[] = {"Undefined", "Passed", "Recycled", "Rejected"};
  return result >= 0 && result <= 3 ? kNames[result] : "?";
}

nlohmann::json CountersJson(const OZK_PROCESS_RESULTS& r) {
  return {{"passed", r.counts[kResultPassed]},
          {"recycled", r.counts[kResultRecycled]},
          {"rejected", r.counts[kResultRejected]},
          {"inspected", static_cast<uint32_t>(r.counts[kResultInspected])},
          {"last", ResultName(r.counts[kResultLast])}};
}

OZK_PROCESS_RESULTS ReadCounters(CVelAppClient& client) {
  OZK_PROCESS_RESULTS r{};
  if (!client.GetResultCount(&r)) throw CommandError("the appliance sent no counters");
  return r;
}

void Stats(int camera, bool json) {
  ClientPtr client = OpenSession();
  nlohmann::json doc = nlohmann::json::array();
  char name[kMeasNameSize];
  for (int i = 0; i < kMaxMeasVars && client->GetNextMeasVar(i > 0, camera, name, sizeof name);
       ++i) {
    MEASVARPROPS props{};
    auto stats = std::make_unique<OZK_MEAS_VAR_STAT_RECORD>();
    if (!client->GetMeasVarProperties(name, camera, &props) ||
        !client->GetMeasVarStats(name, camera, stats.get()))
      throw CommandError(std::string("no statistics for ") + name);
    nlohmann::json var = {
        {"name", name},        {"count", stats->count},
        {"min", stats->min},   {"max", stats->max},
        {"mean", stats->mean}, {"std_dev", CVelAppClient::GetMeasStdDeviation(stats.get())}};
    if (props.kind == kMeasKindText) {
      var["expected"] = std::string(props.expected, strnlen(props.expected, sizeof props.expected));
    } else {
      var["tolerances"] = {{"min_recycle", props.tolerance[kMinRecycle]},
                           {"min_pass", props.tolerance[kMinPass]},
                           {"perfect", props.tolerance[kPerfect]},
                           {"max_pass", props.tolerance[kMaxPass]},
                           {"max_recycle", props.tolerance[kMaxRecycle]}};
    }
    doc.push_back(std::move(var));
  }
  if (json) {
    std::cout << doc.dump(2) << '\n';
    return;
  }
  if (doc.empty()) {
    std::cout << "no measurement variables on camera " << camera << '\n';
    return;
  }
  std::printf("%-12s %9s %9s %9s %9s %9s %7s %9s %9s %9s %9s\n", "Name", "MinRecyc", "MinPass",
              "Perfect", "MaxPass", "MaxRecyc", "Count", "Min", "Max", "Mean", "StdDev");
  for (const auto& v : doc) {
    std::printf("%-12s ", v["name"].get<std::string>().c_str());
    if (v.contains("tolerances")) {
      const auto& t = v["tolerances"];
      std::printf("%9.3f %9.3f %9.3f %9.3f %9.3f ", t["min_recycle"].get<double>(),
                  t["min_pass"].get<double>(), t["perfect"].get<double>(),
                  t["max_pass"].get<double>(), t["max_recycle"].get<double>());
    } else {
      std::printf("%-49s ", ("expects \"" + v["expected"].get<std::string>() + "\"").c_str());
    }
    std::printf("%7d %9.3f %9.3f %9.3f %9.4f\n", v["count"].get<int>(), v["min"].get<double>(),
                v["max"].get<double>(), v["mean"].get<double>(), v["std_dev"].get<double>());
  }
  std::fflush(stdout);
}

// The counters start again from zero with the reference server's own reset request.
void Counters(bool reset, bool json) {
  ClientPtr client = OpenSession();
  if (reset && !client->ResetResultCount()) throw CommandError("the appliance kept its counters");
  const OZK_PROCESS_RESULTS r = ReadCounters(*client);
  if (json) {
    std::cout << CountersJson(r).dump(2) << '\n';
    return;
  }
  std::cout << "passed: " << r.counts[kResultPassed] << "\nrecycled: " << r.counts[kResultRecycled]
            << "\nrejected: " << r.counts[kResultRejected]
            << "\ninspected: " << static_cast<uint32_t>(r.counts[kResultInspected]) << '\n';
}

std::atomic<bool> g_interrupted{false};

// What the result callback shares with the command; it outlives the session.
struct Watch {
  CVelAppClient* client = nullptr;
  CAppDests* result_port = nullptr;  // sends each result's line when set
  std::atomic<bool> active{true};
  std::mutex mu;
  std::condition_variable cv;
  int received = 0;
  std::vector<OZK_PROCESS_RESULTS> records;
  std::chrono::steady_clock::time_point first, last;  // arrival of the first and latest result
};

void OnResult(void* arg) {
  auto* w = static_cast<Watch*>(arg);
  if (!w->active) return;
  OZK_PROCESS_RESULTS r{};
  const bool read = w->client->GetResultCount(&r) != 0;
  if (w->result_port) {
    const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    w->result_port->SendFormattedAppData(static_cast<uint32_t>(r.counts[kResultInspected]), now_ms,
                                         nullptr, 0);
  }
  std::lock_guard lock(w->mu);
  w->last = std::chrono::steady_clock::now();
  if (w->received++ == 0) w->first = w->last;
  if (read) w->records.push_back(r);
  w->cv.notify_all();
}

std::string StatusLine(int n, const OZK_PROCESS_RESULTS& r) {
  char line[160];
  std::snprintf(line, sizeof line,
                "result %d: %-9s passed %d  recycled %d  rejected %d  rate %.1f/s", n,
                ResultName(r.counts[kResultLast]), r.counts[kResultPassed],
                r.counts[kResultRecycled], r.counts[kResultRejected], r.values[kResultRateHz]);
  return line;
}

// The engine of this process serves the result lines on TCP port 5022 (its system result
// port), with a frame number and a time stamp column.
CAppDests& OpenResultPort(CVelAppClient& client) {
  constexpr uint32_t kResultPort = 5022;
  auto* dests = dynamic_cast<CAppDests*>(client.GetAppDest());
  if (!client.IsLoopback() || !dests)
    throw CommandError(
        "--result-port serves the lines of this process's engine: use --host loopback");
  CtVar* port = dests->GetSysDest(SYS_DEST_RESULT_PORT);
  if (!port) {
    port = dests->AddDest(1, kResultPort, nullptr, 0, 0);
    if (!port) throw CommandError("no destination slot is free for the result port");
    dests->UpdateSysDest(SYS_DEST_RESULT_PORT, port);
    port->Release(1, 0, 0);  // the system table holds it
  }
  dests->SendMessageW(port, {}, 0, 0, nullptr);  // starts listening
  CConnection* conn = dests->GetConn(port, nullptr);
  if (!conn || conn->GetLastError() != 0)
    throw CommandError("cannot listen on the result port " + std::to_string(kResultPort) +
                       (conn ? " (error " + std::to_string(conn->GetLastError()) + ")" : ""));
  dests->SendAppDataFormat(port, CAppDests::kLineFrame | CAppDests::kLineTimeStamp, 0);
  return *dests;
}

void WatchResults(int count, bool force_trigger, bool json, bool result_port) {
  Watch watch;  // before the session: a callback may still run while the session closes
  ClientPtr client = OpenSession();
  watch.client = client.get();
  if (result_port) watch.result_port = &OpenResultPort(*client);
  client->SetResultsCallback(OnResult, &watch);
  // However the command ends, no callback reaches the session after this.
  struct Unregister {
    Watch& watch;
    CVelAppClient& client;
    ~Unregister() {
      watch.active = false;
      client.SetResultsCallback(nullptr, nullptr);
    }
  } unregister{watch, *client};
  struct sigaction on_int {};
  on_int.sa_handler = [](int) { g_interrupted = true; };
  sigaction(SIGINT, &on_int, nullptr);
  const bool live = !json && isatty(STDOUT_FILENO);

  // A free-running appliance is followed; one that sends nothing on its own is triggered.
  bool trigger = force_trigger;
  size_t shown = 0;
  std::unique_lock lock(watch.mu);
  if (!trigger) {
    trigger = !watch.cv.wait_for(lock, std::chrono::milliseconds(1500),
                                 [&] { return watch.received > 0 || g_interrupted; });
  }
  while (!g_interrupted && (count <= 0 || watch.received < count)) {
    const int before = watch.received;
    if (trigger) {
      lock.unlock();
      const int kept = client->SoftwareTrigger();
      lock.lock();
      if (!kept) throw CommandError("the appliance does not take software triggers");
    }
    if (!watch.cv.wait_for(lock, std::chrono::seconds(5),
                           [&] { return watch.received > before || g_interrupted; }))
      throw CommandError("no result from " + Options().host + " for 5 s");
    const size_t wanted = count > 0 ? static_cast<size_t>(count) : watch.records.size();
    for (; shown < std::min(watch.records.size(), wanted) && !json; ++shown) {
      const std::string line = StatusLine(static_cast<int>(shown + 1), watch.records[shown]);
      if (live) {
        std::cout << '\r' << line << "\x1b[K" << std::flush;
      } else {
        std::cout << line << '\n';
      }
    }
  }
  watch.active = false;
  const int received = count > 0 ? std::min(watch.received, count) : watch.received;
  // The rate between the first result and the last, not counting the wait for the first.
  const double seconds = std::chrono::duration<double>(watch.last - watch.first).count();
  const double rate = seconds > 0 ? (watch.received - 1) / seconds : 0.0;
  lock.unlock();
  const OZK_PROCESS_RESULTS last = ReadCounters(*client);
  if (json) {
    nlohmann::json doc = CountersJson(last);
    doc["results"] = received;
    doc["seconds"] = seconds;
    doc["rate"] = rate;
    doc["triggered"] = trigger;
    std::cout << doc.dump(2) << '\n';
    return;
  }
  if (live) std::cout << '\n';
  std::printf("%d results in %.2f s (%.1f/s)%s: passed %d, recycled %d, rejected %d\n", received,
              seconds, rate, trigger ? ", triggered" : "", last.counts[kResultPassed],
              last.counts[kResultRecycled], last.counts[kResultRejected]);
  std::fflush(stdout);
}

}  // namespace

void AddResultCommands(CLI::App& app) {
  auto json = std::make_shared<bool>(false);
  auto camera = std::make_shared<int>(0);
  auto reset = std::make_shared<bool>(false);
  auto count = std::make_shared<int>(0);
  auto trigger = std::make_shared<bool>(false);
  auto result_port = std::make_shared<bool>(false);

  CLI::App* stats = app.add_subcommand(
      "stats", "Measurement variables: tolerances, min, max, mean and standard deviation");
  stats->add_option("--camera", *camera, "Camera index, from 0")->capture_default_str();
  stats->add_flag("--json", *json, "Print one JSON document");
  stats->callback([camera, json] { Stats(*camera, *json); });

  CLI::App* counters = app.add_subcommand("counters", "Passed, recycled and rejected parts");
  counters->add_flag("--reset", *reset, "Start counting from zero first");
  counters->add_flag("--json", *json, "Print one JSON document");
  counters->callback([reset, json] { Counters(*reset, *json); });

  CLI::App* watch = app.add_subcommand(
      "watch", "Show results as they arrive, triggering an appliance that is not free-running");
  watch->add_option("--count", *count, "Stop after this many results (0: at Ctrl-C)")
      ->check(CLI::NonNegativeNumber);
  watch->add_flag("--trigger", *trigger, "Trigger every image even when the appliance free-runs");
  watch->add_flag("--json", *json, "Print one JSON document at the end");
  watch->add_flag("--result-port", *result_port,
                  "Send each result's line to TCP port 5022 (loopback: this process serves it)");
  watch->callback(
      [count, trigger, json, result_port] { WatchResults(*count, *trigger, *json, *result_port); });
}

}  // namespace velctl
