// CVelOS: the client's own files and clocks.
//
// The OEM name (".\oem.ini", section "Config", key "OEMName", default "\Parvane Korin\") names
// the folder of the client's files below the application-data folder; it is read once per
// process. Paths come back as paths of this system (see platform/paths.h for the mapping of
// Windows-style paths).
#pragma once

#include <cstdint>
#include <string>

class CVelOS {
 public:
  static std::wstring GetOEMName();
  static std::string GetOEMNameA();
  // Key "OEMFolderName" of the same section, dflt when it is absent.
  static std::wstring GetOEMFolderName(const std::wstring& dflt);
  // Reads the OEM names again on the next use (after the current folder changed).
  static void ForgetOEMNames();

  // The path of file_name in the client's data folder: <per-user data>/<OEM name>/<sub_folder>/,
  // or the same below the all-users folder when the per-user one does not exist. A file name
  // that starts with "\" or has ":" as its second character is absolute and only mapped.
  static std::wstring AppDataPathOnce(const std::wstring& sub_folder,
                                      const std::wstring& file_name);
  static std::string AppDataPathOnce(const std::string& sub_folder, const std::string& file_name);

  // Milliseconds per tick of the high-resolution counter; -1 when there is none.
  static double m_dMilisecPerTick;
  // Milliseconds from an arbitrary start; 0 when the counter factor is not positive.
  static double GetmSecTime();
  // The system time as FILETIME divided by 10,000: milliseconds since 1601.
  static uint64_t GetSystimeMillisecs();
};
