#include <unistd.h>

#include <ctime>
#include <functional>

#include "dests/app_dests.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

// Branches that never hold result columns: the global settings, the program, the serial ports.
bool SkippedBranch(std::string_view name) {
  return name == "Global" || port::EqualsNoCase(name, "Prog") ||
         (name.size() == 4 && port::EqualsNoCase(name.substr(0, 3), "com"));
}

std::string AfterFirstDot(const std::string& full_name) {
  const size_t dot = full_name.find('.');
  return dot == std::string::npos ? full_name : full_name.substr(dot + 1);
}

std::string_view TrimRight(std::string_view text, std::string_view chars) {
  const size_t end = text.find_last_not_of(chars);
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
}

}  // namespace

std::vector<CtVar*> CAppDests::ResultColumns() {
  std::vector<CtVar*> columns;
  CtVar* app_var = root_->GetChild("AppVar");
  if (!app_var || app_var == root_) return columns;
  uint32_t bit = 0;
  std::function<void(CtVar*)> walk = [&](CtVar* node) {
    for (CtVar* c = node->GetFirstChild(); c; c = c->GetNextSibling()) {
      if (SkippedBranch(c->NameView())) continue;
      if ((c->GetOptions() & TVAR_OPT_RESULT_VAR) || c->GetVarFullName(1) == "AppVar.Result") {
        const bool masked = bit < 64 && (column_mask_ >> bit) & 1;
        ++bit;
        if (!masked) columns.push_back(c);
      }
      walk(c);
    }
  };
  walk(app_var);
  return columns;
}

std::string CAppDests::GetAppDataFormat(uint32_t flags) {
  CtVarLock lock;
  std::string header = "\"";
  const char* separator = "\",\"";
  if (flags & kLineFrame) header += std::string("Frame Number") + separator;
  if (flags & kLineTimeStamp) header += std::string("TimeStamp") + separator;
  for (CtVar* column : ResultColumns()) {
    header += AfterFirstDot(column->GetVarFullName(1)) + separator;
  }
  header = std::string(TrimRight(header, "\""));
  return header + "\r\n";
}

std::string CAppDests::DataLine(bool to_file) {
  static const char* const kResultNames[] = {"Ignore", "Pass", "Recycle", "Reject"};
  std::string line;
  char item[400];
  for (CtVar* column : ResultColumns()) {
    CtVar* result = column->GetChild("Result");
    if (to_file && column->NameView() == "Result") {
      const double v = static_cast<double>(*column);
      const int r = v >= 0 && v <= 3 ? static_cast<int>(v) : 0;
      line += std::string(kResultNames[r]) + ", ";
    } else if (result && result != column && static_cast<double>(*result) == 0) {
      line += "?, ";
    } else if (column->GetStoredType() == OZK_TVAR_STRING) {
      line += column->GetValueStr() + ", ";
    } else {
      std::snprintf(item, sizeof(item), "%4.3f, ", static_cast<double>(*column));
      line += item;
    }
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
  std::string data = DataLine(to_file);
  if ((line_flags_ & kLineOnChange) && data == last_data_) return 0;
  last_data_ = data;
  const std::string header =
      GetAppDataFormat(line_flags_ | (to_file ? kLineFrame | kLineTimeStamp : 0));

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
