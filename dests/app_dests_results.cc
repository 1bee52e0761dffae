#include <unistd.h>

#include <charconv>
#include <ctime>

#include "dests/app_dests.h"
#include "vartree/tvar.h"

namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
}

template <typename Integer>
void AppendInteger(Integer value, std::string* out) {
  char text[24];
  out->append(text, std::to_chars(text, text + sizeof(text), value).ptr);
}

}  // namespace

static_assert(CAppDests::kLineFrame == ResultLineLayout::kFrame &&
              CAppDests::kLineTimeStamp == ResultLineLayout::kTimeStamp);

std::string CAppDests::GetAppDataFormat(uint32_t flags) {
  CtVarLock lock;
  return result_line_.Header(root_, flags);
}

int CAppDests::SendAppDataFormat(CtVar* dest, uint32_t flags, uint64_t mask) {
  line_flags_ = flags;
  result_line_.SetMask(mask);
  return SendMessageW(dest, Bytes(GetAppDataFormat(flags)), 0, 0, nullptr);
}

int CAppDests::SendFormattedAppData(uint32_t frame, int64_t timestamp, FILE* file, int quiet,
                                    int handle) {
  CtVarLock lock;
  const bool to_file = file || quiet || handle >= 0;
  // Frame number, then the clock (file form) or the time stamp, then the values.
  std::string& line = line_text_;
  line.clear();
  if ((line_flags_ & kLineFrame) || to_file) {
    AppendInteger(frame, &line);
    line += ", ";
  }
  if (to_file) {
    char clock[16] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(clock, sizeof(clock), "%H:%M:%S", &local);
    line += clock;
    line += ", ";
  } else if (line_flags_ & kLineTimeStamp) {
    AppendInteger(timestamp, &line);
    line += ", ";
  }
  const size_t values_at = line.size();
  result_line_.AppendValues(root_, to_file, &line);
  const std::string_view values = std::string_view(line).substr(values_at);
  if ((line_flags_ & kLineOnChange) && values == last_values_) return 0;
  last_values_ = values;
  if (to_file) {
    const size_t end = values.find_last_not_of(", ");
    line.resize(values_at + (end == std::string_view::npos ? 0 : end + 1));
  }

  if (handle >= 0) {
    line += "\n";
    return static_cast<int>(write(handle, line.data(), line.size()));
  }
  if (file) {
    if (std::ftell(file) == 0)
      std::fputs(result_line_.Header(root_, line_flags_ | kLineFrame | kLineTimeStamp).c_str(),
                 file);
    line += "\n";
    std::fputs(line.c_str(), file);
    std::fflush(file);
  } else if (!quiet) {
    line += "\r\n";
    CtVar* port = sys_[SYS_DEST_RESULT_PORT];
    const std::string& header = result_line_.Header(root_, line_flags_);
    if (header != last_header_) {
      SendMessageW(port, Bytes(header), 0, 0, nullptr);
      last_header_ = header;
    }
    SendMessageW(port, Bytes(line), 0, 0, nullptr);
  }
  return 1;
}
