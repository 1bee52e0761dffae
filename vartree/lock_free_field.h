// LockFreeField: a node field that readers without the tree lock may load while a holder of the
// lock stores it. Every access, construction included, is a relaxed atomic one, so such a read
// is no data race; whether the value it gave counts is decided by the lock's sequence (see
// CtVar::BeginUnlockedRead). Otherwise it reads and assigns like the plain field it replaces.
//
// The accesses are the compiler's atomic built-ins (what std::atomic_ref is made of): they expand
// in place even where the inliner has given up, as in a hot loop that reads many fields.
#pragma once

#include <atomic>
#include <type_traits>

template <typename T>
class LockFreeField {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= 8);

 public:
  LockFreeField(T value = T()) { Store(value); }  // NOLINT: stands in for a plain field
  LockFreeField(const LockFreeField& other) : LockFreeField(other.Load()) {}
  LockFreeField& operator=(const LockFreeField& other) { return *this = other.Load(); }
  LockFreeField& operator=(T value) {
    Store(value);
    return *this;
  }
  [[gnu::always_inline]] operator T() const {
    return Load();
  }  // NOLINT: reads like the plain field
  T operator->() const requires std::is_pointer_v<T> { return Load(); }

  [[gnu::always_inline]] T Load() const {
    T value;
    __atomic_load(&value_, &value, __ATOMIC_RELAXED);
    return value;
  }
  void Store(T value) { __atomic_store(&value_, &value, __ATOMIC_RELAXED); }

 private:
  alignas(std::atomic_ref<T>::required_alignment) T value_;
};
