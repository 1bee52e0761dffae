#include <unistd.h>

#include <charconv>
#include <ctime>

#include "dests/app_dests.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

// Branches that never hold result columns: the global settings, the program, the serial ports.
bool SkippedBranch(std::string_view name) {
  return name == "Global" || port::EqualsNoCase(name, "Prog") ||
         (name.size() == 4 && port::EqualsNoCase(name.substr(0, 3), "com"));
}

std::string_view TrimRight(std::string_view text, std::string_view chars) {
  const size_t end = text.find_last_not_of(chars);
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// printf's "%4.3f", without its cost: to_chars gives the same digits, rounded the same way;
// the width only ever pads the texts of infinities and NaN.
void AppendFixed3(double value, std::string* out) {
  char text[400];
  const auto r = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, 3);
  const size_t n = r.ec == std::errc() ? static_cast<size_t>(r.ptr - text) : 0;
  if (n < 4) out->append(4 - n, ' ');
  out->append(text, n);
}

// A column whose own "Result" child holds 0 (its tool did not run) shows "?".
bool HasNoResult(CtVar* column) {
  for (CtVar* c = column->GetFirstChild(); c; c = c->GetNextSibling()) {
    if (c->NameView() == "Result") return static_cast<double>(*c) == 0;
  }
  return false;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
}

}  // namespace

// Depth first, in child order; every column takes the next mask bit, shown or not.
void CAppDests::CollectColumns(CtVar* node, CtVar* app_var, uint32_t* bit,
                               std::vector<CtVar*>* columns) {
  for (CtVar* c = node->GetFirstChild(); c; c = c->GetNextSibling()) {
    if (SkippedBranch(c->NameView())) continue;
    const bool top_result = node == app_var && c->NameView() == "Result";
    if (top_result || (c->GetOptions() & TVAR_OPT_RESULT_VAR)) {
      const bool masked = *bit < 64 && (column_mask_ >> *bit) & 1;
      ++*bit;
      if (!masked) columns->push_back(c);
    }
    CollectColumns(c, app_var, bit, columns);
  }
}

std::vector<CtVar*> CAppDests::ResultColumns() {
  std::vector<CtVar*> columns;
  CtVar* app_var = root_->GetChild("AppVar");
  if (!app_var || app_var == root_) return columns;
  uint32_t bit = 0;
  CollectColumns(app_var, app_var, &bit, &columns);
  return columns;
}

std::string CAppDests::GetAppDataFormat(uint32_t flags) {
  CtVarLock lock;
  return Header(ResultColumns(), flags);
}

std::string CAppDests::Header(const std::vector<CtVar*>& columns, uint32_t flags) {
  CtVar* app_var = root_->GetChild("AppVar");
  std::string header = "\"";
  const char* separator = "\",\"";
  if (flags & kLineFrame) header += std::string("Frame Number") + separator;
  if (flags & kLineTimeStamp) header += std::string("TimeStamp") + separator;
  for (CtVar* column : columns) {
    AppendPathBelow(app_var, column, &header);
    header += separator;
  }
  header.resize(TrimRight(header, "\"").size());
  return header + "\r\n";
}

// The dotted path of node from below top, appended without building the full name.
void CAppDests::AppendPathBelow(CtVar* top, CtVar* node, std::string* out) {
  CtVar* parent = node->GetParent();
  if (parent && parent != top) {
    AppendPathBelow(top, parent, out);
    *out += '.';
  }
  *out += node->NameView();
}

std::string CAppDests::DataLine(const std::vector<CtVar*>& columns, bool to_file) {
  static const char* const kResultNames[] = {"Ignore", "Pass", "Recycle", "Reject"};
  std::string line;
  line.reserve(32 + 12 * columns.size());
  for (CtVar* column : columns) {
    if (to_file && column->NameView() == "Result") {
      const double v = static_cast<double>(*column);
      const int r = v >= 0 && v <= 3 ? static_cast<int>(v) : 0;
      line += kResultNames[r];
    } else if (HasNoResult(column)) {
      line += '?';
    } else if (column->GetStoredType() == OZK_TVAR_STRING) {
      line += column->GetValueStr();
    } else {
      AppendFixed3(static_cast<double>(*column), &line);
    }
    line += ", ";
  }
  return line;
}

int CAppDests::SendAppDataFormat(CtVar* dest, uint32_t flags, uint64_t mask) {
  line_flags_ = flags;
  column_mask_ = mask;
  return SendMessageW(dest, Bytes(GetAppDataFormat(flags)), 0, 0, nullptr);
}

int CAppDests::SendFormattedAppData(uint32_t frame, int64_t timestamp, FILE* file, int quiet,
                                    int handle) {
  CtVarLock lock;
  const bool to_file = file || quiet || handle >= 0;
  const std::vector<CtVar*> columns = ResultColumns();
  std::string data = DataLine(columns, to_file);
  if ((line_flags_ & kLineOnChange) && data == last_data_) return 0;
  last_data_ = data;
  const std::string header =
      Header(columns, line_flags_ | (to_file ? kLineFrame | kLineTimeStamp : 0));

  if (to_file) {
    char clock[16] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(clock, sizeof(clock), "%H:%M:%S", &local);
    data = std::string(clock) + ", " + std::string(TrimRight(data, ", "));
  } else if (line_flags_ & kLineTimeStamp) {
    data = std::to_string(timestamp) + ", " + data;
  }
  if ((line_flags_ & kLineFrame) || to_file) data = std::to_string(frame) + ", " + data;

  if (handle >= 0) {
    data += "\n";
    return static_cast<int>(write(handle, data.data(), data.size()));
  }
  if (file) {
    if (std::ftell(file) == 0) std::fputs(header.c_str(), file);
    std::fputs((data + "\n").c_str(), file);
    std::fflush(file);
  } else if (!quiet) {
    data += "\r\n";
    CtVar* port = sys_[SYS_DEST_RESULT_PORT];
    if (header != last_header_) {
      SendMessageW(port, Bytes(header), 0, 0, nullptr);
      last_header_ = header;
    }
    SendMessageW(port, Bytes(data), 0, 0, nullptr);
  }
  return 1;
}
