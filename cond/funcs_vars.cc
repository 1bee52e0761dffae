// Functions over arrays of variables: sorting and block copies.
#include <algorithm>
#include <array>
#include <string>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "cond/cond_seams.h"
#include "cond/op_table.h"
#include "vartree/tvar.h"

namespace {

constexpr int kMaxCopyCount = 32;

// Moves the right element's contents onto the left one and the saved left number onto the right.
void SwapElements(CtVar& array, int left, int right) {
  CtVar& l = array[left];
  CtVar& r = array[right];
  const double saved = static_cast<double>(l);
  l = r;
  r = saved;
}

bool IsElementName(std::string_view name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Where a variable's values start: element 0 of the variable itself, or, for an element, its own
// number within its parent.
CtVar* ArrayBase(CtVar* var, int* start) {
  *start = 0;
  if (IsElementName(var->NameView()) && var->GetParent() && var->NameView().size() < 10) {
    *start = std::stoi(std::string(var->NameView()));
    return var->GetParent();
  }
  return var;
}

}  // namespace

double CCondOutput::VarSort(CtVar& array, int ascending, CtVar* companions) {
  CtVarLock lock;
  const int n = array.GetArrayDimension();
  if (n < 2) return 0;
  std::vector<CtVar*> parallel;
  if (companions && app_var_) {
    for (CtVar* c = companions->GetFirstChild(); c; c = c->GetNextSibling()) {
      if (c->GetType() != OZK_TVAR_STRING) continue;
      const std::string name(cond::NodeText(*c));
      if (!name.empty()) parallel.push_back(&(*app_var_)[std::string_view(name)]);
    }
  }
  for (int i = 1; i < n; ++i) {
    for (int j = i; j > 0; --j) {
      const double l = static_cast<double>(array[j - 1]);
      const double r = static_cast<double>(array[j]);
      if (!(ascending ? l > r : l < r)) break;
      SwapElements(array, j - 1, j);
      for (CtVar* other : parallel) SwapElements(*other, j - 1, j);
    }
  }
  return 0;
}

double CCondOutput::VarCopy(const OZK_COND_TERM* source, const OZK_COND_TERM* destination,
                            int count) {
  if (!source || !destination || !source->variable || !destination->variable) return 0;
  const int n = std::clamp(count, 0, kMaxCopyCount);
  if (n == 0) return 0;
  CtVarLock lock;
  std::array<double, kMaxCopyCount> values{};
  const std::span<double> block(values.data(), n);

  std::string dest;
  uint32_t reg = 0;
  CtVar* src = source->variable;
  if (src->IsAttachedToDest(&dest, &reg)) {
    if (!XCondRegisters::Get().ReadRegisters(dest.c_str(), reg, block, src)) return 0;
  } else {
    int start = 0;
    CtVar* base = ArrayBase(src, &start);
    for (int i = 0; i < n; ++i) values[i] = static_cast<double>((*base)[start + i]);
  }

  CtVar* dst = destination->variable;
  if (dst->IsAttachedToDest(&dest, &reg)) {
    XCondRegisters::Get().WriteRegisters(dest.c_str(), reg, block, dst);
  } else {
    int start = 0;
    CtVar* base = ArrayBase(dst, &start);
    for (int i = 0; i < n; ++i) (*base)[start + i] = values[i];
  }
  return 0;
}

bool CCondOutput::VarFunction(OZK_COND_TERM* out, OZK_OP_TYPE code,
                              std::span<const OZK_COND_TERM> args) {
  cond::SetNumber(out, 0);
  switch (code) {
    case FN_SORT:
      if (args.size() == 3 && args[0].variable) {
        VarSort(*args[0].variable, args[1].value != 0 ? 1 : 0, args[2].variable);
      }
      return true;
    case FN_COPY:
      if (args.size() == 3) VarCopy(&args[0], &args[1], cond::ToInt32(args[2].value));
      return true;
    default:
      return false;
  }
}
