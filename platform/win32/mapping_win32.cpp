// Files seen as memory, and a file's size set ahead, over KERNEL32.
#include <windows.h>

#include <cstdint>

#include "platform/platform.h"

namespace {

// Views of no bytes: the system maps none, and nothing is read or written.
unsigned char noBytes[1];

HANDLE ToHandle(PlatformFile file) {
  return reinterpret_cast<HANDLE>(file);
}

}  // namespace

bool PlatformFileResize(PlatformFile file, uint64_t size) {
  if (size > uint64_t(INT64_MAX)) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  // The end of file takes its clusters at once; the bytes up to it read as 0.
  LARGE_INTEGER end;
  end.QuadPart = LONGLONG(size);
  return SetFilePointerEx(ToHandle(file), end, nullptr, FILE_BEGIN) && SetEndOfFile(ToHandle(file));
}

bool PlatformFileMap(PlatformFile file, uint64_t offset, size_t size, bool writable, PlatformMapping* mapping) {
  *mapping = PlatformMapping{};
  mapping->file = file;
  mapping->writable = writable;
  if (size == 0) {
    mapping->data = noBytes;
    return true;
  }
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  uint64_t start = offset - offset % system.dwAllocationGranularity;
  size_t before = size_t(offset - start);
  if (size > SIZE_MAX - before) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  uint64_t end = offset + size;
  HANDLE section = CreateFileMappingA(ToHandle(file), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                                      DWORD(end >> 32), DWORD(end), nullptr);
  if (section == nullptr) return false;
  void* base = MapViewOfFile(section, writable ? FILE_MAP_WRITE : FILE_MAP_READ, DWORD(start >> 32), DWORD(start),
                             size + before);
  // The view keeps the section alive.
  DWORD error = GetLastError();
  CloseHandle(section);
  if (base == nullptr) {
    SetLastError(error);
    return false;
  }
  mapping->base = base;
  mapping->baseSize = size + before;
  mapping->data = static_cast<unsigned char*>(base) + before;
  mapping->size = size;
  return true;
}

bool PlatformFileUnmap(PlatformMapping* mapping, bool durable) {
  bool done = true;
  if (mapping->base != nullptr) {
    // A view's pages are not written through as the file's writes are.
    if (durable && mapping->writable) done = FlushViewOfFile(mapping->base, 0) != 0;
    done = UnmapViewOfFile(mapping->base) != 0 && done;
    if (durable && mapping->writable) done = FlushFileBuffers(ToHandle(mapping->file)) != 0 && done;
  }
  *mapping = PlatformMapping{};
  return done;
}
