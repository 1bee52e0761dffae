#include "tools/velctl/eval_cmd.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "cond/cond_output.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace velctl {
namespace {

// One line on standard error, then a non-zero exit through CLI11.
[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "velctl: " << message << '\n';
  throw CLI::RuntimeError(1);
}

// Reads a tree file onto root: hexadecimal text when its first non-blank character is "[",
// else the binary form.
void ReadTree(const std::string& path, CtVar* root) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) Fail("cannot open tree file " + path + ": " + std::strerror(errno));
  int c;
  do {
    c = std::fgetc(file.get());
  } while (c == ' ' || c == '\t' || c == '\r' || c == '\n');
  const int mode = c == '[' ? OZK_TVAR_FILE_HEX : OZK_TVAR_FILE_BINARY;
  std::rewind(file.get());
  if (!root->ReadFile(file.get(), mode)) Fail("cannot read tree file " + path);
}

void Eval(const std::string& line, const std::string& tree_path) {
  CtVar root;
  if (!tree_path.empty()) ReadTree(tree_path, &root);
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
    if (Check(*check_line)) throw CLI::RuntimeError(1);
  });
}

}  // namespace velctl
