// velctl info, get, set, param and the live tree: the appliance's identity, variables and
// parameters over a session.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "link/versions.h"
#include "tools/velctl/commands.h"
#include "tools/velctl/session.h"
#include "tools/velctl/tree_print.h"
#include "vartree/tvar.h"

namespace velctl {
namespace {

int ParseId(const std::string& text) {
  double id;
  if (!ParseNumber(text, &id) || id != static_cast<int>(id)) {
    throw CommandError("not a parameter id: " + text);
  }
  return static_cast<int>(id);
}

void Info(bool json) {
  ClientPtr client = OpenSession();
  const VelAppAttributes& attr = client->GetAppAttr();
  const nlohmann::json doc = {
      {"host", Options().host},
      {"loopback", client->IsLoopback() != 0},
      {"client_version", client->GetClientVersion()},
      {"server_version", client->GetServerVersion()},
      {"appliance_library", attr.library},
      {"solution", attr.solution_name},
      {"solution_version", attr.solution_version},
      {"title", attr.title},
      {"logo", attr.logo},
      {"cameras", client->GetNumOfCameras()},
      {"serial_number", client->GetDeviceSerialNumber()},
  };
  if (json) {
    std::cout << doc.dump(2) << '\n';
    return;
  }
  for (const auto& [key, value] : doc.items()) {
    std::cout << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump())
              << '\n';
  }
}

void Get(const std::string& path, bool json) {
  ClientPtr client = OpenSession();
  CtVar& node = ExistingVar(SyncedRoot(*client), path);
  if (json) {
    std::cout << nlohmann::json{{"path", path}, {"value", ValueJson(node)}}.dump(2) << '\n';
  } else {
    std::cout << path << " = " << ShowValue(node) << '\n';
  }
}

void Set(const std::string& path, const std::string& text, bool json) {
  ClientPtr client = OpenSession();
  CtVar& node = (*client->GetRootTVar())[std::string_view(path)];
  AssignText(node, text);
  if (json) {
    std::cout << nlohmann::json{{"path", path}, {"value", ValueJson(node)}}.dump(2) << '\n';
  } else {
    std::cout << path << " = " << ShowValue(node) << '\n';
  }
}

void PrintParam(int id, double value, bool json) {
  if (json) {
    std::cout << nlohmann::json{{"id", id}, {"value", value}}.dump(2) << '\n';
  } else {
    std::cout << "param " << id << " = " << value << '\n';
  }
}

void ParamGet(const std::string& id_text, bool json) {
  const int id = ParseId(id_text);
  ClientPtr client = OpenSession();
  VelParamCaps caps;
  if (!client->GetParamCaps(id, &caps)) throw CommandError("no parameter " + id_text);
  PrintParam(id, client->GetParam(id), json);
}

void ParamSet(const std::string& id_text, const std::string& value_text, bool json) {
  const int id = ParseId(id_text);
  double value;
  if (!ParseNumber(value_text, &value)) throw CommandError("not a number: " + value_text);
  ClientPtr client = OpenSession();
  VelParamCaps caps;
  if (!client->GetParamCaps(id, &caps)) throw CommandError("no parameter " + id_text);
  // The device answers nothing to a set; reading back tells whether it took the value.
  if (!client->SetParam(id, value) || client->GetParam(id) != value)
    throw CommandError("parameter " + id_text + " refused " + value_text);
  PrintParam(id, value, json);
}

}  // namespace

void ShowRemoteTree(const std::string& path, bool json) {
  ClientPtr client = OpenSession();
  CtVar& root = SyncedRoot(*client);
  CtVar& node = path.empty() ? root : ExistingVar(root, path);
  if (json) {
    std::cout << TreeJson(node).dump(2) << '\n';
  } else {
    PrintTree(node, 0, std::cout);
  }
}

void AddSessionCommands(CLI::App& app) {
  app.add_option("--host", Options().host, "Appliance: loopback, localhost or a host name")
      ->capture_default_str();
  app.add_option("--mode", Options().mode, "Connect mode (0 interactive, 1 light, 2 full)")
      ->capture_default_str();
  app.fallthrough();  // the session options may also follow the command

  auto json = std::make_shared<bool>(false);
  auto path = std::make_shared<std::string>();
  auto value = std::make_shared<std::string>();

  CLI::App* info = app.add_subcommand("info", "Versions, attributes and cameras");
  info->add_flag("--json", *json, "Print one JSON document");
  info->callback([json] { Info(*json); });

  CLI::App* get = app.add_subcommand("get", "Print one variable");
  get->add_option("PATH", *path, "Dotted variable path")->required();
  get->add_flag("--json", *json, "Print one JSON document");
  get->callback([path, json] { Get(*path, *json); });

  CLI::App* set = app.add_subcommand("set", "Set a variable (a number when VALUE is one)");
  set->add_option("PATH", *path, "Dotted variable path")->required();
  set->add_option("VALUE", *value, "New value")->required();
  set->add_flag("--json", *json, "Print one JSON document");
  set->callback([path, value, json] { Set(*path, *value, *json); });

  CLI::App* param = app.add_subcommand("param", "Read or write a device parameter");
  param->require_subcommand(1);
  CLI::App* pget = param->add_subcommand("get", "Print a parameter");
  pget->add_option("ID", *path, "Parameter id")->required();
  pget->add_flag("--json", *json, "Print one JSON document");
  pget->callback([path, json] { ParamGet(*path, *json); });
  CLI::App* pset = param->add_subcommand("set", "Set a parameter");
  pset->add_option("ID", *path, "Parameter id")->required();
  pset->add_option("VALUE", *value, "New value")->required();
  pset->add_flag("--json", *json, "Print one JSON document");
  pset->callback([path, value, json] { ParamSet(*path, *value, *json); });
}

}  // namespace velctl
