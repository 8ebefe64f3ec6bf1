// Numbered object registry: records kept by caller-chosen numbers, plus
// dynamic objects (OBJECT_ANY) named by their record's address, and the
// doubly linked node lists of the list heap.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr intptr_t OBJECT_ANY = -1;

// Nodes: next is the next older node, previous the next newer one; the
// payload follows the two links. A list is named by its head (newest node).
struct Node {
  Node* next;
  Node* previous;
};

// Returns the new node's zero-filled payload, or null when the list heap is out.
void* NodeListAdd(Node*& head, size_t payloadSize);
void NodeListRemove(Node*& head, void* payload);
void* NodePayload(Node* node);
Node* NodeOfPayload(void* payload);

using ObjectRelease = void (*)(intptr_t number);

struct ObjectTable {
  int32_t recordSize;
  int32_t growthStep;
  int32_t capacity;
  Node* dynamicList;
  ObjectRelease releaseOperation;
  int32_t scanPosition;
  Node* scanCursor;
  unsigned char* slots;
};

// Null when the program heap cannot supply the table.
ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t growthStep, ObjectRelease releaseOperation);
// The number's record, all zero; closes the object that still held the number
// first. Null when memory for the record cannot be had or the number is not
// valid (negative other than OBJECT_ANY): callers treat that as a failed open.
void* ObjectTableAllocate(ObjectTable* table, intptr_t number);
// The live record (first field non-zero), or null.
void* ObjectTableGet(ObjectTable* table, intptr_t number);
void ObjectTableFree(ObjectTable* table, intptr_t number);
void ObjectTableRewind(ObjectTable* table);
void* ObjectTableNext(ObjectTable* table, intptr_t* number);
void ObjectTableFreeAll(ObjectTable* table);
