// The result line's layout: its columns are the nodes under "AppVar" marked TVAR_OPT_RESULT_VAR
// and "AppVar.Result" itself, in walk order (the global settings, the program and the serial
// ports excepted); a column whose bit (from bit 0, in walk order) is set in the mask is left out.
// The columns and the header are kept until the tree's layout changes, so a line costs only the
// formatting of its values. Callers hold the tree lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CtVar;

class ResultLineLayout {
 public:
  static constexpr uint32_t kFrame = 0x2;      // a frame number column first
  static constexpr uint32_t kTimeStamp = 0x4;  // then a time stamp column

  void SetMask(uint64_t mask);
  // The quoted, comma-separated column names ending in "\r\n".
  const std::string& Header(CtVar* root, uint32_t flags);
  // Appends each column's value and ", ": "%4.3f" for numbers, the text of a text, "?" when the
  // column's own "Result" child holds 0 (its tool did not run); with result_names the "Result"
  // columns show "Ignore", "Pass", "Recycle" or "Reject".
  void AppendValues(CtVar* root, bool result_names, std::string* out);

 private:
  struct Column {
    CtVar* node;
    CtVar* result;  // its "Result" child, if any
    bool is_result;
  };
  void Refresh(CtVar* root);
  void Collect(CtVar* node, CtVar* app_var, uint32_t* bit);

  uint64_t mask_ = 0;
  bool valid_ = false;
  uint64_t layout_epoch_ = 0;
  CtVar* root_ = nullptr;
  CtVar* app_var_ = nullptr;
  std::vector<Column> columns_;
  bool header_valid_ = false;
  uint32_t header_flags_ = 0;
  std::string header_;
};
