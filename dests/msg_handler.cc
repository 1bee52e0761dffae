#include "dests/msg_handler.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "dests/app_dests.h"
#include "dests/connection.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {
constexpr int kIdleMs = 200;
constexpr int kLinePauseMs = 100;
constexpr size_t kDiscardChunk = 1024;
}  // namespace

CMsgHandler::CMsgHandler(CAppDests* dests, CtVar* dest, char terminator)
    : dests_(dests), dest_(dest), terminator_(terminator) {
  dest_->AddRef();
  thread_ = std::thread(&CMsgHandler::Run, this);
}

CMsgHandler::~CMsgHandler() {
  {
    std::lock_guard<std::mutex> guard(mu_);
    stop_ = true;
  }
  stop_cv_.notify_all();
  // A read blocked inside the connection is released by its cancel operation.
  if (CConnection* conn = dests_->GetConn(dest_, nullptr)) conn->Cancel();
  if (thread_.joinable()) thread_.join();
  dest_->Release(1, 0, 0);
}

bool CMsgHandler::WaitStop(int ms) {
  std::unique_lock<std::mutex> guard(mu_);
  return stop_cv_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return stop_; });
}

int CMsgHandler::Receive(uint8_t* buffer, size_t size) {
  return dests_->RecvMessage(dest_, std::span<uint8_t>(buffer, size), static_cast<uint32_t>(size),
                             0, 0, nullptr);
}

void CMsgHandler::Run() {
  if (terminator_) {
    RunText();
  } else {
    RunFramed();
  }
}

// ---- Text mode ----

void CMsgHandler::RunText() {
  for (;;) {
    char buffer[kMaxLine + 1] = {};
    size_t used = 0;
    auto line_ended = [&] {
      return std::memchr(buffer, terminator_, used) || std::memchr(buffer, '\r', used) ||
             used >= kMaxLine;
    };
    while (!line_ended()) {
      const int n = Receive(reinterpret_cast<uint8_t*>(buffer) + used, kMaxLine - used);
      if (n > 0) {
        used += static_cast<size_t>(std::min<int>(n, static_cast<int>(kMaxLine - used)));
        continue;
      }
      SendEvents();
      if (WaitStop(kIdleMs)) return;
    }
    HandleLine(std::string(buffer, used));
    if (WaitStop(kLinePauseMs)) return;
  }
}

void CMsgHandler::HandleLine(std::string line) {
  if (line.size() > kMaxLine) line.resize(kMaxLine);  // what the thread's buffer holds
  if (line == "\r\n" || line == "\n") {
    const uint8_t crlf[] = {'\r', '\n'};
    dests_->SendMessageW(dest_, crlf, 0, 0, nullptr);
    return;
  }
  const size_t end = line.find(terminator_);
  if (end != std::string::npos) line.resize(end);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
    line.pop_back();
  }

  OzkMsgFunc match;
  std::string argument;
  {
    std::lock_guard<std::mutex> guard(mu_);
    if (line == "!") {
      line = last_command_;
    } else {
      last_command_ = line;
    }
    const size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    argument = space == std::string::npos ? std::string() : line.substr(space + 1);
    for (const OzkMsgFunc& f : funcs_) {
      if (!f.in_use) continue;
      if (port::EqualsNoCase(f.name, command)) {
        match = f;
        break;
      }
      if (f.prefix && line.size() >= f.name.size() &&
          port::EqualsNoCase(line.substr(0, f.name.size()), f.name)) {
        match = f;
        argument = line.substr(f.name.size());
        break;
      }
    }
  }
  if (!match.callback) return;
  OzkMsgCall call{this, match.prefix ? match.name.c_str() : line.c_str(), match.prefix};
  match.callback(dests_, dest_, argument.c_str(), match.context ? match.context : &call);
}

void CMsgHandler::SendEvents() {
  for (;;) {
    std::string text;
    {
      std::lock_guard<std::mutex> guard(mu_);
      if (event_read_ == event_write_) return;
      text = std::move(events_[event_read_]);
      event_read_ = (event_read_ + 1) % events_.size();
    }
    dests_->SendMessageW(
        dest_, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
        0, 0, nullptr);
    if (CConnection* conn = dests_->GetConn(dest_, nullptr)) conn->QueuedMessageNotice(dest_, 0);
  }
}

