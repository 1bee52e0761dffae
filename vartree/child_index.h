// Name index of a node's children, so that lookup does not grow with the number of siblings.
//
// Keys are the children's names, compared ASCII-case-insensitively; each key maps to the first
// child of that name in list order (names may repeat when children are appended blindly).
// The owner keeps it current: every link, unlink, rename and reorder is reported.
//
// An open-addressing table of (hash, first child, count): a lookup touches one slot and then
// the child itself, which the caller visits next anyway.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class CtVar;

class CtVarChildIndex {
 public:
  // Builds the index over parent's current children.
  explicit CtVarChildIndex(CtVar* parent);

  CtVar* Find(std::string_view name) const;
  void Added(CtVar* child);
  // Before child leaves the list or changes its name.
  void Removed(CtVar* child);
  // The children's order changed around child (its name may now be first elsewhere).
  void Reordered(CtVar* child);

  // Indexes are kept for nodes with at least this many children.
  static constexpr uint32_t kMinChildren = 8;

 private:
  struct Slot {
    CtVar* first = nullptr;  // null: empty slot
    uint32_t hash = 0;
    uint32_t count = 0;  // children carrying this name
  };

  static uint32_t Hash(std::string_view name);
  // The slot holding name, or the empty slot where it would go.
  size_t Locate(std::string_view name, uint32_t hash) const;
  void Insert(CtVar* child, uint32_t hash);
  void Erase(size_t slot);
  void Grow();
  // Re-finds the first child named like slot's key in list order, passing over skip.
  void Rescan(Slot& slot, const CtVar* skip);

  CtVar* parent_;
  std::vector<Slot> slots_;  // size is a power of two, at most half full
  size_t used_ = 0;
};
