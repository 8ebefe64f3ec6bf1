#include "core/object_table.h"

#include <cstring>

#include "core/memory.h"

namespace {

// The payload starts on a 16-byte boundary behind the two links so records
// may hold any field.
constexpr size_t NODE_HEADER_SIZE = (sizeof(Node) + 15) & ~size_t{15};

bool RecordInUse(const void* record) {
  uintptr_t first;
  memcpy(&first, record, sizeof first);
  return first != 0;
}

Node* FindDynamic(ObjectTable* table, intptr_t number) {
  for (Node* node = table->dynamicList; node != nullptr; node = node->next) {
    if (reinterpret_cast<intptr_t>(NodePayload(node)) == number) return node;
  }
  return nullptr;
}

bool IsSlotNumber(const ObjectTable* table, intptr_t number) {
  return number >= 0 && number < table->capacity;
}

// One number space serves slots and dynamic identities, so a slot range may
// never reach an identity in use (possible with low heap addresses on 32-bit).
bool CoversDynamicIdentity(const ObjectTable* table, intptr_t capacity) {
  for (Node* node = table->dynamicList; node != nullptr; node = node->next) {
    if (reinterpret_cast<uintptr_t>(NodePayload(node)) < uintptr_t(capacity)) return true;
  }
  return false;
}

void* AllocateDynamic(ObjectTable* table) {
  void* record = NodeListAdd(table->dynamicList, size_t(table->recordSize));
  if (record != nullptr && reinterpret_cast<uintptr_t>(record) < uintptr_t(table->capacity)) {
    NodeListRemove(table->dynamicList, record);
    return nullptr;
  }
  return record;
}

}  // namespace

void* NodePayload(Node* node) {
  return reinterpret_cast<unsigned char*>(node) + NODE_HEADER_SIZE;
}

Node* NodeOfPayload(void* payload) {
  return reinterpret_cast<Node*>(static_cast<unsigned char*>(payload) - NODE_HEADER_SIZE);
}

void* NodeListAdd(Node*& head, size_t payloadSize) {
  Node* node = static_cast<Node*>(PlatformHeapAlloc(ListHeap(), NODE_HEADER_SIZE + payloadSize, true));
  if (node == nullptr) return nullptr;
  node->next = head;
  if (head != nullptr) head->previous = node;
  head = node;
  return NodePayload(node);
}

void NodeListRemove(Node*& head, void* payload) {
  if (payload == nullptr) return;
  Node* node = NodeOfPayload(payload);
  if (node == head) {
    head = node->next;
    if (head != nullptr) head->previous = nullptr;
  } else {
    if (node->previous != nullptr) node->previous->next = node->next;
    if (node->next != nullptr) node->next->previous = node->previous;
  }
  PlatformHeapFree(ListHeap(), node);
}

ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t growthStep, ObjectRelease releaseOperation) {
  auto* table = static_cast<ObjectTable*>(ProgramAlloc(sizeof(ObjectTable), true));
  if (table == nullptr) return nullptr;
  table->recordSize = recordSize;
  table->growthStep = growthStep;
  table->releaseOperation = releaseOperation;
  table->slots = static_cast<unsigned char*>(ProgramAlloc(size_t(growthStep) * size_t(recordSize), true));
  // Without a slot array the table holds no numbered slots; dynamic objects still work.
  table->capacity = table->slots != nullptr ? growthStep : 0;
  return table;
}

void* ObjectTableAllocate(ObjectTable* table, intptr_t number) {
  if (table == nullptr) return nullptr;
  if (number == OBJECT_ANY) return AllocateDynamic(table);
  if (number < 0) return nullptr;
  if (number >= table->capacity) {
    // Exactly the requested number plus the growth step, not doubling. The
    // capacity is 32-bit; test the number against what is left below the top
    // before adding, as the sum could overflow a 32-bit intptr_t. A step that
    // does not grow the table could never cover the number.
    if (table->growthStep < 1 || number > INT32_MAX - table->growthStep) return nullptr;
    intptr_t wanted = number + table->growthStep;
    if (CoversDynamicIdentity(table, wanted)) return nullptr;
    uint64_t bytes = uint64_t(wanted) * uint64_t(table->recordSize);
    if (bytes > SIZE_MAX) return nullptr;
    void* grown = ProgramReAlloc(table->slots, size_t(bytes), true);
    if (grown == nullptr) return nullptr;
    table->slots = static_cast<unsigned char*>(grown);
    table->capacity = int32_t(wanted);
  }
  if (table->releaseOperation != nullptr) table->releaseOperation(number);
  // The release operation may have grown the table itself; look the slot up now.
  return table->slots + size_t(number) * size_t(table->recordSize);
}

void* ObjectTableGet(ObjectTable* table, intptr_t number) {
  if (table == nullptr) return nullptr;
  void* candidate;
  if (IsSlotNumber(table, number)) {
    candidate = table->slots + size_t(number) * size_t(table->recordSize);
  } else {
    Node* node = number > 0 || number < -1 ? FindDynamic(table, number) : nullptr;
    if (node == nullptr) return nullptr;
    candidate = NodePayload(node);
  }
  return RecordInUse(candidate) ? candidate : nullptr;
}

void ObjectTableFree(ObjectTable* table, intptr_t number) {
  if (table == nullptr) return;
  if (IsSlotNumber(table, number)) {
    memset(table->slots + size_t(number) * size_t(table->recordSize), 0, size_t(table->recordSize));
    return;
  }
  Node* node = FindDynamic(table, number);
  if (node == nullptr) return;
  // A scan that has this object next moves on to the next newer one.
  if (table->scanCursor == node) table->scanCursor = node->previous;
  NodeListRemove(table->dynamicList, NodePayload(node));
}

void ObjectTableRewind(ObjectTable* table) {
  if (table == nullptr) return;
  table->scanPosition = 0;
  Node* oldest = table->dynamicList;
  while (oldest != nullptr && oldest->next != nullptr) oldest = oldest->next;
  table->scanCursor = oldest;
}

void* ObjectTableNext(ObjectTable* table, intptr_t* number) {
  if (table == nullptr) return nullptr;
  while (table->scanPosition < table->capacity) {
    intptr_t n = table->scanPosition++;
    unsigned char* record = table->slots + size_t(n) * size_t(table->recordSize);
    if (RecordInUse(record)) {
      *number = n;
      return record;
    }
  }
  Node* node = table->scanCursor;
  if (node == nullptr) return nullptr;
  table->scanCursor = node->previous;
  void* record = NodePayload(node);
  *number = reinterpret_cast<intptr_t>(record);
  return record;
}

void ObjectTableFreeAll(ObjectTable* table) {
  if (table == nullptr || table->releaseOperation == nullptr) return;
  ObjectTableRewind(table);
  intptr_t number;
  while (ObjectTableNext(table, &number) != nullptr) table->releaseOperation(number);
}
