// LockFreeField: a node field that readers without the tree lock may load while a holder of the
// lock stores it. Every access, construction included, is a relaxed atomic one, so such a read
// is no data race; whether the value it gave counts is decided by the lock's sequence (see
// CtVar::BeginUnlockedRead). Otherwise it reads and assigns like the plain field it replaces.
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
  operator T() const { return Load(); }  // NOLINT: reads like the plain field
  T operator->() const requires std::is_pointer_v<T> { return Load(); }

  T Load() const {
    return std::atomic_ref<T>(const_cast<T&>(value_)).load(std::memory_order_relaxed);
  }
  void Store(T value) { std::atomic_ref<T>(value_).store(value, std::memory_order_relaxed); }

 private:
  alignas(std::atomic_ref<T>::required_alignment) T value_;
};
