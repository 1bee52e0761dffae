#include "vartree/tvar_seams.h"

#include <mutex>
#include <vector>

namespace {
std::mutex& DestsMutex() {
  static std::mutex mu;
  return mu;
}
std::vector<XTVarDests*>& LiveDests() {
  static std::vector<XTVarDests*> live;
  return live;
}
}  // namespace

XTVarDests::XTVarDests() {
  std::lock_guard<std::mutex> guard(DestsMutex());
  LiveDests().push_back(this);
}

XTVarDests::~XTVarDests() {
  std::lock_guard<std::mutex> guard(DestsMutex());
  auto& live = LiveDests();
  std::erase(live, this);
}

XTVarDests* XTVarDests::Current() {
  std::lock_guard<std::mutex> guard(DestsMutex());
  auto& live = LiveDests();
  return live.empty() ? nullptr : live.back();
}
