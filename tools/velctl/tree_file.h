// Tree files as velctl reads and writes them: the binary form (size, then the record), the
// hexadecimal text form ("[size:name]" then hex lines and a checksum) and the raw whole-file
// form (the record alone).
#pragma once

#include <string>

class CtVar;

namespace velctl {

enum class TreeFileForm { kAuto, kBinary, kHex, kRaw };

// Parses "bin", "hex", "raw" (and "auto" when allow_auto); throws CommandError otherwise.
TreeFileForm ParseTreeFileForm(const std::string& text, bool allow_auto);

// Reads path onto root. kAuto takes hex text when the first non-blank character is "[", else
// the binary form. Throws CommandError naming the file when it cannot be read or is corrupt.
void ReadTreeFile(const std::string& path, TreeFileForm form, CtVar* root);
void WriteTreeFile(const std::string& path, TreeFileForm form, CtVar* root);

}  // namespace velctl
