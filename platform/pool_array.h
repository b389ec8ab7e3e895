// A growing array of plain records in the firmware's pool, for what kvq
// learns only at run time (the firmware's forms). It starts empty without
// code, so it may live in constinit state; release() gives its memory back.
#pragma once
#include <stdint.h>

#include "platform/firmware.h"
#include "platform/runtime.h"

namespace kvq {

template <class T>
class PoolArray {
  static_assert(__is_trivially_copyable(T), "records are copied bytewise when the array grows");

 public:
  constexpr PoolArray() = default;

  // False when the pool has no room left: the array keeps what it had.
  bool push(const T& item) {
    if (size_ == capacity_ && !grow()) return false;
    items_[size_++] = item;
    return true;
  }
  T& operator[](uint32_t i) { return items_[i]; }
  const T& operator[](uint32_t i) const { return items_[i]; }
  T& back() { return items_[size_ - 1]; }
  void pop() { --size_; }
  uint32_t size() const { return size_; }
  void release() {
    plat::pool_free(items_);
    items_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  bool grow() {
    const uint32_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
    auto* items = static_cast<T*>(plat::pool_allocate(capacity * sizeof(T)));
    if (items == nullptr) return false;
    if (size_ > 0) rt::mem_copy(items, items_, size_ * sizeof(T));
    plat::pool_free(items_);
    items_ = items;
    capacity_ = capacity;
    return true;
  }

  T* items_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace kvq
