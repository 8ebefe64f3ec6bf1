// The registry with a kind of our own whose close operation records what it
// closed, as the file, window and gadget libraries do.
#include <gtest/gtest.h>

#include <vector>

#include "core/memory.h"
#include "core/object_table.h"

namespace {

struct ThingRecord {
  intptr_t handle;  // non-zero while the thing exists
  int payload;
};

ObjectTable* things;
std::vector<intptr_t> closed;

void ThingClose(intptr_t number) {
  if (ObjectTableGet(things, number) == nullptr) return;
  closed.push_back(number);
  ObjectTableFree(things, number);
}

intptr_t ThingOpen(intptr_t number, intptr_t handle) {
  auto* record = static_cast<ThingRecord*>(ObjectTableAllocate(things, number));
  if (record == nullptr) return 0;
  record->handle = handle;
  return number == OBJECT_ANY ? reinterpret_cast<intptr_t>(record) : handle;
}

class ObjectTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgramHeapCreate();
    MemoryLibraryInit();
    closed.clear();
    things = ObjectTableCreate(sizeof(ThingRecord), 16, ThingClose);
    ASSERT_NE(things, nullptr);
  }
  void TearDown() override { ProgramHeapDestroy(); }
};

TEST_F(ObjectTableTest, GrowsToTheRequestedNumberPlusTheStep) {
  EXPECT_EQ(things->capacity, 16);
  ThingOpen(15, 0x15);
  EXPECT_EQ(things->capacity, 16);
  ThingOpen(16, 0x16);
  EXPECT_EQ(things->capacity, 32);
  EXPECT_EQ(static_cast<ThingRecord*>(ObjectTableGet(things, 15))->handle, 0x15) << "growth keeps records";
  ThingOpen(20, 0x20);
  EXPECT_EQ(things->capacity, 32);
  for (intptr_t n = 17; n < 32; n++) {
    if (n != 20) {
      EXPECT_EQ(ObjectTableGet(things, n), nullptr) << "added slots are zero: " << n;
    }
  }

  ObjectTable* gadgets = ObjectTableCreate(sizeof(ThingRecord), 50, nullptr);
  EXPECT_EQ(gadgets->capacity, 50);
  ObjectTableAllocate(gadgets, 100);
  EXPECT_EQ(gadgets->capacity, 150);

  ObjectTable* files = ObjectTableCreate(sizeof(ThingRecord), 16, nullptr);
  ObjectTableAllocate(files, 20);
  EXPECT_EQ(files->capacity, 36);
}

TEST_F(ObjectTableTest, ReusingANumberClosesTheOldObjectFirst) {
  ThingOpen(1, 0x111);
  static_cast<ThingRecord*>(ObjectTableGet(things, 1))->payload = 42;
  auto* record = static_cast<ThingRecord*>(ObjectTableAllocate(things, 1));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(closed, std::vector<intptr_t>{1});
  EXPECT_EQ(record->handle, 0);
  EXPECT_EQ(record->payload, 0) << "the record handed out is all zero";
  // Allocated but not yet written: still counts as free.
  EXPECT_EQ(ObjectTableGet(things, 1), nullptr);
  intptr_t n = -5;
  ObjectTableRewind(things);
  EXPECT_EQ(ObjectTableNext(things, &n), nullptr);
}

TEST_F(ObjectTableTest, FreedAndNeverUsedNumbersAreNotFound) {
  EXPECT_EQ(ObjectTableGet(things, 3), nullptr);
  EXPECT_EQ(ObjectTableGet(things, 1000), nullptr);
  EXPECT_EQ(ObjectTableGet(things, -7), nullptr);
  ThingOpen(3, 0x3);
  ObjectTableFree(things, 3);
  EXPECT_EQ(ObjectTableGet(things, 3), nullptr);
  EXPECT_EQ(things->capacity, 16);
  EXPECT_TRUE(closed.empty()) << "freeing does not call the close operation";
}

TEST_F(ObjectTableTest, IterationVisitsSlotsThenDynamicObjectsOldestFirstWhileClosing) {
  ThingOpen(7, 0x7);
  intptr_t older = ThingOpen(OBJECT_ANY, 0xA1);
  ThingOpen(0, 0x10);
  intptr_t newer = ThingOpen(OBJECT_ANY, 0xA2);
  ThingOpen(3, 0x3);
  ASSERT_NE(older, 0);
  ASSERT_NE(newer, 0);

  std::vector<intptr_t> visited;
  ObjectTableRewind(things);
  intptr_t n;
  while (ObjectTableNext(things, &n) != nullptr) {
    visited.push_back(n);
    ThingClose(n);
  }
  EXPECT_EQ(visited, (std::vector<intptr_t>{0, 3, 7, older, newer}));
  EXPECT_EQ(closed, visited);
  EXPECT_EQ(things->dynamicList, nullptr);
}

TEST_F(ObjectTableTest, FreeAllClosesEveryObjectOnceAndNeedsAReleaseOperation) {
  ThingOpen(2, 0x2);
  ThingOpen(40, 0x40);
  intptr_t dynamic = ThingOpen(OBJECT_ANY, 0xD);
  ObjectTableFreeAll(things);
  EXPECT_EQ(closed, (std::vector<intptr_t>{2, 40, dynamic}));
  EXPECT_EQ(ObjectTableGet(things, 2), nullptr);

  ObjectTable* plain = ObjectTableCreate(sizeof(ThingRecord), 16, nullptr);
  static_cast<ThingRecord*>(ObjectTableAllocate(plain, 1))->handle = 1;
  ObjectTableFreeAll(plain);
  EXPECT_NE(ObjectTableGet(plain, 1), nullptr);
}

