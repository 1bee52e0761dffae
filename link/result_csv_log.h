// CResultCsvLog: the result log the server asks the client to keep (message 20583). One file is
// open at a time, for appending; a new file that is empty gets a header line first.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

class CResultCsvLog {
 public:
  CResultCsvLog() = default;
  ~CResultCsvLog();
  CResultCsvLog(const CResultCsvLog&) = delete;
  CResultCsvLog& operator=(const CResultCsvLog&) = delete;

  // name: a local path as the server gives it; ".csv" is appended when it has no ".". When it
  // differs from the open file's name, that file is closed and this one opened; header, when
  // given, is asked for a file that is still empty. Then text is written unchanged and flushed.
  // 1 when written.
  int Write(const std::string& name, std::string_view text,
            const std::function<std::string()>& header);
  const std::string& Name() const { return name_; }

 private:
  std::FILE* file_ = nullptr;
  std::string name_;
};
