// velctl eval and check: evaluate an expression line against a tree file, or print the
// syntax-check messages of a line.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "cond/cond_output.h"
#include "platform/text.h"
#include "tools/velctl/commands.h"
#include "tools/velctl/tree_file.h"
#include "vartree/tvar.h"

namespace velctl {
namespace {

void Eval(const std::string& line, const std::string& tree_path) {
  CtVar root;
  if (!tree_path.empty()) ReadTreeFile(tree_path, TreeFileForm::kAuto, &root);
  CCondOutput cond(&root);
  OZK_EQ_RESULT result;
  std::memset(&result, 0, sizeof result);
  const double value = cond.EvalCondition(line.c_str(), &result);
  if (result.text[0] != '\0' || line.c_str()[0] == '"') {
    std::cout << result.text << '\n';
  } else {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::cout << buf << '\n';
  }
}

int Check(const std::string& line) {
  CtVar root;
  CCondOutput cond(&root);
  const std::wstring messages = cond.EquationSyntaxCheck(line.c_str());
  if (messages.empty()) {
    std::cout << "OK\n";
    return 0;
  }
  std::cout << port::WideToUtf8(messages) << '\n';
  return 1;
}

}  // namespace

void AddEvalCommands(CLI::App& app) {
  auto* eval =
      app.add_subcommand("eval", "Evaluate an expression line and print its value or text");
  auto line = std::make_shared<std::string>();
  auto tree = std::make_shared<std::string>();
  eval->add_option("expression", *line, "the expression line")->required();
  eval->add_option("--tree", *tree, "tree file (binary or hexadecimal text) to evaluate against");
  eval->callback([line, tree] { Eval(*line, *tree); });

  auto* check = app.add_subcommand("check", "Print the syntax-check messages of a line");
  auto check_line = std::make_shared<std::string>();
  check->add_option("line", *check_line, "the line to check")->required();
  check->callback([check_line] {
    if (Check(*check_line)) throw CommandFailed{};
  });
}

}  // namespace velctl
