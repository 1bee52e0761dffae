// velctl dest: the appliance's destinations (serial ports, TCP and UDP peers).
//
// Destinations belong to the server's destination manager. Against a velserver they stay in
// the server between two velctl runs: an add announces the new destination to the server,
// which opens it, and a send is carried out by the server. On loopback the engine lives only as
// long as one velctl run, so velctl keeps the added destinations in a file of the user's data
// folder and gives them back to the next run's engine; that run opens them when it first uses
// them (a client connects, a server listens) and closes them when it ends.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "dests/app_dests.h"
#include "dests/conn_names.h"
#include "dests/connection.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/velctl/commands.h"
#include "tools/velctl/session.h"
#include "tools/velctl/tree_file.h"
#include "vartree/tvar.h"

namespace velctl {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);

// A session and its destination manager, with the destinations brought up to date: the
// server's copy over the network, the saved ones on loopback. Saves them back on loopback when
// the command changed them.
class DestSession {
 public:
  DestSession() : client_(OpenSession()) {
    dests_ = dynamic_cast<CAppDests*>(client_->GetAppDest());
    if (!dests_) throw CommandError("the session has no destination manager");
    if (Local()) {
      Restore();
    } else if (!dests_->DestsNode()->ReadTreeRemote()) {
      throw CommandError("cannot read the destinations from " + Options().host);
    }
  }
  ~DestSession() {
    if (changed_ && Local()) Save();
  }

  CAppDests& Dests() { return *dests_; }
  bool Local() const { return client_->IsLoopback() != 0; }
  void Changed() { changed_ = true; }

  // The engine of a loopback run ends with the run, and so would a link it opened now: the
  // destination is added unopened (a client does not dial, a server does not listen), and the
  // run that uses it opens it.
  template <typename AddOperation>
  CtVar* Add(AddOperation add) {
    const bool engine = dests_->HasServerEngine();
    if (Local()) dests_->SetServerEngine(false);
    CtVar* dest = add(*dests_);
    dests_->SetServerEngine(engine);
    return dest;
  }

  CtVar& Existing(const std::string& index) {
    CtVar* dest = dests_->GetDestID(index.c_str());
    if (!dest) throw CommandError("no destination " + index);
    return *dest;
  }

 private:
  static std::string SavedPath() { return port::UserDataDir() + "/velctl-destinations.bin"; }

  void Restore() {
    if (access(SavedPath().c_str(), R_OK) != 0) return;
    CtVar saved;
    ReadTreeFile(SavedPath(), TreeFileForm::kBinary, &saved);
    CtVarLock lock;
    CtVar* into = dests_->DestsNode();
    for (CtVar* c = saved.GetFirstChild(); c; c = c->GetNextSibling()) {
      const std::string name(c->NameView());
      if (!into->GetChild(name.c_str())) *into->GetChild(name.c_str(), 0, 1) = *c;
    }
  }

  void Save() {
    port::CreateDirectories(port::UserDataDir());
    WriteTreeFile(SavedPath(), TreeFileForm::kBinary, dests_->DestsNode());
  }

  ClientPtr client_;
  CAppDests* dests_ = nullptr;
  bool changed_ = false;
};

