#include "tests/support/guarded_buffer.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

size_t PageSize() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  return size_t(sysconf(_SC_PAGESIZE));
#endif
}

}  // namespace

GuardedBuffer::GuardedBuffer(size_t size) : size_(size) {
  size_t page = PageSize();
  size_t dataPages = (size + page - 1) / page;
  mappingSize_ = (dataPages + 1) * page;
#ifdef _WIN32
  mapping_ = VirtualAlloc(nullptr, mappingSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  DWORD old;
  if (mapping_ != nullptr &&
      !VirtualProtect(static_cast<uint8_t*>(mapping_) + dataPages * page, page, PAGE_NOACCESS, &old)) {
    VirtualFree(mapping_, 0, MEM_RELEASE);
    mapping_ = nullptr;
  }
#else
  mapping_ = mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping_ == MAP_FAILED) mapping_ = nullptr;
  if (mapping_ != nullptr && mprotect(static_cast<uint8_t*>(mapping_) + dataPages * page, page, PROT_NONE) != 0) {
    munmap(mapping_, mappingSize_);
    mapping_ = nullptr;
  }
#endif
  if (mapping_ != nullptr) data_ = static_cast<uint8_t*>(mapping_) + dataPages * page - size;
}

GuardedBuffer::GuardedBuffer(const std::vector<uint8_t>& contents) : GuardedBuffer(contents.size()) {
  if (data_ != nullptr && !contents.empty()) memcpy(data_, contents.data(), contents.size());
}

GuardedBuffer::~GuardedBuffer() {
  if (mapping_ == nullptr) return;
#ifdef _WIN32
  VirtualFree(mapping_, 0, MEM_RELEASE);
#else
  munmap(mapping_, mappingSize_);
#endif
}
