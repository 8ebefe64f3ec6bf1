// A block of the program heap that frees itself: one owner, no copies.
#pragma once

#include <cstdint>

class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { Free(); }

  // Frees what the block held and takes size bytes, at least one, so that an
  // empty entry is a valid buffer too. zeroFill asks for zeros; fresh pages
  // need no filling, so a large zero-filled block costs address space, not
  // the touching of every byte. False, with the block empty, when the heap
  // has no room.
  bool Allocate(uint32_t size, bool zeroFill);
  void Free();
  unsigned char* Data() const { return data_; }
  uint32_t Size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  uint32_t size_ = 0;
};
