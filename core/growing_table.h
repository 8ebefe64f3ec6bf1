// Plain items in order on the program heap, in a block that doubles as it
// fills, up to a limit of items.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/memory.h"

template <typename T>
class GrowingTable {
 public:
  explicit GrowingTable(uint32_t limit) : limit_(limit) {}
  GrowingTable(const GrowingTable&) = delete;
  GrowingTable& operator=(const GrowingTable&) = delete;
  ~GrowingTable() {
    if (items_ != nullptr) ProgramFree(items_);
  }

  T* begin() const { return items_; }
  T* end() const { return items_ + count_; }
  uint32_t Count() const { return count_; }
  void Clear() { count_ = 0; }
  void Pop() { count_--; }

  // Puts item before `at` (begin() to end()). False, with the table as it
  // was, at the limit or when the heap has no room; pointers into the table
  // are stale after a true.
  bool Insert(T* at, const T& item) {
    uint32_t index = uint32_t(at - items_);
    if (count_ == capacity_) {
      if (capacity_ == limit_) return false;
      uint32_t grown = uint32_t(std::min<uint64_t>(limit_, std::max<uint64_t>(uint64_t(capacity_) * 2, 16)));
      void* block = items_ == nullptr ? ProgramAlloc(size_t(grown) * sizeof(T), false)
                                      : ProgramReAlloc(items_, size_t(grown) * sizeof(T), false);
      if (block == nullptr) return false;
      items_ = static_cast<T*>(block);
      capacity_ = grown;
    }
    std::copy_backward(items_ + index, items_ + count_, items_ + count_ + 1);
    items_[index] = item;
    count_++;
    return true;
  }

 private:
  T* items_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
  uint32_t limit_;
};
