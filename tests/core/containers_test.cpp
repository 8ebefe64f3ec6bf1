// The program heap's two containers: a block that frees itself and a table
// that grows up to its limit.
#include <gtest/gtest.h>

#include <vector>

#include "core/block.h"
#include "core/growing_table.h"
#include "core/memory.h"

namespace {

class Containers : public ::testing::Test {
 protected:
  void SetUp() override { ProgramHeapCreate(64 * 1024); }
  void TearDown() override { ProgramHeapDestroy(); }
};

TEST_F(Containers, BlockTakesAtLeastOneByteAndIsEmptyWhenRefused) {
  Block block;
  ASSERT_TRUE(block.Allocate(0, false));
  EXPECT_NE(block.Data(), nullptr) << "an empty entry is a valid buffer";
  EXPECT_EQ(block.Size(), 0u);
  ASSERT_TRUE(block.Allocate(100, true));
  for (uint32_t i = 0; i < 100; i++) ASSERT_EQ(block.Data()[i], 0) << i;
  EXPECT_FALSE(block.Allocate(1u << 20, false)) << "beyond the heap";
  EXPECT_EQ(block.Data(), nullptr);
  EXPECT_EQ(block.Size(), 0u);
}

// Items put at the front, the end and between keep their order; the table
// stops at its limit and where the heap has no room, as it was.
TEST_F(Containers, GrowingTableInsertsInOrderUpToItsLimits) {
  struct Case {
    uint32_t limit;
    uint32_t inserts;
    uint32_t held;
  } cases[] = {{5, 8, 5}, {100, 100, 100}, {1u << 20, 100000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    GrowingTable<uint32_t> table(c.limit);
    std::vector<uint32_t> expected;
    uint32_t refused = 0;
    for (uint32_t i = 0; i < c.inserts; i++) {
      size_t at = i % 3 == 0 ? 0 : i % 3 == 1 ? table.Count() : table.Count() / 2;
      if (!table.Insert(table.begin() + at, i)) {
        refused++;
        continue;
      }
      expected.insert(expected.begin() + long(at), i);
    }
    EXPECT_EQ(std::vector<uint32_t>(table.begin(), table.end()), expected);
    if (c.held != 0) {
      EXPECT_EQ(table.Count(), c.held);
    } else {
      EXPECT_GT(refused, 0u) << "the heap holds 64 KiB";
      EXPECT_LT(table.Count(), c.inserts);
    }
  }
}

}  // namespace
