#include "tools/velctl/tree_file.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "platform/text.h"
#include "tools/velctl/commands.h"
#include "vartree/tvar.h"

namespace velctl {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File Open(const std::string& path, const char* mode) {
  File f(std::fopen(path.c_str(), mode), &std::fclose);
  if (!f) throw CommandError(path + ": cannot open");
  return f;
}

TreeFileForm Sniff(FILE* f) {
  int c;
  while ((c = std::fgetc(f)) != EOF && std::isspace(c)) {
  }
  std::rewind(f);
  return c == '[' ? TreeFileForm::kHex : TreeFileForm::kBinary;
}

}  // namespace

TreeFileForm ParseTreeFileForm(const std::string& text, bool allow_auto) {
  if (text == "bin") return TreeFileForm::kBinary;
  if (text == "hex") return TreeFileForm::kHex;
  if (text == "raw") return TreeFileForm::kRaw;
  if (allow_auto && text == "auto") return TreeFileForm::kAuto;
  throw CommandError("unknown tree file form '" + text + "' (bin, hex or raw)");
}

void ReadTreeFile(const std::string& path, TreeFileForm form, CtVar* root) {
  File f = Open(path, "rb");
  if (form == TreeFileForm::kAuto) form = Sniff(f.get());
  if (form == TreeFileForm::kHex) {
    if (!root->ReadFile(f.get(), OZK_TVAR_FILE_HEX)) {
      throw CommandError(path + ": not a hex tree file (bad header, data or checksum)");
    }
    return;
  }
  std::string bytes;
  char chunk[1 << 14];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0;) bytes.append(chunk, n);
  std::string_view record(bytes);
  if (form == TreeFileForm::kBinary) {
    // The size leads; the library's reader would accept a record that is cut inside, so the
    // record is checked here to name a corrupt file.
    if (record.size() < 4) throw CommandError(path + ": not a binary tree file (no size)");
    const auto* b = reinterpret_cast<const uint8_t*>(record.data());
    const uint32_t size = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    record.remove_prefix(4);
    if (record.size() < size) throw CommandError(path + ": not a binary tree file (truncated)");
    record = record.substr(0, size);
  }
  if (!root->UnSerializeTree(reinterpret_cast<const uint8_t*>(record.data()),
                             static_cast<uint32_t>(record.size()))) {
    throw CommandError(path + ": corrupt tree record");
  }
}

void WriteTreeFile(const std::string& path, TreeFileForm form, CtVar* root) {
  if (form == TreeFileForm::kRaw) {
    if (!root->WriteFile(port::Utf8ToWide(path).c_str()))
      throw CommandError(path + ": cannot write");
    return;
  }
  File f = Open(path, "wb");
  const int mode = form == TreeFileForm::kHex ? OZK_TVAR_FILE_HEX : OZK_TVAR_FILE_BINARY;
  if (!root->WriteFile(f.get(), mode) || std::fflush(f.get()) != 0) {
    throw CommandError(path + ": cannot write");
  }
}

}  // namespace velctl
