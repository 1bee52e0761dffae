// velctl ls, push and pull: the appliance's files over a session.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/clock.h"
#include "platform/text.h"
#include "tools/velctl/commands.h"
#include "tools/velctl/session.h"

namespace velctl {
namespace {

bool HasWildcard(const std::wstring& path) {
  return path.find_first_of(L"*?") != std::wstring::npos;
}

std::string TimeText(uint64_t file_time) {
  const port::SystemTime t = port::FileTimeToSystemTime(file_time);
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

void List(const std::string& device_path, bool json) {
  ClientPtr client = OpenSession();
  std::wstring pattern = port::Utf8ToWide(device_path);
  VelFindData d;
  int32_t find = client->FileFindFirst(pattern, &d);
  // A folder named without a pattern lists its content.
  if (find != -1 && !HasWildcard(pattern) && (d.attributes & kFileAttributeDirectory)) {
    client->FileFindClose(find);
    if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    find = client->FileFindFirst(pattern, &d);
    if (find == -1) {
      std::cout << (json ? "[]\n" : "");
      return;
    }
  }
  if (find == -1) throw CommandError("no such device file: " + device_path);
  nlohmann::json entries = nlohmann::json::array();
  do {
    const bool dir = d.attributes & kFileAttributeDirectory;
    const std::string name = port::WideToUtf8(d.name);
    if (json) {
      entries.push_back({{"name", name},
                         {"directory", dir},
                         {"size", d.size},
                         {"modified", TimeText(d.last_write_time)}});
    } else {
      std::printf("%s %12llu  %s  %s%s\n", dir ? "d" : "-", static_cast<unsigned long long>(d.size),
                  TimeText(d.last_write_time).c_str(), name.c_str(), dir ? "\\" : "");
    }
  } while (client->FileFindNext(find, &d));
  client->FileFindClose(find);
  if (json) std::cout << entries.dump(2) << '\n';
}

// A bar on a terminal, one percentage a line otherwise; nothing in JSON mode.
FileProgressCallback Progress(bool json) {
  if (json) return nullptr;
  if (isatty(STDERR_FILENO)) {
    return [](int, int percent, int, int) {
      const int filled = percent / 5;
      std::cerr << "\r[" << std::string(filled, '#') << std::string(20 - filled, ' ') << "] "
                << percent << "%" << (percent >= 100 ? "\n" : "") << std::flush;
    };
  }
  return [](int, int percent, int, int) { std::cerr << percent << "%\n"; };
}

void Transfer(uint32_t direction, const std::string& local, const std::string& device, bool json) {
  ClientPtr client = OpenSession();
  const std::wstring local_path = port::Utf8ToWide(local);
  const std::wstring device_path = port::Utf8ToWide(device);
  const bool push = direction == kTransferToDevice;
  uint64_t size = 0;
  if (!push) {
    VelFindData d;
    const int32_t find = client->FileFindFirst(device_path, &d);
    if (find == -1) throw CommandError("no such device file: " + device);
    client->FileFindClose(find);
    size = d.size;
  }
  if (!client->FileTransfer(direction, local_path, device_path, Progress(json))) {
    throw CommandError(std::string(push ? "push of " : "pull of ") + (push ? local : device) +
                       " failed (a missing or empty file, or a path outside the device)");
  }
  if (push) {
    VelFindData d;
    const int32_t find = client->FileFindFirst(device_path, &d);
    if (find != -1) client->FileFindClose(find);
    size = d.size;
  }
  if (json) {
    std::cout << nlohmann::json{{"direction", push ? "push" : "pull"},
                                {"local", local},
                                {"device", device},
                                {"bytes", size}}
                     .dump(2)
              << '\n';
  } else {
    std::cout << (push ? local + " -> " + device : device + " -> " + local) << " (" << size
              << " bytes)\n";
  }
}

}  // namespace

void AddDeviceCommands(CLI::App& app) {
  auto json = std::make_shared<bool>(false);
  auto a = std::make_shared<std::string>();
  auto b = std::make_shared<std::string>();

  CLI::App* ls = app.add_subcommand("ls", "List device files (a folder, a file or a pattern)");
  ls->add_option("DEVICEPATH", *a, "Device path, e.g. \"\\Storage Card\\*.bin\"")->required();
  ls->add_flag("--json", *json, "Print one JSON document");
  ls->callback([a, json] { List(*a, *json); });

  CLI::App* push = app.add_subcommand("push", "Copy a local file to the device");
  push->add_option("LOCAL", *a, "Local file")->required();
  push->add_option("DEVICEPATH", *b, "Device path")->required();
  push->add_flag("--json", *json, "Print one JSON document");
  push->callback([a, b, json] { Transfer(kTransferToDevice, *a, *b, *json); });

  CLI::App* pull = app.add_subcommand("pull", "Copy a device file to the local disk");
  pull->add_option("DEVICEPATH", *a, "Device path")->required();
  pull->add_option("LOCAL", *b, "Local file")->required();
  pull->add_flag("--json", *json, "Print one JSON document");
  pull->callback([a, b, json] { Transfer(kTransferFromDevice, *b, *a, *json); });
}

}  // namespace velctl
