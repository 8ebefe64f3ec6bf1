// Files seen as memory, and a file's size set ahead, over POSIX calls.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

namespace {

// Views of no bytes: the system maps none, and nothing is read or written.
unsigned char noBytes[1];

}  // namespace

bool PlatformFileResize(PlatformFile file, uint64_t size) {
  int fd = static_cast<int>(file);
  if (size > uint64_t(INT64_MAX)) {
    errno = EFBIG;
    return false;
  }
  struct stat facts;
  if (fstat(fd, &facts) != 0) return false;
  // Room taken now: a mapped page that finds the disk full would end the
  // process instead of failing a call. A file system that cannot reserve
  // room gets the plain size.
  if (uint64_t(facts.st_size) < size) {
    int error = posix_fallocate(fd, 0, off_t(size));
    if (error == 0) return true;
    if (error != EOPNOTSUPP && error != EINVAL) {
      errno = error;
      return false;
    }
  }
  return ftruncate(fd, off_t(size)) == 0;
}

bool PlatformFileMap(PlatformFile file, uint64_t offset, size_t size, bool writable, PlatformMapping* mapping) {
  *mapping = PlatformMapping{};
  mapping->file = file;
  mapping->writable = writable;
  if (size == 0) {
    mapping->data = noBytes;
    return true;
  }
  uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
  uint64_t start = offset - offset % page;
  size_t before = size_t(offset - start);
  if (size > SIZE_MAX - before) {
    errno = ENOMEM;
    return false;
  }
  void* base = mmap(nullptr, size + before, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                    static_cast<int>(file), off_t(start));
  if (base == MAP_FAILED) return false;
  mapping->base = base;
  mapping->baseSize = size + before;
  mapping->data = static_cast<unsigned char*>(base) + before;
  mapping->size = size;
  return true;
}

bool PlatformFileUnmap(PlatformMapping* mapping, bool) {
  // Unmapping hands the written pages to the file's cache as dirty pages;
  // the file system's sync writes them with the rest.
  bool unmapped = mapping->base == nullptr || munmap(mapping->base, mapping->baseSize) == 0;
  *mapping = PlatformMapping{};
  return unmapped;
}
