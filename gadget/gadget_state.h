// The gadget library's process-wide state: one zero-filled block of the
// program heap, made by GadgetLibraryInit. Internal to gadget/.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/object_table.h"
#include "gadget/gadget.h"

// Which window receives new gadgets, and the font they get. The current
// gadget-list window is parent while depth is 0, else stack[0].
struct GadgetListState {
  HWND parent;
  HFONT font;
  HWND* stack;  // enclosing parents of container gadgets (none exist yet)
  int32_t depth;
  int32_t capacity;
};

// Kept with a window that has been a gadget list, as a window property.
struct GadgetListSave {
  HWND window;
  HWND parent;
  HWND* stack;
  int32_t depth;
  int32_t capacity;
  WNDPROC previousProc;
};

// Payload of a brush cache node.
struct BrushEntry {
  COLORREF color;
  HBRUSH brush;
  int32_t references;
};

struct GadgetLibraryState {
  ObjectTable* gadgets;
  GadgetListState* list;
  CRITICAL_SECTION brushLock;
  Node* brushes;  // newest first
  // List view values, taken at its first creation.
  WNDPROC listBoxProc;
  int32_t dragWidth;
  int32_t dragHeight;
  bool listViewReady;
};

// Null before GadgetLibraryInit.
GadgetLibraryState* GadgetState();

constexpr int32_t GADGET_STACK_CAPACITY = 10;

// The window whose gadget list is current, or null.
HWND GadgetListCurrent();

// The common steps of every creation. GadgetCreateControl makes the control
// on the current gadget list with identifier -1 (null when there is no list
// or the platform refuses). GadgetAllocate then takes the number's record,
// which destroys a gadget still under the number; on failure it destroys the
// new control and returns null, so nothing changes but the old gadget's end.
HWND GadgetCreateControl(intptr_t number, DWORD extendedStyle, const char* className, const char* text, DWORD style,
                         int32_t x, int32_t y, int32_t width, int32_t height);
Gadget* GadgetAllocate(intptr_t number, HWND control);
