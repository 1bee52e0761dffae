#include "vartree/child_index.h"

#include "platform/text.h"
#include "vartree/tvar.h"

size_t CtVarChildIndex::Hash::operator()(std::string_view s) const {
  // FNV-1a over the lower-cased bytes.
  uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= static_cast<unsigned char>(port::AsciiLower(c));
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

bool CtVarChildIndex::Equal::operator()(std::string_view a, std::string_view b) const {
  return port::EqualsNoCase(a, b);
}

CtVarChildIndex::CtVarChildIndex(CtVar* parent) : parent_(parent) {
  map_.reserve(parent->child_count_ * 2);
  for (CtVar* c = parent->first_child_; c; c = c->next_) {
    auto [it, inserted] = map_.try_emplace(c->NameView(), Entry{c, 1});
    if (!inserted) ++it->second.count;
  }
}

CtVar* CtVarChildIndex::Find(std::string_view name) const {
  auto it = map_.find(name);
  return it == map_.end() ? nullptr : it->second.first;
}

void CtVarChildIndex::Added(CtVar* child) {
  auto [it, inserted] = map_.try_emplace(child->NameView(), Entry{child, 1});
  if (inserted) return;
  ++it->second.count;
  Rescan(child->NameView(), nullptr);
}

void CtVarChildIndex::Removed(CtVar* child) {
  auto it = map_.find(child->NameView());
  if (it == map_.end()) return;
  if (--it->second.count == 0) {
    map_.erase(it);
  } else if (it->second.first == child) {
    Rescan(child->NameView(), child);
  }
}

void CtVarChildIndex::Reordered(CtVar* child) {
  auto it = map_.find(child->NameView());
  if (it != map_.end() && it->second.count > 1) Rescan(child->NameView(), nullptr);
}

void CtVarChildIndex::Rescan(std::string_view key, const CtVar* skip) {
  auto it = map_.find(key);
  if (it == map_.end()) return;
  const uint32_t count = it->second.count;
  map_.erase(it);
  for (CtVar* c = parent_->first_child_; c; c = c->next_) {
    if (c != skip && port::EqualsNoCase(c->NameView(), key)) {
      map_.emplace(c->NameView(), Entry{c, count});
      return;
    }
  }
}
