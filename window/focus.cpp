// Tab and Shift+Tab: the keyboard focus moves among the tab stops of the
// active window in the platform's child-window order, which is the order the
// controls were created in, wrapping around at both ends.
#include "window/window.h"

namespace {

struct FocusWalk {
  HWND current;   // the focused descendant of the container, or null
  HWND previous;  // backward: the last tab stop seen
  bool passed;    // forward: current was the tab stop just visited
  bool moved;     // the focus has been moved
};

bool IsTabStop(HWND window) {
  return IsWindowEnabled(window) && IsWindowVisible(window) && (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP) != 0;
}

BOOL CALLBACK StepForward(HWND window, LPARAM context) {
  auto* walk = reinterpret_cast<FocusWalk*>(context);
  if (!IsTabStop(window)) return TRUE;
  if (walk->passed || walk->current == nullptr) {
    SetFocus(window);
    walk->passed = false;
    walk->moved = true;
    return FALSE;
  }
  if (window == walk->current) walk->passed = true;
  return TRUE;
}

BOOL CALLBACK StepBackward(HWND window, LPARAM context) {
  auto* walk = reinterpret_cast<FocusWalk*>(context);
  if (!IsTabStop(window)) return TRUE;
  if (window == walk->current && walk->previous != nullptr) {
    SetFocus(walk->previous);
    walk->moved = true;
    walk->previous = window;
    return FALSE;
  }
  walk->previous = window;
  return TRUE;
}

}  // namespace

void FocusMove(int32_t direction) {
  HWND container = GetActiveWindow();
  // Without an active window the walk would run over every top-level window.
  if (container == nullptr) return;
  FocusWalk walk = {};
  HWND focus = GetFocus();
  if (focus != nullptr && IsChild(container, focus)) walk.current = focus;

  if (direction == FOCUS_FORWARD) {
    EnumChildWindows(container, StepForward, reinterpret_cast<LPARAM>(&walk));
    // current was the last tab stop: the first one gets the focus.
    if (walk.passed) {
      walk.current = nullptr;
      EnumChildWindows(container, StepForward, reinterpret_cast<LPARAM>(&walk));
    }
    return;
  }
  EnumChildWindows(container, StepBackward, reinterpret_cast<LPARAM>(&walk));
  // current was the first tab stop, none, or not a tab stop: the last one.
  if (!walk.moved && walk.previous != nullptr) SetFocus(walk.previous);
}
