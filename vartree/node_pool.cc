// Node memory that stays node memory: a freed node goes to a free list and is handed out only for
// another node, never back to the system. A reader without the tree lock may still hold a pointer
// to a node deleted meanwhile; its loads then read a dead or new node's fields, which are stored
// atomically, instead of faulting. Under AddressSanitizer a free node stays poisoned except for
// the fields such a reader loads.
#include <cstddef>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "vartree/tvar.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEL_NODE_POOL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VEL_NODE_POOL_ASAN 1
#endif
#ifdef VEL_NODE_POOL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr size_t kNodesPerBlock = 64;

struct FreeNode {
  FreeNode* next;
};

struct NodePool {
  std::mutex mu;
  FreeNode* free = nullptr;
  std::vector<void*> blocks;  // keeps them reachable for leak checkers
};

// Never destroyed: static trees free their nodes at exit.
NodePool& Pool() {
  static NodePool* const pool = new NodePool;
  return *pool;
}

void Poison(void* at, size_t size, bool on) {
#ifdef VEL_NODE_POOL_ASAN
  if (on) {
    ASAN_POISON_MEMORY_REGION(at, size);
  } else {
    ASAN_UNPOISON_MEMORY_REGION(at, size);
  }
#else
  (void)at;
  (void)size;
  (void)on;
#endif
}

}  // namespace

void* CtVar::operator new(size_t size) {
  if (size != sizeof(CtVar)) return ::operator new(size);
  NodePool& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.mu);
  if (!pool.free) {
    auto* block = static_cast<unsigned char*>(::operator new(kNodesPerBlock * sizeof(CtVar)));
    pool.blocks.push_back(block);
    for (size_t i = kNodesPerBlock; i-- > 0;) {
      auto* node = reinterpret_cast<FreeNode*>(block + i * sizeof(CtVar));
      node->next = pool.free;
      pool.free = node;
      Poison(node, sizeof(CtVar), true);
    }
  }
  FreeNode* node = pool.free;
  Poison(node, sizeof(CtVar), false);
  pool.free = node->next;
  return node;
}

void CtVar::operator delete(void* p, size_t size) {
  if (!p) return;
  if (size != sizeof(CtVar)) {
    ::operator delete(p);
    return;
  }
  NodePool& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.mu);
  auto* node = static_cast<FreeNode*>(p);
  node->next = pool.free;
  pool.free = node;
  Poison(node, sizeof(CtVar), true);
  const auto [begin, end] = LockFreeFields();
  Poison(static_cast<unsigned char*>(p) + begin, end - begin, false);
}

std::pair<size_t, size_t> CtVar::LockFreeFields() {
  // The fields are declared together; offsetof works on this class with GCC and Clang.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  return {offsetof(CtVar, type_), offsetof(CtVar, remote_) + sizeof(remote_)};
#pragma GCC diagnostic pop
}