TEST_F(ObjectTableTest, DynamicIdentitiesAreDistinctAndOutsideTheSlots) {
  intptr_t a = ThingOpen(OBJECT_ANY, 0xA);
  intptr_t b = ThingOpen(OBJECT_ANY, 0xB);
  EXPECT_NE(a, b);
  for (intptr_t id : {a, b}) {
    EXPECT_FALSE(id >= 0 && id < things->capacity);
    EXPECT_NE(id, OBJECT_ANY);
  }
  EXPECT_TRUE(closed.empty()) << "OBJECT_ANY closes nothing";
  ObjectTableFree(things, a);
  EXPECT_EQ(ObjectTableGet(things, a), nullptr);
  auto* record = static_cast<ThingRecord*>(ObjectTableGet(things, b));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->handle, 0xB);
  // A dynamic record whose handle is not written yet is not live.
  auto* fresh = static_cast<ThingRecord*>(ObjectTableAllocate(things, OBJECT_ANY));
  EXPECT_EQ(ObjectTableGet(things, reinterpret_cast<intptr_t>(fresh)), nullptr);
  ObjectTableFree(things, 12345);  // names nothing: no change
  EXPECT_NE(ObjectTableGet(things, b), nullptr);
}

TEST_F(ObjectTableTest, NegativeNumbersOtherThanAnyAreRefused) {
  EXPECT_EQ(ObjectTableAllocate(things, -2), nullptr);
  EXPECT_EQ(things->capacity, 16);
}

TEST_F(ObjectTableTest, ExhaustedHeapGivesNoRecordAndKeepsTheTable) {
  ProgramHeapDestroy();
  ProgramHeapCreate(256 * 1024);
  things = ObjectTableCreate(sizeof(ThingRecord), 16, ThingClose);
  ASSERT_NE(things, nullptr);
  ThingOpen(5, 0x5);
  EXPECT_EQ(ObjectTableAllocate(things, 10000000), nullptr);
  EXPECT_EQ(things->capacity, 16);
  EXPECT_EQ(ThingOpen(10000000, 0x1), 0);
  EXPECT_NE(ObjectTableGet(things, 5), nullptr) << "the old records survive a failed growth";
  EXPECT_TRUE(closed.empty());
}

// Numbers whose slot range would pass the 32-bit capacity, or whose sum with
// the step would overflow a pointer-sized number, are refused without touching
// the table (UBSan would report an overflowing sum).
TEST_F(ObjectTableTest, NumbersNearTheTopAreRefusedAndKeepTheTable) {
  ThingOpen(5, 0x5);
  const intptr_t tooHigh[] = {
      INTPTR_MAX,       INTPTR_MAX - 1,       INTPTR_MAX - 15,
      INTPTR_MAX - 16,  intptr_t(INT32_MAX),  intptr_t(INT32_MAX) - 15,
  };
  for (intptr_t number : tooHigh) {
    EXPECT_EQ(ObjectTableAllocate(things, number), nullptr) << number;
    EXPECT_EQ(things->capacity, 16) << number;
    EXPECT_EQ(ObjectTableGet(things, number), nullptr) << number;
  }
  auto* kept = static_cast<ThingRecord*>(ObjectTableGet(things, 5));
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->handle, 0x5);
  EXPECT_TRUE(closed.empty()) << "a refused number closes nothing";
  // The table still grows for an ordinary number afterwards.
  EXPECT_NE(ThingOpen(40, 0x40), 0);
  EXPECT_EQ(things->capacity, 56);
}

TEST_F(ObjectTableTest, TableWithoutAGrowthStepRefusesNumbersBeyondItsSlots) {
  ObjectTable* fixed = ObjectTableCreate(sizeof(ThingRecord), 0, nullptr);
  ASSERT_NE(fixed, nullptr);
  for (intptr_t number : {intptr_t(0), intptr_t(1), INTPTR_MAX}) {
    EXPECT_EQ(ObjectTableAllocate(fixed, number), nullptr) << number;
    EXPECT_EQ(fixed->capacity, 0) << number;
  }
}

class NodeListTest : public ::testing::Test {
 protected:
  void SetUp() override { MemoryLibraryInit(); }
};

TEST_F(NodeListTest, HeadIsTheNewestAndRemovalRelinks) {
  Node* head = nullptr;
  auto* a = static_cast<int*>(NodeListAdd(head, sizeof(int)));
  auto* b = static_cast<int*>(NodeListAdd(head, sizeof(int)));
  auto* c = static_cast<int*>(NodeListAdd(head, sizeof(int)));
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(*a, 0) << "payload is zero-filled";
  EXPECT_EQ(NodePayload(head), c);
  EXPECT_EQ(NodeOfPayload(c)->next, NodeOfPayload(b));
  EXPECT_EQ(NodeOfPayload(a)->previous, NodeOfPayload(b));

  NodeListRemove(head, b);  // from the middle
  EXPECT_EQ(NodeOfPayload(c)->next, NodeOfPayload(a));
  EXPECT_EQ(NodeOfPayload(a)->previous, NodeOfPayload(c));

  NodeListRemove(head, c);  // the head
  EXPECT_EQ(NodePayload(head), a);
  EXPECT_EQ(head->previous, nullptr);

  NodeListRemove(head, a);  // the only node
  EXPECT_EQ(head, nullptr);
}

}  // namespace
