// The message handler's text commands on arbitrary lines: the input is cut the way the handler
// thread cuts what it receives (at the terminator, a carriage return or 255 characters) and
// every piece is handled. A callback sees an argument that is part of its line and at most 255
// characters long; "!" repeats without ever growing the remembered command.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dests/app_dests.h"
#include "dests/msg_handler.h"
#include "vartree/tvar.h"

namespace {

void Check(CAppDests*, CtVar*, const void* arg, void* context) {
  const char* text = static_cast<const char*>(arg);
  if (!text || std::strlen(text) > CMsgHandler::kMaxLine) std::abort();
  ++*static_cast<int*>(context);
}

void CheckCall(CAppDests*, CtVar*, const void* arg, void* context) {
  const auto* call = static_cast<const OzkMsgCall*>(context);
  if (!call || !call->handler || !call->line || !arg) std::abort();
  if (std::strlen(call->line) > CMsgHandler::kMaxLine) std::abort();
}

struct Fixture {
  Fixture() {
    dest = dests.AddDest(1, kUnsetPort, nullptr, 0, 0);  // no link: answers go nowhere
    handler = dests.CreateMessageHandler(dest, '\n');
    handler->AddMessageFunc("TRIG", Check, &calls, 0);
    handler->AddMessageFunc("SET", Check, &calls, 1);
    handler->AddMessageFunc("", Check, &calls, 1);
    handler->AddMessageFunc("GET", CheckCall, nullptr, 0);
    handler->AddMessageFunc("G", CheckCall, nullptr, 1);
  }
  CtVar root;
  CAppDests dests{&root};
  CtVar* dest = nullptr;
  CMsgHandler* handler = nullptr;
  int calls = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* f = new Fixture;
  const char* text = reinterpret_cast<const char*>(data);
  size_t at = 0;
  while (at < size) {
    size_t end = at;
    while (end < size && end - at < CMsgHandler::kMaxLine && text[end] != '\n' && text[end] != '\r')
      ++end;
    if (end < size && (text[end] == '\n' || text[end] == '\r')) ++end;  // with its line end
    f->handler->HandleLine(std::string(text + at, end - at));
    if (f->handler->LastCommand().size() > CMsgHandler::kMaxLine) std::abort();
    at = end;
  }
  return 0;
}
