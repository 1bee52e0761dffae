// velctl tree: show and convert tree files.
#include <iostream>
#include <memory>
#include <string>

#include "platform/text.h"
#include "tools/velctl/commands.h"
#include "tools/velctl/tree_file.h"
#include "tools/velctl/tree_print.h"
#include "vartree/tvar.h"

namespace velctl {

void AddTreeCommands(CLI::App& app) {
  CLI::App* tree = app.add_subcommand(
      "tree", "The connected appliance's variable tree [below PATH]; or show/convert tree files");
  tree->require_subcommand(0, 1);
  auto path = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  tree->add_option("PATH", *path, "Dotted path of the branch to show");
  tree->add_flag("--json", *json, "Print one JSON document");
  tree->callback([tree, path, json] {
    if (tree->get_subcommands().empty()) ShowRemoteTree(*path, *json);
  });

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
