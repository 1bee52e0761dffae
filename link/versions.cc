#include "link/versions.h"

#include <cstdio>

#include "platform/text.h"

int VersionNumber(std::string_view product_version) {
  long long n = 0;
  int digits = 0;
  for (char c : product_version) {
    if (c == '.') continue;
    if (c < '0' || c > '9' || ++digits > 9) return kVelUnknownVersion;
    n = n * 10 + (c - '0');
  }
  return digits ? static_cast<int>(n) : kVelUnknownVersion;
}

int ClientVersion() {
  return VersionNumber(kVelProductVersion);
}

std::optional<std::string> VersionedLibraryName(const std::string& library, int server_version,
                                                int client_version) {
  if (server_version < 1799 || client_version < server_version) return std::nullopt;
  if (!port::EqualsNoCase(library, "ZelvinEC.dll") && !port::EqualsNoCase(library, "ZelvinLC.dll"))
    return std::nullopt;
  char number[16];
  std::snprintf(number, sizeof number, "%4d", server_version);
  // "C.dll" is the last five characters of both names.
  return library.substr(0, library.size() - 4) + number + ".dll";
}
