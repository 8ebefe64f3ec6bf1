// The seam's heaps over POSIX: a heap is a list of malloc'd blocks so that
// destroying it releases them all at once; a serialized heap links them under
// a lock, as a Win32 heap without HEAP_NO_SERIALIZE does, so that several
// threads may use it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace {

// Every block carries this header; the heap links its blocks so that
// destruction can free what the owner never gave back.
struct alignas(16) BlockHeader {
  BlockHeader* previous;
  BlockHeader* next;
  size_t size;
};

struct Heap {
  BlockHeader* blocks = nullptr;
  size_t maximumSize = 0;  // 0: growable
  size_t bytesInUse = 0;
  bool serialized = false;
  std::mutex lock;  // held over the list and the count while serialized
};

// Holds the heap's lock for the scope when the heap is serialized.
std::unique_lock<std::mutex> Hold(Heap* heap) {
  return heap->serialized ? std::unique_lock<std::mutex>(heap->lock) : std::unique_lock<std::mutex>();
}

bool Fits(const Heap* heap, size_t oldSize, size_t newSize) {
  if (heap->maximumSize == 0) return true;
  return heap->bytesInUse - oldSize + newSize <= heap->maximumSize;
}

void Link(Heap* heap, BlockHeader* block) {
  block->previous = nullptr;
  block->next = heap->blocks;
  if (heap->blocks != nullptr) heap->blocks->previous = block;
  heap->blocks = block;
}

void Unlink(Heap* heap, BlockHeader* block) {
  if (block->previous != nullptr) {
    block->previous->next = block->next;
  } else {
    heap->blocks = block->next;
  }
  if (block->next != nullptr) block->next->previous = block->previous;
}

}  // namespace

PlatformHeap PlatformHeapCreate(bool serialized, size_t /*initialSize*/, size_t maximumSize) {
  Heap* heap = new (std::nothrow) Heap;
  if (heap == nullptr) return nullptr;
  heap->maximumSize = maximumSize;
  heap->serialized = serialized;
  return heap;
}

void* PlatformHeapAlloc(PlatformHeap handle, size_t size, bool zeroFill) {
  Heap* heap = static_cast<Heap*>(handle);
  if (heap == nullptr) return nullptr;
  auto hold = Hold(heap);
  if (size > SIZE_MAX - sizeof(BlockHeader) || !Fits(heap, 0, size)) return nullptr;
  void* memory = zeroFill ? calloc(1, sizeof(BlockHeader) + size) : malloc(sizeof(BlockHeader) + size);
  if (memory == nullptr) return nullptr;
  BlockHeader* block = static_cast<BlockHeader*>(memory);
  block->size = size;
  Link(heap, block);
  heap->bytesInUse += size;
  return block + 1;
}

void* PlatformHeapReAlloc(PlatformHeap handle, void* memory, size_t size, bool zeroFill) {
  Heap* heap = static_cast<Heap*>(handle);
  if (heap == nullptr) return nullptr;
  if (memory == nullptr) return PlatformHeapAlloc(heap, size, zeroFill);
  auto hold = Hold(heap);
  BlockHeader* block = static_cast<BlockHeader*>(memory) - 1;
  size_t oldSize = block->size;
  if (size > SIZE_MAX - sizeof(BlockHeader) || !Fits(heap, oldSize, size)) return nullptr;
  Unlink(heap, block);
  BlockHeader* moved = static_cast<BlockHeader*>(realloc(block, sizeof(BlockHeader) + size));
  if (moved == nullptr) {
    Link(heap, block);
    return nullptr;
  }
  if (zeroFill && size > oldSize) memset(reinterpret_cast<char*>(moved + 1) + oldSize, 0, size - oldSize);
  moved->size = size;
  Link(heap, moved);
  heap->bytesInUse = heap->bytesInUse - oldSize + size;
  return moved + 1;
}

void PlatformHeapFree(PlatformHeap handle, void* memory) {
  Heap* heap = static_cast<Heap*>(handle);
  if (heap == nullptr || memory == nullptr) return;
  auto hold = Hold(heap);
  BlockHeader* block = static_cast<BlockHeader*>(memory) - 1;
  Unlink(heap, block);
  heap->bytesInUse -= block->size;
  free(block);
}

void PlatformHeapDestroy(PlatformHeap handle) {
  Heap* heap = static_cast<Heap*>(handle);
  if (heap == nullptr) return;
  BlockHeader* block = heap->blocks;
  while (block != nullptr) {
    BlockHeader* next = block->next;
    free(block);
    block = next;
  }
  delete heap;
}
