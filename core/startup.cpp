#include "core/startup.h"

#include "core/memory.h"
#include "core/string.h"

namespace {
void Run(void (*step)()) {
  if (step != nullptr) step();
}
}  // namespace

void RuntimeStartUp(const LibrarySteps& steps) {
  ProgramHeapCreate();
  StringLibraryInit();
  MemoryLibraryInit();
  Run(steps.fileInit);
  Run(steps.windowInit);
  Run(steps.gadgetInit);
  Run(steps.requesterInit);
}

void RuntimeShutDown(const LibrarySteps& steps) {
  Run(steps.archiveClose);
  Run(steps.gadgetEnd);
  Run(steps.windowEnd);
  Run(steps.fileEnd);
  MemoryLibraryEnd();
  ProgramHeapDestroy();
}
