// Version numbers of the client and the server, and the appliance library that matches them.
//
// A version number is a product version text ("1.8.0.0") with its dots removed, read as a
// decimal number (1800). Client and server must agree before the appliance library is loaded.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The product version of this library.
inline constexpr char kVelProductVersion[] = "1.8.0.0";
// The client version when the product version cannot be read.
constexpr int kVelUnknownVersion = 1000;

// kVelUnknownVersion when the text, without its dots, is not a decimal number.
int VersionNumber(std::string_view product_version);
int ClientVersion();

// The versioned appliance library to try first ("ZelvinEC.dll" and 1800 give
// "ZelvinEC1800.dll"): only for "ZelvinEC.dll" and "ZelvinLC.dll" (case-insensitive), a server
// version of at least 1799 and a client version not below it.
std::optional<std::string> VersionedLibraryName(const std::string& library, int server_version,
                                                int client_version);
