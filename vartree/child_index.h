// Name index of a node's children, so that lookup does not grow with the number of siblings.
//
// Keys are the children's names, compared ASCII-case-insensitively; each key maps to the first
// child of that name in list order (names may repeat when children are appended blindly).
// The owner keeps it current: every link, unlink, rename and reorder is reported, with the
// owner itself passed along so the index need not store it.
//
// An open-addressing table of (hash, first child, count), held by value in the node: a lookup
// goes from the node straight to one slot and then to the child, which the caller visits next
// anyway.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

class CtVar;

class CtVarChildIndex {
 public:
  // Indexes are built for nodes with at least this many children.
  static constexpr uint32_t kMinChildren = 8;

  // The hash a name is filed under: FNV-1a over the bytes with bit 0x20 set, so that "A" and "a"
  // (and a few punctuation pairs, which the name comparison tells apart) hash alike. HashStep
  // folds in one more byte, for callers that hash while they scan.
  static constexpr uint32_t kHashSeed = 2166136261u;
  static uint32_t HashStep(uint32_t h, char c) {
    return (h ^ (static_cast<unsigned char>(c) | 0x20u)) * 16777619u;
  }
  static uint32_t Hash(std::string_view name) {
    uint32_t h = kHashSeed;
    for (char c : name) h = HashStep(h, c);
    return h;
  }

  bool Active() const { return slots_ != nullptr; }
  // (Re)builds the index over parent's current children.
  void Build(const CtVar* parent);

  CtVar* Find(std::string_view name) const { return Find(name, Hash(name)); }
  CtVar* Find(std::string_view name, uint32_t hash) const;  // hash: Hash(name)
  void Added(const CtVar* parent, CtVar* child);
  // Before child leaves the list or changes its name.
  void Removed(const CtVar* parent, CtVar* child);
  // The children's order changed around child (its name may now be first elsewhere).
  void Reordered(const CtVar* parent, CtVar* child);

 private:
  struct Slot {
    CtVar* first = nullptr;  // null: empty slot
    uint32_t hash = 0;
    uint32_t count = 0;  // children carrying this name
  };

  // The slot holding name, or the empty slot where it would go.
  uint32_t Locate(std::string_view name, uint32_t hash) const;
  void Erase(uint32_t slot);
  void Resize(uint32_t size);
  // Re-finds the first child named like slot's key in parent's list, passing over skip.
  static void Rescan(const CtVar* parent, Slot& slot, const CtVar* skip);

  std::unique_ptr<Slot[]> slots_;  // a power of two in size, at most three quarters full
  uint32_t mask_ = 0;              // size - 1
  uint32_t used_ = 0;
};
