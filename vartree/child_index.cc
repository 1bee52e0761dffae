#include "vartree/child_index.h"

#include "platform/text.h"
#include "vartree/tvar.h"

uint32_t CtVarChildIndex::Hash(std::string_view name) {
  // FNV-1a over the lower-cased bytes.
  uint32_t h = 2166136261u;
  for (char c : name) {
    h ^= static_cast<unsigned char>(port::AsciiLower(c));
    h *= 16777619u;
  }
  return h;
}

CtVarChildIndex::CtVarChildIndex(CtVar* parent) : parent_(parent) {
  size_t size = 16;
  while (size < parent->child_count_ * 2) size *= 2;
  slots_.resize(size);
  for (CtVar* c = parent->first_child_; c; c = c->next_) {
    const uint32_t h = Hash(c->NameView());
    Slot& s = slots_[Locate(c->NameView(), h)];
    if (s.first) {
      ++s.count;
    } else {
      s = Slot{c, h, 1};
      ++used_;
    }
  }
}

size_t CtVarChildIndex::Locate(std::string_view name, uint32_t hash) const {
  const size_t mask = slots_.size() - 1;
  size_t i = hash & mask;
  while (slots_[i].first &&
         !(slots_[i].hash == hash && port::EqualsNoCase(slots_[i].first->NameView(), name))) {
    i = (i + 1) & mask;
  }
  return i;
}

CtVar* CtVarChildIndex::Find(std::string_view name) const {
  return slots_[Locate(name, Hash(name))].first;
}

void CtVarChildIndex::Insert(CtVar* child, uint32_t hash) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  slots_[Locate(child->NameView(), hash)] = Slot{child, hash, 1};
  ++used_;
}

void CtVarChildIndex::Grow() {
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (!s.first) continue;
    size_t i = s.hash & mask;
    while (slots_[i].first) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

void CtVarChildIndex::Erase(size_t hole) {
  // Backward-shift deletion keeps every probe sequence unbroken without tombstones.
  const size_t mask = slots_.size() - 1;
  for (size_t j = (hole + 1) & mask; slots_[j].first; j = (j + 1) & mask) {
    const size_t home = slots_[j].hash & mask;
    const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = Slot{};
  --used_;
}

void CtVarChildIndex::Added(CtVar* child) {
  const uint32_t h = Hash(child->NameView());
  Slot& s = slots_[Locate(child->NameView(), h)];
  if (!s.first) {
    Insert(child, h);
    return;
  }
  ++s.count;
  Rescan(s, nullptr);
}

void CtVarChildIndex::Removed(CtVar* child) {
  const size_t i = Locate(child->NameView(), Hash(child->NameView()));
  Slot& s = slots_[i];
  if (!s.first) return;
  if (--s.count == 0) {
    Erase(i);
  } else if (s.first == child) {
    Rescan(s, child);
  }
}

void CtVarChildIndex::Reordered(CtVar* child) {
  Slot& s = slots_[Locate(child->NameView(), Hash(child->NameView()))];
  if (s.first && s.count > 1) Rescan(s, nullptr);
}

void CtVarChildIndex::Rescan(Slot& slot, const CtVar* skip) {
  const std::string_view key = slot.first->NameView();
  for (CtVar* c = parent_->first_child_; c; c = c->next_) {
    if (c != skip && port::EqualsNoCase(c->NameView(), key)) {
      slot.first = c;
      return;
    }
  }
}
