// CLumMsg: a message of the server link, a 32-bit id and an ordered list of typed values.
//
// Add copies the variant (the caller may destroy its own right after); Get returns the variant
// at an index below Size. Get with an index out of range returns a shared empty variant rather
// than touching memory it does not own, so a short message from a peer reads as zeros.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "netmsg/lum_variant.h"

class CLumMsg {
 public:
  explicit CLumMsg(int32_t id = 0) : id_(id) {}

  void SetId(int32_t id) { id_ = id; }
  int32_t GetId() const { return id_; }
  void Add(const CLumVariant& v) { values_.push_back(v); }
  void Add(CLumVariant&& v) { values_.push_back(std::move(v)); }
  CLumVariant& Get(int index);
  const CLumVariant& Get(int index) const;
  int Size() const { return static_cast<int>(values_.size()); }
  void Clear() { values_.clear(); }

  bool operator==(const CLumMsg&) const = default;

 private:
  int32_t id_;
  std::vector<CLumVariant> values_;
};
