#include "link/vel_os.h"

#include <time.h>

#include <mutex>
#include <optional>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

constexpr char kOemFile[] = "./oem.ini";
constexpr char kOemSection[] = "Config";
constexpr char kDefaultOemName[] = "\\Parvane Korin\\";

std::mutex oem_mu;
std::optional<std::string> oem_name;

double CounterMsPerTick() {
  struct timespec res;
  if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return -1;
  // The counter ticks in nanoseconds whatever its resolution.
  return 1e-6;
}

bool IsAbsoluteWindowsPath(const std::wstring& name) {
  return (!name.empty() && name[0] == L'\\') || (name.size() >= 2 && name[1] == L':');
}

// "\Parvane Korin\" as a relative folder of this system: "Parvane Korin/".
std::string AsFolderTail(std::string text) {
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  while (!text.empty() && text.front() == '/') text.erase(0, 1);
  if (!text.empty() && text.back() != '/') text += '/';
  return text;
}

}  // namespace

double CVelOS::m_dMilisecPerTick = CounterMsPerTick();

std::string CVelOS::GetOEMNameA() {
  std::lock_guard lock(oem_mu);
  if (!oem_name)
    oem_name = port::GetProfileString(kOemFile, kOemSection, "OEMName", kDefaultOemName);
  return *oem_name;
}

std::wstring CVelOS::GetOEMName() {
  return port::Utf8ToWide(GetOEMNameA());
}

std::wstring CVelOS::GetOEMFolderName(const std::wstring& dflt) {
  return port::Utf8ToWide(
      port::GetProfileString(kOemFile, kOemSection, "OEMFolderName", port::WideToUtf8(dflt)));
}

void CVelOS::ForgetOEMNames() {
  std::lock_guard lock(oem_mu);
  oem_name.reset();
}

std::wstring CVelOS::AppDataPathOnce(const std::wstring& sub_folder,
                                     const std::wstring& file_name) {
  if (IsAbsoluteWindowsPath(file_name)) return port::Utf8ToWide(port::MapLocalPath(file_name));
  std::string tail = AsFolderTail(GetOEMNameA());
  if (!sub_folder.empty()) tail += AsFolderTail(port::WideToUtf8(sub_folder));
  std::string folder = port::UserDataDir() + "/" + tail;
  if (!port::DirectoryExists(folder)) folder = port::SharedDataDir() + "/" + tail;
  std::string name = port::WideToUtf8(file_name);
  if (name.rfind(".\\", 0) == 0 || name.rfind("./", 0) == 0) name.erase(0, 2);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return port::Utf8ToWide(folder + name);
}

std::string CVelOS::AppDataPathOnce(const std::string& sub_folder, const std::string& file_name) {
  return port::WideToUtf8(
      AppDataPathOnce(port::Utf8ToWide(sub_folder), port::Utf8ToWide(file_name)));
}

double CVelOS::GetmSecTime() {
  if (m_dMilisecPerTick <= 0) return 0;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const double ticks = static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
  return ticks * m_dMilisecPerTick;
}

uint64_t CVelOS::GetSystimeMillisecs() {
  return port::FileTimeNow() / 10'000;
}