int CMsgHandler::AddEventMsg(const char* text) {
  if (!text || strnlen(text, kMaxEventText + 1) > kMaxEventText) return 0;
  {
    std::lock_guard<std::mutex> guard(mu_);
    const size_t next = (event_write_ + 1) % events_.size();
    if (next == event_read_) return 0;
    events_[event_write_] = text;
    event_write_ = next;
  }
  if (CConnection* conn = dests_->GetConn(dest_, nullptr)) conn->QueuedMessageNotice(dest_, 1);
  return 1;
}

// ---- Framed mode ----

void CMsgHandler::RunFramed() {
  uint8_t header[8];
  size_t have = 0;
  for (;;) {
    for (;;) {
      const int n = Receive(header + have, sizeof(header) - have);
      if (n <= 0) break;
      have += static_cast<size_t>(n);
      if (have < sizeof(header)) continue;
      have = 0;
      uint32_t id, length;
      std::memcpy(&id, header, 4);
      std::memcpy(&length, header + 4, 4);
      OzkMsgFunc match;
      {
        std::lock_guard<std::mutex> guard(mu_);
        for (const OzkMsgFunc& f : funcs_) {
          if (f.in_use && f.id == id) {
            match = f;
            break;
          }
        }
      }
      if (match.callback) {
        match.callback(dests_, dest_, &length, match.context);
        continue;
      }
      // Nobody wants this payload: drop it as it arrives, a piece at a time.
      uint8_t sink[kDiscardChunk];
      uint64_t left = length;
      while (left > 0) {
        const int got = Receive(sink, static_cast<size_t>(std::min<uint64_t>(left, sizeof(sink))));
        if (got > 0) {
          left -= static_cast<uint64_t>(got);
        } else if (WaitStop(kIdleMs)) {
          return;
        }
      }
    }
    if (WaitStop(kIdleMs)) return;
  }
}

// ---- Entries ----

OzkMsgFunc* CMsgHandler::FreeEntry() {
  for (OzkMsgFunc& f : funcs_) {
    if (!f.in_use) return &f;
  }
  return nullptr;
}

OzkMsgFunc* CMsgHandler::AddMessageFunc(uint32_t id, OzkMsgCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(mu_);
  OzkMsgFunc* f = FreeEntry();
  if (!f) return nullptr;
  *f = OzkMsgFunc{std::string(), id, callback, 0, context, true};
  return f;
}

OzkMsgFunc* CMsgHandler::AddMessageFunc(const char* name, OzkMsgCallback callback, void* context,
                                        int prefix) {
  if (!name) return nullptr;
  std::lock_guard<std::mutex> guard(mu_);
  OzkMsgFunc* f = FreeEntry();
  if (!f) return nullptr;
  *f = OzkMsgFunc{std::string(name, strnlen(name, 255)), 0, callback, prefix, context, true};
  return f;
}

int CMsgHandler::DelMessageFunc(uint32_t id) {
  std::lock_guard<std::mutex> guard(mu_);
  for (OzkMsgFunc& f : funcs_) {
    if (f.in_use && f.name.empty() && f.id == id) {
      f = OzkMsgFunc();
      return 1;
    }
  }
  return 0;
}

int CMsgHandler::DelMessageFunc(const char* name) {
  if (!name) return 0;
  std::lock_guard<std::mutex> guard(mu_);
  for (OzkMsgFunc& f : funcs_) {
    if (f.in_use && !f.name.empty() && port::EqualsNoCase(f.name, name)) {
      f = OzkMsgFunc();
      return 1;
    }
  }
  return 0;
}

std::string CMsgHandler::GetAttachVarName() {
  std::lock_guard<std::mutex> guard(mu_);
  return attach_var_name_;
}

void CMsgHandler::SetAttachVarName(std::string name) {
  std::lock_guard<std::mutex> guard(mu_);
  attach_var_name_ = std::move(name);
}

std::string CMsgHandler::LastCommand() {
  std::lock_guard<std::mutex> guard(mu_);
  return last_command_;
}
