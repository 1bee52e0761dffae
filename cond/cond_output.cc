#include "cond/cond_output.h"

#include <cstring>
#include <unordered_map>

#include "cond/app_string.h"
#include "cond/cond_internal.h"
#include "cond/cond_seams.h"
#include "cond/escape.h"
#include "vartree/tvar.h"

namespace {
std::atomic<uint64_t> g_next_serial{1};
}

uint64_t cond::NewSerial() {
  return g_next_serial.fetch_add(1, std::memory_order_relaxed);
}

CCondOutput::CCondOutput(CtVar* root, CAppString* strings)
    : root_(root),
      app_var_(root ? &(*root)["AppVar"] : nullptr),
      equation_tree_(root ? &(*root)["EquationTree"] : nullptr),
      strings_(strings),
      serial_(cond::NewSerial()),
      cache_generation_(cond::NewSerial()) {
  if (!strings_ && root_) {
    own_strings_ = std::make_unique<CAppString>(root_, nullptr, nullptr);
    strings_ = own_strings_.get();
  }
}

CCondOutput::~CCondOutput() {
  if (print_queue_exists_) FlushPrintQueue();
}

namespace {
// One position per object and thread; MakeCondTerms saves and restores it around a parse so
// that an index expression can be parsed in the middle of an outer line.
thread_local std::unordered_map<uint64_t, char*> t_positions;
}  // namespace

char*& CCondOutput::TokenPosition() {
  return t_positions[serial_];
}

void CCondOutput::RestoreTokenPosition(char* saved) {
  // An idle position is dropped so that objects long gone leave nothing behind in the thread.
  if (saved) {
    t_positions[serial_] = saved;
  } else {
    t_positions.erase(serial_);
  }
}

char* CCondOutput::strtok(char* text, const char* delimiters) {
  char*& pos = TokenPosition();
  char* s = text ? text : pos;
  if (!s) return nullptr;
  s += std::strspn(s, delimiters);
  if (!*s) {
    pos = nullptr;
    return nullptr;
  }
  char* end = s + std::strcspn(s, delimiters);
  if (*end) {
    *end = '\0';
    pos = end + 1;
  } else {
    pos = nullptr;
  }
  return s;
}

void CCondOutput::AddPrintQueueStr(const char* text) {
  if (!text) return;
  const size_t len = std::strlen(text);
  if (print_queue_.size() + len + 1 >= kPrintQueueLimit) return;
  print_queue_.append(text, len);
  print_queue_exists_ = true;
}

void CCondOutput::FlushPrintQueue() {
  if (!print_queue_exists_) return;
  const std::string document = DecodeEscapes(print_queue_);
  print_queue_.clear();
  print_queue_exists_ = false;
  XCondPrinter::Get().PrintDocument(document);
}

int CCondOutput::InvokeFunction(const char* name, CtVar* parameters, unsigned long timeout_ms) {
  if (!name) return 0;
  return XCondFunctionRunner::Get().InvokeFunction(name, parameters,
                                                   static_cast<uint32_t>(timeout_ms));
}
