#include "engine/device_files.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

bool HasWildcard(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

bool Inside(const fs::path& root, const fs::path& path) {
  auto r = root.begin();
  auto p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (p == path.end() || *p != *r) return false;
  }
  return true;
}

std::optional<VelFindData> Describe(const fs::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  VelFindData d;
  d.attributes = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
  d.creation_time = port::UnixToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  d.last_access_time = port::UnixToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  d.last_write_time = port::UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  d.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  d.name = port::Utf8ToWide(path.filename().string());
  return d;
}

// fopen modes the device accepts: r, w or a, then any of "b", "t" and one "+".
std::optional<std::string> HostMode(const std::wstring& mode) {
  if (mode.empty() || mode.size() > 4 || (mode[0] != L'r' && mode[0] != L'w' && mode[0] != L'a'))
    return std::nullopt;
  std::string host(1, static_cast<char>(mode[0]));
  bool plus = false;
  for (size_t i = 1; i < mode.size(); ++i) {
    if (mode[i] == L'+' && !plus) {
      plus = true;
    } else if (mode[i] != L'b' && mode[i] != L't') {
      return std::nullopt;
    }
  }
  if (plus) host += '+';
  return host + 'b';
}

}  // namespace

CDeviceFiles::CDeviceFiles(std::string root) {
  std::error_code ec;
  // Every appliance has its storage card, where solutions and user files live.
  fs::create_directories(fs::path(root) / "Storage Card", ec);
  root_ = fs::weakly_canonical(root, ec).string();
  if (ec) root_ = root;
}

CDeviceFiles::~CDeviceFiles() = default;

std::optional<std::string> CDeviceFiles::MapPath(const std::wstring& device_path) const {
  const std::string utf8 = port::WideToUtf8(device_path);
  if (utf8.empty() || utf8.find('\0') != std::string::npos) return std::nullopt;
  std::vector<std::string> parts;
  size_t pos = 0;
  bool first = true;
  while (pos <= utf8.size()) {
    const size_t end = std::min(utf8.find_first_of("\\/", pos), utf8.size());
    std::string part = utf8.substr(pos, end - pos);
    pos = end + 1;
    const bool drive = first && part.size() == 2 && part[1] == ':' &&
                       std::isalpha(static_cast<unsigned char>(part[0]));
    first = false;
    if (drive || part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
      continue;
    }
    if (part.find(':') != std::string::npos) return std::nullopt;  // no streams, no drives
    parts.push_back(std::move(part));
  }
  fs::path path(root_);
  for (const auto& p : parts) path /= p;
  // A symbolic link inside the sandbox must not lead out of it.
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(path, ec);
  if (ec || !Inside(fs::path(root_), real)) return std::nullopt;
  return path.string();
}

int32_t CDeviceFiles::FindFirst(const std::wstring& pattern, VelFindData* out) {
  const auto mapped = MapPath(pattern);
  if (!mapped) return -1;
  const fs::path path(*mapped);
  std::string name = path.filename().string();
  Search search;
  if (!HasWildcard(name)) {
    if (auto d = Describe(path)) search.entries.push_back(*d);
  } else {
    if (name == "*.*") name = "*";
    std::error_code ec;
    for (fs::directory_iterator it(path.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string entry = it->path().filename().string();
      if (fnmatch(name.c_str(), entry.c_str(), FNM_CASEFOLD | FNM_PERIOD) != 0) continue;
      if (auto d = Describe(it->path())) search.entries.push_back(*d);
    }
    std::sort(search.entries.begin(), search.entries.end(),
              [](const VelFindData& a, const VelFindData& b) { return a.name < b.name; });
  }
  std::lock_guard lock(mu_);
  if (search.entries.empty() || Full()) return -1;
  *out = search.entries[0];
  search.next = 1;
  const int32_t handle = next_search_;
  next_search_ = next_search_ == INT32_MAX ? 1 : next_search_ + 1;
  searches_[handle] = std::move(search);
  return handle;
}

int CDeviceFiles::FindNext(int32_t handle, VelFindData* out) {
  std::lock_guard lock(mu_);
  auto it = searches_.find(handle);
  if (it == searches_.end() || it->second.next >= it->second.entries.size()) return 0;
  *out = it->second.entries[it->second.next++];
  return 1;
}

int CDeviceFiles::FindClose(int32_t handle) {
  std::lock_guard lock(mu_);
  return searches_.erase(handle) ? 1 : 0;
}

uint64_t CDeviceFiles::Open(const std::wstring& path, const std::wstring& mode) {
  const auto mapped = MapPath(path);
  const auto host_mode = HostMode(mode);
  if (!mapped || !host_mode || fs::is_directory(*mapped)) return 0;
  std::lock_guard lock(mu_);
  if (Full()) return 0;
  File file(std::fopen(mapped->c_str(), host_mode->c_str()));
  if (!file) return 0;
  const uint64_t handle = next_file_++;
  files_[handle] = std::move(file);
  return handle;
}

FILE* CDeviceFiles::FileOf(uint64_t handle) {
  auto it = files_.find(handle);
  return it == files_.end() ? nullptr : it->second.get();
}

int CDeviceFiles::Seek(uint64_t handle, int64_t offset, int origin) {
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  std::lock_guard lock(mu_);
  FILE* f = FileOf(handle);
  if (!f || origin < 0 || origin > 2) return 0;
  return fseeko(f, static_cast<off_t>(offset), kWhence[origin]) == 0 ? 1 : 0;
}

uint32_t CDeviceFiles::Write(std::span<const uint8_t> data, uint64_t handle) {
  std::lock_guard lock(mu_);
  FILE* f = FileOf(handle);
  if (!f || data.empty()) return 0;
  return static_cast<uint32_t>(std::fwrite(data.data(), 1, data.size(), f));
}

std::vector<uint8_t> CDeviceFiles::Read(uint32_t length, uint64_t handle) {
  std::lock_guard lock(mu_);
  FILE* f = FileOf(handle);
  if (!f) return {};
  std::vector<uint8_t> data(std::min(length, kMaxReadSize));
  data.resize(std::fread(data.data(), 1, data.size(), f));
  return data;
}

int CDeviceFiles::Close(uint64_t handle) {
  std::lock_guard lock(mu_);
  return files_.erase(handle) ? 1 : 0;
}

int CDeviceFiles::Remove(const std::wstring& path) {
  const auto mapped = MapPath(path);
  if (!mapped || fs::is_directory(*mapped)) return 0;
  return std::remove(mapped->c_str()) == 0 ? 1 : 0;
}

int CDeviceFiles::Move(const std::wstring& from, const std::wstring& to) {
  const auto a = MapPath(from);
  const auto b = MapPath(to);
  if (!a || !b || *a == root_ || *b == root_) return 0;
  return std::rename(a->c_str(), b->c_str()) == 0 ? 1 : 0;
}

int CDeviceFiles::CreateDirectory(const std::wstring& path) {
  const auto mapped = MapPath(path);
  std::error_code ec;
  return mapped && fs::create_directory(*mapped, ec) ? 1 : 0;
}

int CDeviceFiles::RemoveDirectory(const std::wstring& path) {
  const auto mapped = MapPath(path);
  if (!mapped || *mapped == root_ || !fs::is_directory(*mapped)) return 0;
  std::error_code ec;
  return fs::remove(*mapped, ec) ? 1 : 0;
}
