// User-visible messages. The library shows a few fixed texts (connection errors, questions);
// a host with a user interface installs a handler, otherwise the text goes to standard error
// and questions take their default answer.
#pragma once

#include <functional>
#include <string>

namespace port {

enum class MessageKind { kInformation, kWarning, kError, kQuestion };
enum class MessageAnswer { kOk, kYes, kNo };

using MessageBoxHandler = std::function<MessageAnswer(const std::wstring& text,
                                                      const std::wstring& title, MessageKind kind)>;

// Installs handler (an empty one restores the default); returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows text; for kQuestion the answer is the handler's, or kNo without one.
MessageAnswer ShowMessage(const std::wstring& text, const std::wstring& title, MessageKind kind);

}  // namespace port
