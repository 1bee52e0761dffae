// velctl tree: show and convert tree files.
#include <iostream>
#include <memory>
#include <string>

#include "platform/text.h"
#include "tools/velctl/commands.h"
#include "tools/velctl/tree_file.h"
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

}  // namespace

void AddTreeCommands(CLI::App& app) {
  CLI::App* tree = app.add_subcommand("tree", "Show and convert variable tree files");
  tree->require_subcommand(1);

  auto show_file = std::make_shared<std::string>();
  auto show_from = std::make_shared<std::string>("auto");
  CLI::App* show = tree->add_subcommand("show", "Print a tree file, one node a line");
  show->add_option("FILE", *show_file, "Tree file")->required();
  show->add_option("--from", *show_from, "Input form: auto, bin, hex or raw");
  show->callback([show_file, show_from] {
    CtVar root;
    root.SetOptions(TVAR_OPT_NO_DEST_REGISTER);
    ReadTreeFile(*show_file, ParseTreeFileForm(*show_from, true), &root);
    PrintTree(root, 0, std::cout);
  });

  auto in = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  auto to = std::make_shared<std::string>();
  auto from = std::make_shared<std::string>("auto");
  CLI::App* convert = tree->add_subcommand("convert", "Convert a tree file to another form");
  convert->add_option("IN", *in, "Input tree file")->required();
  convert->add_option("OUT", *out, "Output file")->required();
  convert->add_option("--to", *to, "Output form: bin, hex or raw")->required();
  convert->add_option("--from", *from, "Input form: auto, bin, hex or raw");
  convert->callback([in, out, to, from] {
    const TreeFileForm target = ParseTreeFileForm(*to, false);
    CtVar root;  // no display option: the records convert unchanged
    ReadTreeFile(*in, ParseTreeFileForm(*from, true), &root);
    WriteTreeFile(*out, target, &root);
  });
}

}  // namespace velctl
