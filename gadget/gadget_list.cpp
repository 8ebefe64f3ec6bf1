// The current gadget list: the window on which new gadgets are created. Each
// window that has been current keeps its list in a property until it is
// destroyed, so switching back to it restores its list.
#include <cstdio>

#include "core/memory.h"
#include "gadget/gadget.h"
#include "gadget/gadget_state.h"

namespace {

// The property name carries the module instance, so two modules in one
// process keep their lists apart.
struct PropertyName {
  char text[40];
};

PropertyName GadgetListProperty() {
  PropertyName name;
  snprintf(name.text, sizeof name.text, "GadgetList_%i",
           static_cast<int>(reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr))));
  return name;
}

GadgetListSave* SavedList(HWND window) {
  return static_cast<GadgetListSave*>(GetPropA(window, GadgetListProperty().text));
}

GadgetListState* ListState() {
  GadgetLibraryState* state = GadgetState();
  return state != nullptr ? state->list : nullptr;
}

HWND CurrentWindow(const GadgetListState* list) {
  if (list->depth == 0) return list->parent;
  return list->stack[0];
}

void SaveCurrent(GadgetListState* list, HWND current) {
  GadgetListSave* save = SavedList(current);
  // A window that could not take its property keeps nothing; the stack array
  // then stays with the state for the next list.
  if (save == nullptr) return;
  save->parent = list->parent;
  save->stack = list->stack;
  save->depth = list->depth;
  save->capacity = list->capacity;
  list->stack = nullptr;
}

void RestoreSaved(GadgetListState* list, GadgetListSave* save) {
  if (list->stack != nullptr) ProgramFree(list->stack);
  list->parent = save->parent;
  list->stack = save->stack;
  list->depth = save->depth;
  list->capacity = save->capacity;
  save->stack = nullptr;
}

void StartNewList(GadgetListState* list, HWND window) {
  if (list->stack == nullptr) {
    list->stack = static_cast<HWND*>(ProgramAlloc(GADGET_STACK_CAPACITY * sizeof(HWND), true));
    list->capacity = list->stack != nullptr ? GADGET_STACK_CAPACITY : 0;
  }
  list->depth = 0;
  list->parent = window;

  auto* save = static_cast<GadgetListSave*>(ProgramAlloc(sizeof(GadgetListSave), true));
  if (save == nullptr) return;
  save->window = window;
  if (!SetPropA(window, GadgetListProperty().text, save)) {
    ProgramFree(save);
    return;
  }
  save->previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GadgetListWindowProc)));
}

}  // namespace

HWND GadgetListCurrent() {
  GadgetListState* list = ListState();
  return list != nullptr ? CurrentWindow(list) : nullptr;
}

HWND GadgetListUse(HWND window) {
  GadgetListState* list = ListState();
  if (list == nullptr) return nullptr;
  HWND previous = CurrentWindow(list);
  if (window == nullptr) return previous;
  if (previous != nullptr) SaveCurrent(list, previous);
  GadgetListSave* save = SavedList(window);
  if (save != nullptr) {
    RestoreSaved(list, save);
  } else {
    StartNewList(list, window);
  }
  return previous;
}

LRESULT CALLBACK GadgetListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  GadgetListSave* save = SavedList(window);
  if (save == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  WNDPROC previousProc = save->previousProc;
  if (message == WM_NCDESTROY) {
    GadgetListState* list = ListState();
    // The current list goes with its window: creations fail until another
    // window becomes current.
    if (list != nullptr && CurrentWindow(list) == window) {
      list->parent = nullptr;
      list->depth = 0;
    }
    if (save->stack != nullptr) ProgramFree(save->stack);
    ProgramFree(save);
    RemovePropA(window, GadgetListProperty().text);
  }
  if (previousProc == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return CallWindowProcA(previousProc, window, message, wParam, lParam);
}
