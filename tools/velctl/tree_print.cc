#include "tools/velctl/tree_print.h"

#include <cstdio>

#include "vartree/tvar.h"

namespace velctl {
namespace {

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string ShowValue(CtVar& node) {
  switch (node.GetStoredType()) {
    case OZK_TVAR_STRING: {
      const std::string text = node.GetValueStr();
      return Quote(text);
    }
    case OZK_TVAR_DATA: {
      uint32_t size = 0;
      node.GetData(&size);
      return "<data " + std::to_string(size) + " bytes>";
    }
    case OZK_TVAR_DEST:
      return "<attached " + node.GetValueStr() + ">";
    case OZK_TVAR_NONE:
      return "<branch>";
    default:
      return node.GetValueStr();
  }
}

void PrintTree(CtVar& node, int depth, std::ostream& out) {
  for (CtVar* c = node.GetFirstChild(); c; c = c->GetNextSibling()) {
    out << std::string(2 * depth, ' ') << c->NameView() << " = " << ShowValue(*c) << '\n';
    PrintTree(*c, depth + 1, out);
  }
}

nlohmann::json ValueJson(CtVar& node) {
  switch (node.GetStoredType()) {
    case OZK_TVAR_DOUBLE:
      return static_cast<double>(node);
    case OZK_TVAR_NONE:
      return nullptr;
    case OZK_TVAR_STRING:
      return node.GetValueStr();
    default:
      return ShowValue(node);
  }
}

nlohmann::json TreeJson(CtVar& node) {
  nlohmann::json children = nlohmann::json::array();
  for (CtVar* c = node.GetFirstChild(); c; c = c->GetNextSibling()) {
    nlohmann::json entry = {{"name", std::string(c->NameView())}, {"value", ValueJson(*c)}};
    if (c->GetFirstChild()) entry["children"] = TreeJson(*c);
    children.push_back(std::move(entry));
  }
  return children;
}

}  // namespace velctl
