#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

#include "platform/text.h"

namespace port {
namespace {

std::mutex& HandlerMutex() {
  static std::mutex mu;
  return mu;
}

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> guard(HandlerMutex());
  MessageBoxHandler previous = std::move(Handler());
  Handler() = std::move(handler);
  return previous;
}

MessageAnswer ShowMessage(const std::wstring& text, const std::wstring& title, MessageKind kind) {
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> guard(HandlerMutex());
    handler = Handler();
  }
  if (handler) return handler(text, title, kind);
  std::fprintf(stderr, "%s: %s\n", WideToUtf8(title).c_str(), WideToUtf8(text).c_str());
  return kind == MessageKind::kQuestion ? MessageAnswer::kNo : MessageAnswer::kOk;
}

}  // namespace port