const char* RoleName(uint32_t role, bool udp) {
  switch (role) {
    case 1:
      return udp ? "udp-server" : "tcp-server";
    case 2:
      return "serial";
    case 6:
      return udp ? "udp-client" : "tcp-client";
    case 10:
      return "gpi";
    case 11:
      return "gpo";
    default:
      return "other";
  }
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

template <typename F>
bool PollFor(int timeout_ms, F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

void List(bool json) {
  DestSession s;
  CAppDests& dests = s.Dests();
  nlohmann::json rows = nlohmann::json::array();
  for (CtVar* d = dests.GetNextDest(nullptr); d; d = dests.GetNextDest(d)) {
    const uint32_t role = DestKeyU32(d, "Role");
    const std::string index(d->NameView());
    // Described from the node where the role allows: asking the connection would open it, and
    // a socket client would dial its peer just to be listed.
    std::wstring text = DestBasicDescription(role, d, 0);
    if (text.empty()) text = dests.GetDestDescription(d, 0);
    const std::string description = port::WideToUtf8(text);
    const char* kind = RoleName(role, DestKeyNumber(d, "UDP") != 0);
    // Only a destination of this process can say whether its link is up (a server's cannot be
    // asked); on loopback none is open before a command uses it.
    nlohmann::json connected = nullptr;
    if (s.Local()) connected = dests.IsConnected(d) != 0;
    if (json) {
      rows.push_back({{"index", std::stoi(index)},
                      {"role", role},
                      {"kind", kind},
                      {"description", description},
                      {"connected", connected}});
    } else {
      std::printf("%3s  %2u %-10s  %-40s  %s\n", index.c_str(), role, kind, description.c_str(),
                  connected.is_null() ? "-" : (connected.get<bool>() ? "yes" : "no"));
    }
  }
  if (json) std::cout << rows.dump(2) << '\n';
}

// Prints the name of the destination an add created (or, for a serial port, rewrote); an add
// that met an equal destination, or no free slot, created nothing.
void PrintAdded(DestSession& s, CtVar* dest, const std::string& what, bool json) {
  if (!dest) throw CommandError(what + " exists already or no destination slot is free");
  s.Changed();
  const std::string name(dest->NameView());
  // A server opens the new destination at once and keeps its link.
  if (!s.Local()) s.Dests().SendMessageW(name.c_str(), {}, 1, 0, nullptr);
  if (json) {
    std::cout << nlohmann::json{{"name", name}}.dump(2) << '\n';
  } else {
    std::cout << name << '\n';
  }
}

void AddSocketServer(int port, bool udp, bool json) {
  if (port < 1 || port > 65535) throw CommandError("port must be 1 to 65535");
  DestSession s;
  CtVar* dest = s.Add([&](CAppDests& dests) {
    return dests.AddDest(1, static_cast<uint32_t>(port), nullptr, 0, udp ? 1 : 0);
  });
  PrintAdded(s, dest, "a socket server on port " + std::to_string(port), json);
}

void AddSocketClient(const std::string& host, int port, bool udp, bool json) {
  if (port < 1 || port > 65535) throw CommandError("port must be 1 to 65535");
  // The settings record keeps 16 bytes of host text.
  if (host.empty() || host.size() > 15)
    throw CommandError("host must be an IPv4 address of at most 15 characters");
  DestSession s;
  CtVar* dest = s.Add([&](CAppDests& dests) {
    return dests.AddDest(6, static_cast<uint32_t>(port), host.c_str(), 0, udp ? 1 : 0);
  });
  PrintAdded(s, dest, "a socket client of " + host + ":" + std::to_string(port), json);
}

void AddSerial(const std::string& name, int baud, bool json) {
  if (name.empty() || name.size() >= 20) throw CommandError("port name must be 1 to 19 characters");
  if (baud < 0) throw CommandError("baud rate must not be negative");
  DestSession s;
  // An equal serial port is rewritten in place with the new baud rate.
  CtVar* dest = s.Add([&](CAppDests& dests) {
    return dests.AddDest(name.c_str(), static_cast<uint32_t>(baud), 0, 0, 0);
  });
  PrintAdded(s, dest, "serial port " + name, json);
}

void Send(const std::string& index, const std::string& text, bool raw, int timeout_ms, bool json) {
  DestSession s;
  CAppDests& dests = s.Dests();
  CtVar& dest = s.Existing(index);
  const std::string bytes = raw ? text : text + "\r\n";
  if (!s.Local()) {
    // The server sends it; it does not answer whether its peer took the bytes.
    if (!dests.SendMessageW(index.c_str(), Bytes(bytes), 1, 0, nullptr))
      throw CommandError("cannot hand the text to " + Options().host);
  } else {
    // A fresh engine's link comes up on first use: a client dials, a server waits for a peer.
    dests.SendMessageW(&dest, {}, 0, 0, nullptr);
    PollFor(timeout_ms, [&] { return dests.IsConnected(&dest) != 0; });
    if (!dests.SendMessageW(&dest, Bytes(bytes), 0, 0, nullptr))
      throw CommandError("destination " + index + " has no peer to send to");
  }
  if (json) {
    std::cout << nlohmann::json{{"name", index}, {"bytes", bytes.size()}}.dump(2) << '\n';
  } else {
    std::cout << bytes.size() << " bytes to destination " << index << '\n';
  }
}

void Recv(const std::string& index, int timeout_ms, bool json) {
  DestSession s;
  if (!s.Local()) {
    throw CommandError(
        "dest recv reads a destination of this process: use --host loopback (a server's "
        "destinations are read by its own handlers)");
  }
  CAppDests& dests = s.Dests();
  CtVar& dest = s.Existing(index);
  dests.SendMessageW(&dest, {}, 0, 0, nullptr);
  std::string line;
  PollFor(timeout_ms, [&] {
    line = dests.RecvQueuedMessage(index.c_str(), CConnection::kLineRingSize, '\n');
    return !line.empty();
  });
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) throw CommandError("no line from destination " + index + " in time");
  if (json) {
    std::cout << nlohmann::json{{"name", index}, {"line", line}}.dump(2) << '\n';
  } else {
    std::cout << line << '\n';
  }
}

// Attaches a variable to a register of a destination: writing the variable then writes the
// register, reading it reads the register.
void Attach(const std::string& variable, const std::string& index, int reg,
            const std::optional<std::string>& value, bool json) {
  if (reg < 0) throw CommandError("register must not be negative");
  if (variable.rfind("AppVar.", 0) != 0 || variable.size() <= 7)
    throw CommandError("the variable must be below AppVar, as AppVar.Name");
  bool local;
  {
    DestSession s;
    s.Existing(index);
    local = s.Local();
    CtVar& var = (*s.Dests().Root())[variable.c_str()];
    if (!var.AttachToDestination(index.c_str(), static_cast<uint32_t>(reg), 1))
      throw CommandError("cannot attach " + variable + " to destination " + index);
    s.Changed();
    if (value && local) AssignText(var, *value);
  }
  // A server writes through its own destination: a plain write of its variable reaches it,
  // where this session's mirror, attached now, would write to a destination of its own.
  if (value && !local) {
    ClientPtr client = OpenSession();
    AssignText((*client->GetRootTVar())[variable.c_str()], *value);
  }
  if (json) {
    std::cout << nlohmann::json{{"variable", variable}, {"name", index}, {"register", reg}}.dump(2)
              << '\n';
  } else {
    std::cout << variable << " -> destination " << index << " register " << reg << '\n';
  }
}

}  // namespace

