// Arbitrary lines through the tokenizer and the syntax check.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cond/cond_output.h"
#include "vartree/tvar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CtVar* root = new CtVar();
  static CCondOutput* cond = new CCondOutput(root);
  const std::string line(reinterpret_cast<const char*>(data), size);
  std::string work = line.c_str();  // lines end at their first zero byte
  OZK_COND_TERM terms[kCondMaxTerms];
  const unsigned long n = cond->MakeCondTerms(work.data(), terms, cond->AppVar(), nullptr, 1);
  if (n > static_cast<unsigned long>(kCondMaxTerms)) __builtin_trap();
  for (unsigned long i = 0; i < n; ++i) {
    if (std::char_traits<char>::length(terms[i].name) >= sizeof(terms[i].name)) __builtin_trap();
  }
  cond->EquationSyntaxCheck(line.c_str());
  std::string target, expression, condition;
  CCondOutput::GetEquationParts(line.c_str(), &target, &expression, &condition);
  CCondOutput::EquationValidChars(line.c_str(), nullptr);
  CCondOutput::LeftValueOK(line.c_str(), nullptr);
  // Keep the tree small: names typed by the fuzzer are created by binding.
  if (CtVar::LiveCount() > 2000) cond->AppVar()->RemoveAllChildren();
  return 0;
}
