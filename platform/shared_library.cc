#include "platform/shared_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/text.h"

namespace port {

namespace {

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (AsciiLower(s[s.size() - suffix.size() + i]) != suffix[i]) return false;
  }
  return true;
}

// The folder of the binary that holds this function, with a trailing "/".
std::string OwnFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&OwnFolder), &info) || !info.dli_fname) return std::string();
  const std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  const std::string own = OwnFolder();
  if (!own.empty()) folders.push_back(own);
  if (const char* env = std::getenv("VEL_LIBRARY_PATH")) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      const size_t end = std::min(list.find(':', start), list.size());
      if (end > start) folders.push_back(list.substr(start, end - start) + "/");
      start = end + 1;
    }
  }
  folders.push_back(std::string());  // the system search path
  return folders;
}

}  // namespace

std::string SharedLibraryFileName(const std::string& name, bool lower_case) {
  std::string base = name;
  if (EndsWithNoCase(base, ".dll")) base = "lib" + base.substr(0, base.size() - 4) + ".so";
  if (lower_case) {
    for (char& c : base) c = AsciiLower(c);
  }
  return base;
}

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& name) {
  if (name == "this") {
    void* self = dlopen(nullptr, RTLD_NOW);
    return self ? std::unique_ptr<SharedLibrary>(new SharedLibrary(self)) : nullptr;
  }
  if (name.empty() || name.find('/') != std::string::npos) return nullptr;
  for (const std::string& folder : SearchFolders()) {
    for (bool lower : {false, true}) {
      const std::string path = folder + SharedLibraryFileName(name, lower);
      if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
      }
    }
  }
  return nullptr;
}

SharedLibrary::~SharedLibrary() {
  dlclose(handle_);
}

void* SharedLibrary::Symbol(const std::string& name) const {
  return dlsym(handle_, name.c_str());
}

}  // namespace port
