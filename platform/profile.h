// INI profile files, with the semantics the library relies on from the Windows profile API:
// sections "[name]" and "key=value" lines; section and key names match case-insensitively;
// white space around names and values is dropped; lines starting with ";" are comments.
// A missing file, section or key gives the default. Writing creates the file, the section or
// the key as needed and keeps every other line as it was. A value of up to 64 KiB per line.
#pragma once

#include <string>

namespace port {

std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& default_value);
// The leading decimal digits (with sign) of the value; the default when there are none.
long GetProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   long default_value);
// Returns false when the file cannot be written.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace port
