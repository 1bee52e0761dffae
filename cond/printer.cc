#include "cond/printer.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/paths.h"

namespace {
std::atomic<unsigned> g_sequence{0};
}

std::string CCondPrinter::SpoolFolder() {
  if (const char* spool = std::getenv("VEL_PRINT_SPOOL"); spool && *spool) return spool;
  return port::UserDataDir() + "/velappclient/spool";
}

int CCondPrinter::PrintDocument(std::string_view document) {
  if (const char* command = std::getenv("VEL_PRINT_COMMAND"); command && *command) {
    FILE* pipe = popen(command, "w");
    if (!pipe) return 0;
    const size_t written = std::fwrite(document.data(), 1, document.size(), pipe);
    const int status = pclose(pipe);
    return written == document.size() && status == 0 ? 1 : 0;
  }
  const std::filesystem::path folder = SpoolFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::string file = "print-" + std::to_string(static_cast<long long>(std::time(nullptr))) +
                           "-" + std::to_string(g_sequence.fetch_add(1)) + ".prn";
  FILE* out = std::fopen((folder / file).c_str(), "wb");
  if (!out) return 0;
  const size_t written = std::fwrite(document.data(), 1, document.size(), out);
  return std::fclose(out) == 0 && written == document.size() ? 1 : 0;
}
