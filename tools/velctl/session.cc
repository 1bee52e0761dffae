#include "tools/velctl/session.h"

#include <algorithm>
#include <cstdlib>

#include "platform/message_box.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace velctl {

SessionOptions& Options() {
  static SessionOptions options;
  return options;
}

ClientPtr OpenSession() {
  // The session's messages become the error line; questions are answered "no".
  auto last = std::make_shared<std::wstring>();
  port::SetMessageBoxHandler(
      [last](const std::wstring& text, const std::wstring& title, port::MessageKind) {
        *last = title + L": " + text;
        return port::MessageAnswer::kNo;
      });
  const std::wstring host = port::Utf8ToWide(Options().host);
  ClientPtr client(OzkConnectToVelServer(host.c_str(), Options().mode),
                   [](CVelAppClient* c) { OzkDeleteAppClient(c, 0); });
  port::SetMessageBoxHandler(nullptr);
  if (!client) {
    std::string reason = port::WideToUtf8(*last);
    for (char& c : reason) {
      if (c == '\t' || c == '\n') c = ' ';
    }
    throw CommandError("cannot connect to " + Options().host +
                       (reason.empty() ? std::string() : " (" + reason + ")"));
  }
  return client;
}

CtVar& SyncedRoot(CVelAppClient& client) {
  CtVar* root = client.GetRootTVar();
  if (!root) throw CommandError("the session has no variable tree");
  if (root->GetRpc() && !root->ReadTreeRemote())
    throw CommandError("cannot read the variable tree from " + Options().host);
  return *root;
}

CtVar& ExistingVar(CtVar& root, const std::string& path) {
  // Walks the copy at hand: a lookup through the tree would create a mirror's missing nodes.
  CtVar* node = &root;
  size_t start = 0;
  while (node && start <= path.size()) {
    const size_t end = std::min(path.find('.', start), path.size());
    const std::string_view name(path.data() + start, end - start);
    CtVar* child = node->GetFirstChild();
    while (child && !port::EqualsNoCase(child->NameView(), name)) child = child->GetNextSibling();
    node = child;
    start = end + 1;
  }
  if (!node || path.empty()) throw CommandError("no variable " + path);
  return *node;
}

bool ParseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end && *end == '\0';
}

void AssignText(CtVar& node, const std::string& text) {
  double number;
  if (ParseNumber(text, &number)) {
    node = number;
  } else {
    node = text;
  }
}

}  // namespace velctl
