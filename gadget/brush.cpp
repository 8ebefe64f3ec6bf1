// Solid brushes for gadget colours, shared by reference count: gadgets of one
// colour paint with one brush, deleted when the last of them lets go.
#include "core/object_table.h"
#include "gadget/gadget.h"
#include "gadget/gadget_state.h"

namespace {

class BrushLock {
 public:
  explicit BrushLock(GadgetLibraryState* state) : state_(state) { EnterCriticalSection(&state_->brushLock); }
  ~BrushLock() { LeaveCriticalSection(&state_->brushLock); }
  BrushLock(const BrushLock&) = delete;
  BrushLock& operator=(const BrushLock&) = delete;

 private:
  GadgetLibraryState* state_;
};

BrushEntry* Entry(Node* node) {
  return static_cast<BrushEntry*>(NodePayload(node));
}

}  // namespace

HBRUSH BrushAcquire(COLORREF color) {
  GadgetLibraryState* state = GadgetState();
  if (state == nullptr) return nullptr;
  BrushLock lock(state);
  for (Node* node = state->brushes; node != nullptr; node = node->next) {
    BrushEntry* entry = Entry(node);
    if (entry->color != color) continue;
    entry->references++;
    return entry->brush;
  }
  auto* entry = static_cast<BrushEntry*>(NodeListAdd(state->brushes, sizeof(BrushEntry)));
  if (entry == nullptr) return nullptr;
  entry->brush = CreateSolidBrush(color);
  // A node without a brush could never be released: keep none.
  if (entry->brush == nullptr) {
    NodeListRemove(state->brushes, entry);
    return nullptr;
  }
  entry->color = color;
  entry->references = 1;
  return entry->brush;
}

void BrushRelease(HBRUSH brush) {
  GadgetLibraryState* state = GadgetState();
  if (state == nullptr || brush == nullptr) return;
  BrushLock lock(state);
  for (Node* node = state->brushes; node != nullptr; node = node->next) {
    BrushEntry* entry = Entry(node);
    if (entry->brush != brush) continue;
    if (--entry->references == 0) {
      DeleteObject(entry->brush);
      NodeListRemove(state->brushes, entry);
    }
    return;
  }
}
