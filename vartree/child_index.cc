#include "vartree/child_index.h"

#include "platform/text.h"
#include "vartree/tvar.h"

void CtVarChildIndex::Build(const CtVar* parent) {
  uint32_t size = 16;
  while (size * 3 < parent->child_count_ * 4) size *= 2;
  slots_ = std::make_unique<Slot[]>(size);
  mask_ = size - 1;
  used_ = 0;
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

inline uint32_t CtVarChildIndex::Locate(std::string_view name, uint32_t hash) const {
  uint32_t i = hash & mask_;
  while (slots_[i].first &&
         !(slots_[i].hash == hash && port::EqualsNoCase(slots_[i].first->NameView(), name))) {
    i = (i + 1) & mask_;
  }
  return i;
}

CtVar* CtVarChildIndex::Find(std::string_view name, uint32_t hash) const {
  return slots_[Locate(name, hash)].first;
}

void CtVarChildIndex::Resize(uint32_t size) {
  std::unique_ptr<Slot[]> old = std::move(slots_);
  const uint32_t old_size = mask_ + 1;
  slots_ = std::make_unique<Slot[]>(size);
  mask_ = size - 1;
  for (uint32_t k = 0; k < old_size; ++k) {
    if (!old[k].first) continue;
    uint32_t i = old[k].hash & mask_;
    while (slots_[i].first) i = (i + 1) & mask_;
    slots_[i] = old[k];
  }
}

void CtVarChildIndex::Erase(uint32_t hole) {
  // Backward-shift deletion keeps every probe sequence unbroken without tombstones.
  for (uint32_t j = (hole + 1) & mask_; slots_[j].first; j = (j + 1) & mask_) {
    const uint32_t home = slots_[j].hash & mask_;
    const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      slots_[hole] = slots_[j];
      hole = j;
    }
  }
  slots_[hole] = Slot{};
  --used_;
}

void CtVarChildIndex::Added(const CtVar* parent, CtVar* child) {
  const uint32_t h = Hash(child->NameView());
  Slot& s = slots_[Locate(child->NameView(), h)];
  if (s.first) {
    ++s.count;
    Rescan(parent, s, nullptr);
    return;
  }
  if ((used_ + 1) * 4 > (mask_ + 1) * 3) {
    Resize((mask_ + 1) * 2);
    slots_[Locate(child->NameView(), h)] = Slot{child, h, 1};
  } else {
    s = Slot{child, h, 1};
  }
  ++used_;
}

void CtVarChildIndex::Removed(const CtVar* parent, CtVar* child) {
  const uint32_t i = Locate(child->NameView(), Hash(child->NameView()));
  Slot& s = slots_[i];
  if (!s.first) return;
  if (--s.count == 0) {
    Erase(i);
  } else if (s.first == child) {
    Rescan(parent, s, child);
  }
}

void CtVarChildIndex::Reordered(const CtVar* parent, CtVar* child) {
  Slot& s = slots_[Locate(child->NameView(), Hash(child->NameView()))];
  if (s.first && s.count > 1) Rescan(parent, s, nullptr);
}

void CtVarChildIndex::Rescan(const CtVar* parent, Slot& slot, const CtVar* skip) {
  const std::string_view key = slot.first->NameView();
  for (CtVar* c = parent->first_child_; c; c = c->next_) {
    if (c != skip && port::EqualsNoCase(c->NameView(), key)) {
      slot.first = c;
      return;
    }
  }
}
