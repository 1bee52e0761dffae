#include "dests/result_line.h"

#include <algorithm>

#include "platform/format.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

// Branches that never hold result columns: the global settings, the program, the serial ports.
bool SkippedBranch(std::string_view name) {
  return name == "Global" || port::EqualsNoCase(name, "Prog") ||
         (name.size() == 4 && port::EqualsNoCase(name.substr(0, 3), "com"));
}

CtVar* ChildNamed(CtVar* node, std::string_view name) {
  for (CtVar* c = node->GetFirstChild(); c; c = c->GetNextSibling()) {
    if (c->NameView() == name) return c;
  }
  return nullptr;
}

// The dotted path of node below top.
void AppendPathBelow(CtVar* top, CtVar* node, std::string* out) {
  CtVar* parent = node->GetParent();
  if (parent && parent != top) {
    AppendPathBelow(top, parent, out);
    *out += '.';
  }
  *out += node->NameView();
}

// printf's "%4.3f" and the separator, appended at once (the width only ever pads the texts of
// infinities and NaN).
void AppendNumberColumn(double value, std::string* out) {
  constexpr int kWidth = 4;
  char text[kWidth + port::kFixedTextMax + 2];
  char* end = port::FormatFixed(value, 3, text + kWidth);
  const char* start = std::min(text + kWidth, end - kWidth);
  std::fill(text, text + kWidth, ' ');
  *end++ = ',';
  *end++ = ' ';
  out->append(start, static_cast<size_t>(end - start));
}

}  // namespace

void ResultLineLayout::SetMask(uint64_t mask) {
  mask_ = mask;
  valid_ = false;
}

void ResultLineLayout::Refresh(CtVar* root) {
  if (valid_ && root == root_ && layout_epoch_ == CtVar::LayoutEpoch()) return;
  layout_epoch_ = CtVar::LayoutEpoch();
  root_ = root;
  columns_.clear();
  header_valid_ = false;
  app_var_ = root->GetChild("AppVar");
  if (app_var_ == root) app_var_ = nullptr;
  uint32_t bit = 0;
  if (app_var_) Collect(app_var_, app_var_, &bit);
  valid_ = true;
}

// Depth first, in child order; every column takes the next mask bit, shown or not.
void ResultLineLayout::Collect(CtVar* node, CtVar* app_var, uint32_t* bit) {
  for (CtVar* c = node->GetFirstChild(); c; c = c->GetNextSibling()) {
    if (SkippedBranch(c->NameView())) continue;
    const bool is_result = c->NameView() == "Result";
    if ((node == app_var && is_result) || (c->GetOptions() & TVAR_OPT_RESULT_VAR)) {
      const bool masked = *bit < 64 && (mask_ >> *bit) & 1;
      ++*bit;
      if (!masked) columns_.push_back({c, ChildNamed(c, "Result"), is_result});
    }
    Collect(c, app_var, bit);
  }
}

const std::string& ResultLineLayout::Header(CtVar* root, uint32_t flags) {
  Refresh(root);
  if (header_valid_ && header_flags_ == flags) return header_;
  static constexpr std::string_view kSeparator = "\",\"";
  header_.assign(1, '"');
  if (flags & kFrame) header_.append("Frame Number").append(kSeparator);
  if (flags & kTimeStamp) header_.append("TimeStamp").append(kSeparator);
  for (const Column& column : columns_) {
    AppendPathBelow(app_var_, column.node, &header_);
    header_.append(kSeparator);
  }
  const size_t end = header_.find_last_not_of('"');
  header_.resize(end == std::string::npos ? 0 : end + 1);
  header_ += "\r\n";
  header_valid_ = true;
  header_flags_ = flags;
  return header_;
}

void ResultLineLayout::AppendValues(CtVar* root, bool result_names, std::string* out) {
  static const char* const kResultNames[] = {"Ignore", "Pass", "Recycle", "Reject"};
  Refresh(root);
  for (const Column& column : columns_) {
    CtVar* node = column.node;
    if (result_names && column.is_result) {
      const double v = static_cast<double>(*node);
      *out += kResultNames[v >= 0 && v <= 3 ? static_cast<int>(v) : 0];
    } else if (column.result && static_cast<double>(*column.result) == 0) {
      *out += '?';
    } else if (node->GetStoredType() == OZK_TVAR_STRING) {
      *out += node->GetValueStr();
    } else {
      AppendNumberColumn(static_cast<double>(*node), out);
      continue;
    }
    *out += ", ";
  }
}
