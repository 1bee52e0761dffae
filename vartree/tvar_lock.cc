#include <atomic>

#include "platform/mutex.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

// Constant-initialized and never destroyed: nodes of static trees take it when they are deleted
// at exit.
union OwnLock {
  constexpr OwnLock() : lock() {}
  ~OwnLock() {}
  port::RecursiveMutex lock;
};
constinit OwnLock g_own_lock;

}  // namespace

constinit std::atomic<port::RecursiveMutex*> CtVar::tree_lock_{&g_own_lock.lock};
constinit std::atomic<uint64_t> CtVar::structure_epoch_{0};
constinit std::atomic<uint64_t> CtVar::plain_number_epoch_{0};

port::RecursiveMutex* GetTreeLock() {
  return CtVar::tree_lock_.load(std::memory_order_acquire);
}

void SetTreeLock(port::RecursiveMutex* lock) {
  // Switch while holding the lock in force, so that nobody is inside the tree under it and
  // readers without the lock see the switch in its sequence.
  port::RecursiveMutex* const old = GetTreeLock();
  old->Enter();
  CtVar::tree_lock_.store(lock ? lock : &g_own_lock.lock, std::memory_order_release);
  old->Leave();
}

uint64_t CtVar::StructureEpoch() {
  return structure_epoch_.load(std::memory_order_relaxed);
}

void CtVar::StructureChanged() {
  structure_epoch_.fetch_add(1, std::memory_order_relaxed);
  plain_number_epoch_.fetch_add(1, std::memory_order_relaxed);
}

uint64_t CtVar::PlainNumberEpoch() {
  return plain_number_epoch_.load(std::memory_order_relaxed);
}

void CtVar::SetStoredKind(uint32_t type, XTVarRemote* remote) {
  const bool was_plain = HoldsPlainNumber();
  type_ = type;
  remote_ = remote;
  if (HoldsPlainNumber() != was_plain) plain_number_epoch_.fetch_add(1, std::memory_order_relaxed);
}

CtVarLock::CtVarLock(uint32_t /*timeout_ms*/) : lock_(GetTreeLock()) {
  lock_->Enter();
}
CtVarLock::~CtVarLock() {
  lock_->Leave();
}

std::wstring AsciiToCString(const char* text) {
  return text ? port::MixedToWide(port::MixedTextView(text)) : std::wstring();
}
