#include "link/result_csv_log.h"

#include "platform/paths.h"
#include "platform/text.h"

CResultCsvLog::~CResultCsvLog() {
  if (file_) std::fclose(file_);
}

int CResultCsvLog::Write(const std::string& name, std::string_view text,
                         const std::function<std::string()>& header) {
  if (name != name_) {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    name_ = name;
    std::string path = name;
    if (path.find('.') == std::string::npos) path += ".csv";
    file_ = std::fopen(port::MapLocalPath(port::Utf8ToWide(path)).c_str(), "a+");
    if (!file_) name_.clear();  // asked again with the next line
    if (file_ && header) {
      std::fseek(file_, 0, SEEK_END);
      if (std::ftell(file_) == 0) std::fputs(header().c_str(), file_);
    }
  }
  if (!file_) return 0;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
  return 1;
}
