#include <gtest/gtest.h>

#include <string>

#include "core/memory.h"
#include "core/startup.h"

namespace {

std::string order;

TEST(Startup, LibrariesStartAndEndInTheirOrder) {
  order.clear();
  LibrarySteps steps{};
  steps.fileInit = [] { order += "file+ "; };
  steps.windowInit = [] { order += "window+ "; };
  steps.gadgetInit = [] { order += "gadget+ "; };
  steps.requesterInit = [] { order += "requester+ "; };
  steps.archiveClose = [] { order += "archive- "; };
  steps.gadgetEnd = [] { order += "gadget- "; };
  steps.windowEnd = [] { order += "window- "; };
  steps.fileEnd = [] {
    // The program heap must still be there for the files' pending bytes.
    order += ProgramHeap() != nullptr ? "file- " : "file-without-heap ";
  };
  RuntimeStartUp(steps);
  EXPECT_NE(ProgramHeap(), nullptr);
  EXPECT_NE(ListHeap(), nullptr);
  RuntimeShutDown(steps);
  EXPECT_EQ(ProgramHeap(), nullptr);
  EXPECT_EQ(order, "file+ window+ gadget+ requester+ archive- gadget- window- file- ");
}

TEST(Startup, MissingStepsAreSkipped) {
  LibrarySteps none{};
  RuntimeStartUp(none);
  EXPECT_NE(ProgramHeap(), nullptr);
  RuntimeShutDown(none);
  EXPECT_EQ(ProgramHeap(), nullptr);
}

TEST(Memory, StateBlocksAreZeroAndReleasedWithTheProgramHeap) {
  ProgramHeapCreate();
  auto* state = static_cast<unsigned char*>(StateBlockCreate(256));
  ASSERT_NE(state, nullptr);
  for (int i = 0; i < 256; i++) ASSERT_EQ(state[i], 0);
  void* buffer = ProgramAlloc(4096, false);
  EXPECT_NE(buffer, nullptr);
  // Neither block is freed on its own: the heap's destruction releases both.
  ProgramHeapDestroy();
}

}  // namespace