void AddDestCommands(CLI::App& app) {
  struct Args {
    bool json = false, udp = false, raw = false;
    int port = 0, baud = 0, reg = 0, timeout = 2000;
    std::string host, name, index, text;
    std::optional<std::string> value;
  };
  auto a = std::make_shared<Args>();

  CLI::App* dest = app.add_subcommand(
      "dest",
      "The appliance's destinations. Against a server (--host HOST) they persist in the "
      "server, which keeps their links open between runs. On loopback velctl keeps them in its "
      "user data folder and every run opens them anew: a client dials its peer once per run "
      "(use a peer that accepts more than one connection, such as nc -lk), a server listens "
      "only while its run lasts.");
  dest->require_subcommand(1);

  CLI::App* list = dest->add_subcommand("list", "Index, role, description, connected");
  list->add_flag("--json", a->json, "Print one JSON document");
  list->callback([a] { List(a->json); });

  CLI::App* server = dest->add_subcommand("add-socket-server", "Add a TCP (or UDP) server");
  server->add_option("PORT", a->port, "Listening port")->required();
  server->add_flag("--udp", a->udp, "UDP instead of TCP");
  server->add_flag("--json", a->json, "Print one JSON document");
  server->callback([a] { AddSocketServer(a->port, a->udp, a->json); });

  CLI::App* client = dest->add_subcommand("add-socket-client", "Add a TCP (or UDP) client");
  client->add_option("HOST", a->host, "Peer IPv4 address")->required();
  client->add_option("PORT", a->port, "Peer port")->required();
  client->add_flag("--udp", a->udp, "UDP instead of TCP");
  client->add_flag("--json", a->json, "Print one JSON document");
  client->callback([a] { AddSocketClient(a->host, a->port, a->udp, a->json); });

  CLI::App* serial = dest->add_subcommand("add-serial", "Add a serial port (8N1, no handshake)");
  serial->add_option("NAME", a->name, "Port name, e.g. COM1")->required();
  serial->add_option("BAUD", a->baud, "Baud rate (0: 9600)")->required();
  serial->add_flag("--json", a->json, "Print one JSON document");
  serial->callback([a] { AddSerial(a->name, a->baud, a->json); });

  CLI::App* send = dest->add_subcommand(
      "send", "Send TEXT and a line end; on loopback waits up to --timeout for a peer first");
  send->add_option("INDEX", a->index, "Destination index")->required();
  send->add_option("TEXT", a->text, "Text to send")->required();
  send->add_flag("--raw", a->raw, "Send TEXT without a line end");
  send->add_option("--timeout", a->timeout, "Milliseconds to wait for a peer (loopback)")
      ->capture_default_str();
  send->add_flag("--json", a->json, "Print one JSON document");
  send->callback([a] { Send(a->index, a->text, a->raw, a->timeout, a->json); });

  CLI::App* recv = dest->add_subcommand(
      "recv",
      "Print the next line a destination receives (loopback only: the destination must "
      "live in this process)");
  recv->add_option("INDEX", a->index, "Destination index")->required();
  recv->add_option("--timeout", a->timeout, "Milliseconds to wait for a line")
      ->capture_default_str();
  recv->add_flag("--json", a->json, "Print one JSON document");
  recv->callback([a] { Recv(a->index, a->timeout, a->json); });

  CLI::App* attach = dest->add_subcommand(
      "attach", "Attach a variable to a register of a destination (--value writes through it)");
  attach->add_option("VAR", a->name, "Variable, as AppVar.Name")->required();
  attach->add_option("INDEX", a->index, "Destination index")->required();
  attach->add_option("REG", a->reg, "Register")->required();
  attach->add_option("--value", a->value, "Write this value through the destination at once");
  attach->add_flag("--json", a->json, "Print one JSON document");
  attach->callback([a] { Attach(a->name, a->index, a->reg, a->value, a->json); });
}

}  // namespace velctl
