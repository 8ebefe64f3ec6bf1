// Numbered top-level windows, the window procedure that turns their messages
// into events, the event queue with the event wait, and Tab focus movement.
//
// Window events (moved, sized, repaint, close request, activated, minimized,
// maximized, restored) go into one first-in first-out queue; gadget events go
// into a single pending slot that the running wait returns as soon as the
// message that caused them has been dispatched. A gadget event left while no
// wait runs is returned by the next wait in place of its message's number, or
// dropped when that wait finds window events queued.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/event_codes.h"
#include "core/object_table.h"

// Window events. The codes below 13100 equal the numbers of the platform
// messages WM_MOVE, WM_SIZE and WM_PAINT; the repaint event is queued on
// WM_ERASEBKGND, which is sent while a window is painted.
constexpr int32_t EVENT_WINDOW_MOVED = 3;
constexpr int32_t EVENT_WINDOW_SIZED = 5;
constexpr int32_t EVENT_WINDOW_REPAINT = 15;
constexpr int32_t EVENT_WINDOW_ACTIVATED = 13104;
constexpr int32_t EVENT_WINDOW_MINIMIZED = 13107;
constexpr int32_t EVENT_WINDOW_MAXIMIZED = 13108;
constexpr int32_t EVENT_WINDOW_RESTORED = 13109;

// Flags of WindowOpen that belong to this system. Every other bit is a window
// style and goes to CreateWindowExA unchanged.
constexpr uint32_t WINDOW_CENTER_ON_SCREEN = 0x00000001;
// Only when WINDOW_CENTER_ON_SCREEN is clear; x and y serve when no window is active.
constexpr uint32_t WINDOW_CENTER_ON_ACTIVE = 0x00000002;
constexpr uint32_t WINDOW_WITHOUT_GADGET_LIST = 0x00000008;
constexpr uint32_t WINDOW_START_HIDDEN = 0x10000000;

// x or y with this value (and no centring flag) lets the platform place the window.
constexpr int32_t WINDOW_DEFAULT_POSITION = -65535;

// Commands of the two entries of every window's shortcut table.
constexpr WORD SHORTCUT_FOCUS_NEXT = 64001;
constexpr WORD SHORTCUT_FOCUS_PREVIOUS = 64002;

// FocusMove directions.
constexpr int32_t FOCUS_FORWARD = 0;
constexpr int32_t FOCUS_BACKWARD = 1;

// One per open window, kept in the window table. The handle comes first: the
// table takes a record to be in use while that field is non-zero.
struct Window {
  HWND window;
  ACCEL* shortcuts;
  HACCEL shortcutTable;
  int32_t shortcutCount;
  // 1 while the window is minimized or maximized, else 0.
  int32_t minMaxState;
};

struct QueuedEvent {
  QueuedEvent* next;  // the next newer event, null for the newest
  int32_t code;
  int32_t window;
};

struct EventState {
  int32_t eventGadget;     // gadget number of the last EVENT_GADGET
  int32_t eventWindow;     // window the last event concerns; -1 for a window without number
  int32_t eventType;       // event type of the last EVENT_GADGET; -1 from the start of each wait
  int32_t pendingEvent;    // left by WindowProc for the running wait; 0 = none
  QueuedEvent* queueHead;  // oldest
  QueuedEvent* queueTail;  // newest
};

// Start and end of the library. The end step closes every open window; the
// window table and the event state live on until the process ends.
void WindowLibraryInit();
void WindowLibraryEnd();

// Opens a window whose client area is width x height. Returns the window
// handle, the new window's identity for OBJECT_ANY, 0 on failure. A window
// still open under the number is closed first.
intptr_t WindowOpen(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* title,
                    uint32_t flags);
// Does nothing for a number without an open window.
void WindowClose(intptr_t number);
// The window table; null before WindowLibraryInit.
ObjectTable* WindowTable();
// The open window's record, or null. Valid until the next WindowOpen.
Window* WindowGet(intptr_t number);
// The number of the program window that carries the window-number property,
// or -1 when the handle is not such a window.
intptr_t WindowNumberOf(HWND window);

// Returns a queued window event or, after taking and dispatching exactly one
// platform message, the gadget event it caused or else the message's number.
// The event type reads -1 from the start of every wait. A gadget event that a
// window procedure left while no wait ran (a control notifying inside a
// command) is returned by the next wait after its own message has been
// dispatched, in place of that message's number; when that wait finds window
// events queued, it returns the oldest of them and the gadget event is gone.
int32_t EventWait();
int32_t EventGadgetNumber();
int32_t EventType();
int32_t EventWindow();
// The process's event state, for inspection; null before WindowLibraryInit.
const EventState* EventStateGet();
// Appends a window event; a repeat of the newest queued event is merged into it.
void EventQueueAdd(int32_t code, int32_t window);

// The procedure of every program window.
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the keyboard focus to the next (FOCUS_FORWARD) or previous tab stop of
// the active window, wrapping around at both ends.
void FocusMove(int32_t direction);
