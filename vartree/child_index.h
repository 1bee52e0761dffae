// Name index of a node's children, so that lookup does not grow with the number of siblings.
//
// Keys are the children's names, compared ASCII-case-insensitively; each key maps to the first
// child of that name in list order (names may repeat when children are appended blindly).
// The owner keeps it current: every link, unlink, rename and reorder is reported.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>

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
  static constexpr uint32_t kMinChildren = 12;

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const;
  };
  struct Equal {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  struct Entry {
    CtVar* first;
    uint32_t count;
  };

  // Re-finds the first child named like key in list order (skip aside) and re-keys the entry.
  void Rescan(std::string_view key, const CtVar* skip);

  CtVar* parent_;
  std::unordered_map<std::string_view, Entry, Hash, Equal> map_;
};
