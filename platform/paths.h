// Where the library's files live on this system.
//
// Per-user application data is the XDG data home ($XDG_DATA_HOME, else ~/.local/share); the
// all-users folder is the first entry of $XDG_DATA_DIRS (else /usr/local/share). Windows-style
// local paths are mapped onto the file system: "\" becomes "/", and a drive-letter path
// "C:\QRV\History" lands under the drive root ($VEL_DRIVE_ROOT, else
// <data home>/velappclient/drives) as "<root>/c/QRV/History"; a path that starts with "\" takes
// drive "c"; one that starts with "/" is already a path of this system. Relative paths
// (".\oem.ini") stay relative.
#pragma once

#include <string>

namespace port {

std::string UserDataDir();
std::string SharedDataDir();
std::string DriveRoot();

// A local Windows-style path as a path of this system (UTF-8).
std::string MapLocalPath(const std::wstring& windows_path);

// The folder of the running program (for programs installed beside the host).
std::string ExecutableDir();

bool DirectoryExists(const std::string& path);
// Creates path and its missing parents; true when it exists afterwards.
bool CreateDirectories(const std::string& path);

}  // namespace port
