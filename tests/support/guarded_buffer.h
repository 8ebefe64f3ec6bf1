// A buffer whose last byte lies right before a no-access page, so that a read
// or write one byte past its end faults at once (also without a sanitizer,
// and under Wine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size);
  explicit GuardedBuffer(const std::vector<uint8_t>& contents);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  // Null when the pages could not be mapped.
  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
