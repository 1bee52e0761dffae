#include <atomic>

#include "platform/mutex.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

port::RecursiveMutex& OwnLock() {
  static port::RecursiveMutex lock;
  return lock;
}

std::atomic<port::RecursiveMutex*> g_tree_lock{nullptr};

}  // namespace

port::RecursiveMutex* GetTreeLock() {
  port::RecursiveMutex* lock = g_tree_lock.load(std::memory_order_acquire);
  return lock ? lock : &OwnLock();
}

void SetTreeLock(port::RecursiveMutex* lock) {
  port::RecursiveMutex* old = g_tree_lock.load(std::memory_order_acquire);
  if (!old) {
    g_tree_lock.store(lock, std::memory_order_release);
    return;
  }
  // Switch while holding the old lock, so nobody is inside the tree under it.
  old->Enter();
  g_tree_lock.store(lock, std::memory_order_release);
  old->Leave();
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
