// The three heaps of the process and the library state blocks.
//
// program heap: tables, state blocks, file and entry buffers; destroyed last,
//               releasing everything in it at once.
// list heap:    the nodes of every node list; lives until the process ends.
// string heap:  the blocks of string variables; lives until the process ends.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// maximumSize 0: growable. Tests pass a limit to see exhausted memory.
void ProgramHeapCreate(size_t maximumSize = 0);
void ProgramHeapDestroy();
PlatformHeap ProgramHeap();

void* ProgramAlloc(size_t size, bool zeroFill);
void* ProgramReAlloc(void* block, size_t size, bool zeroFill);
void ProgramFree(void* block);

void MemoryLibraryInit();
void MemoryLibraryEnd();
PlatformHeap ListHeap();

// A library's process-wide state: one zero-filled block of the program heap,
// made once by the library's start-up step. Null when the heap is exhausted.
void* StateBlockCreate(size_t size);
