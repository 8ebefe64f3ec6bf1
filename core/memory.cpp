#include "core/memory.h"

namespace {
PlatformHeap programHeap;
PlatformHeap listHeap;
}  // namespace

void ProgramHeapCreate(size_t maximumSize) {
  programHeap = PlatformHeapCreate(true, 4096, maximumSize);
}

void ProgramHeapDestroy() {
  PlatformHeapDestroy(programHeap);
  programHeap = nullptr;
}

PlatformHeap ProgramHeap() {
  return programHeap;
}

void* ProgramAlloc(size_t size, bool zeroFill) {
  return PlatformHeapAlloc(programHeap, size, zeroFill);
}

void* ProgramReAlloc(void* block, size_t size, bool zeroFill) {
  return PlatformHeapReAlloc(programHeap, block, size, zeroFill);
}

void ProgramFree(void* block) {
  PlatformHeapFree(programHeap, block);
}

void MemoryLibraryInit() {
  // The list heap lasts until the process ends; a second start keeps it.
  if (listHeap == nullptr) listHeap = PlatformHeapCreate(true, 1024);
}

void MemoryLibraryEnd() {}

PlatformHeap ListHeap() {
  return listHeap;
}

void* StateBlockCreate(size_t size) {
  return ProgramAlloc(size, true);
}
