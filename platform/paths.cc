#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/text.h"

namespace port {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string UserDataDir() {
  std::string dir = Env("XDG_DATA_HOME");
  if (!dir.empty()) return dir;
  std::string home = Env("HOME");
  if (home.empty()) home = "/tmp";
  return home + "/.local/share";
}

std::string SharedDataDir() {
  const std::string dirs = Env("XDG_DATA_DIRS");
  const std::string first = dirs.substr(0, dirs.find(':'));
  return first.empty() ? "/usr/local/share" : first;
}

std::string DriveRoot() {
  const std::string root = Env("VEL_DRIVE_ROOT");
  return root.empty() ? UserDataDir() + "/velappclient/drives" : root;
}

std::string MapLocalPath(const std::wstring& windows_path) {
  std::string path = WideToUtf8(windows_path);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    const char drive = AsciiLower(path[0]);
    std::string rest = path.substr(2);
    if (!rest.empty() && rest[0] != '/') rest = "/" + rest;
    return DriveRoot() + "/" + drive + rest;
  }
  // "\QRV" is rooted on the current drive; "/tmp" is already a path of this system.
  if (!windows_path.empty() && windows_path[0] == L'\\') return DriveRoot() + "/c" + path;
  return path;
}

std::string ExecutableDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return DirectoryExists(path);
}

}  // namespace port
