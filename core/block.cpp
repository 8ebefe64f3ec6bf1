#include "core/block.h"

#include "core/memory.h"

bool Block::Allocate(uint32_t size, bool zeroFill) {
  Free();
  data_ = static_cast<unsigned char*>(ProgramAlloc(size != 0 ? size : 1, zeroFill));
  size_ = data_ != nullptr ? size : 0;
  return data_ != nullptr;
}

void Block::Free() {
  if (data_ != nullptr) ProgramFree(data_);
  data_ = nullptr;
  size_ = 0;
}
