// The event state, the queue of window events, the event wait and the
// procedure of every program window.
#include <cstdint>

#include "core/memory.h"
#include "gadget/gadget.h"
#include "window/window.h"
#include "window/window_library.h"

namespace {

EventState* Events() {
  WindowLibrary* library = WindowLibraryGet();
  return library != nullptr ? library->events : nullptr;
}

// The number of the nearest program window at or above the given one, or -1.
intptr_t FindWindowNumber(HWND window) {
  for (HWND current = window; current != nullptr; current = GetParent(current)) {
    intptr_t number = WindowNumberOf(current);
    if (number != -1) return number;
  }
  return -1;
}

LRESULT ForwardToGadget(HWND control, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT reply = GadgetMessageForward(control, window, message, wParam, lParam);
  if (uint32_t(reply) == MESSAGE_NOT_HANDLED) return DefWindowProcA(window, message, wParam, lParam);
  return reply;
}

void QueueForWindow(int32_t code, intptr_t number) {
  EventQueueAdd(code, int32_t(number));
}

LRESULT OnSize(HWND window, WPARAM sizeType) {
  // During creation the number is not attached yet: no event.
  intptr_t number = WindowNumberOf(window);
  if (number == -1) return 1;
  Window* record = WindowGet(number);
  if (record == nullptr) return 1;
  switch (sizeType) {
    case SIZE_RESTORED:
      if (record->minMaxState == 1) {
        record->minMaxState = 0;
        QueueForWindow(EVENT_WINDOW_RESTORED, number);
      }
      QueueForWindow(EVENT_WINDOW_SIZED, number);
      break;
    case SIZE_MINIMIZED:
      record->minMaxState = 1;
      QueueForWindow(EVENT_WINDOW_MINIMIZED, number);
      break;
    case SIZE_MAXIMIZED:
      record->minMaxState = 1;
      QueueForWindow(EVENT_WINDOW_MAXIMIZED, number);
      QueueForWindow(EVENT_WINDOW_SIZED, number);
      break;
    default:
      QueueForWindow(EVENT_WINDOW_SIZED, number);
      break;
  }
  return 0;
}

BOOL CALLBACK SendSystemColorChange(HWND descendant, LPARAM) {
  SendMessageA(descendant, WM_SYSCOLORCHANGE, 0, 0);
  return TRUE;
}

void SetPendingGadgetEvent(EventState* events, int32_t gadget, int32_t type) {
  events->pendingEvent = EVENT_GADGET;
  events->eventGadget = gadget;
  events->eventType = type;
}

LRESULT OnCommand(EventState* events, HWND window, WPARAM wParam, LPARAM lParam) {
  HWND control = reinterpret_cast<HWND>(lParam);
  if (uint32_t(GadgetMessageForward(control, window, WM_COMMAND, wParam, lParam)) != MESSAGE_NOT_HANDLED) return 0;
  if (control != nullptr) {
    SetPendingGadgetEvent(events, GetWindowLongA(control, GWL_ID), HIWORD(wParam));
  } else if (HIWORD(wParam) != 0) {
    // One of the two shortcuts of the window's table.
    if (LOWORD(wParam) == SHORTCUT_FOCUS_NEXT) FocusMove(FOCUS_FORWARD);
    if (LOWORD(wParam) == SHORTCUT_FOCUS_PREVIOUS) FocusMove(FOCUS_BACKWARD);
  }
  return 0;
}

// Offers the message to the active program window's shortcut table. True when
// it was a shortcut, which has then been carried out.
bool TranslateShortcut(MSG* message) {
  HWND active = GetActiveWindow();
  intptr_t number = WindowNumberOf(active);
  if (number == -1) return false;
  Window* record = WindowGet(number);
  if (record == nullptr || record->shortcutTable == nullptr) return false;
  return TranslateAcceleratorA(active, record->shortcutTable, message) != 0;
}

}  // namespace

const EventState* EventStateGet() {
  return Events();
}

int32_t EventGadgetNumber() {
  EventState* events = Events();
  return events != nullptr ? events->eventGadget : 0;
}

int32_t EventType() {
  EventState* events = Events();
  return events != nullptr ? events->eventType : -1;
}

int32_t EventWindow() {
  EventState* events = Events();
  return events != nullptr ? events->eventWindow : -1;
}

void EventQueueAdd(int32_t code, int32_t window) {
  EventState* events = Events();
  if (events == nullptr) return;
  QueuedEvent* newest = events->queueTail;
  // A repeat of the newest event is merged into it.
  if (newest != nullptr && newest->code == code && newest->window == window) return;
  auto* event = static_cast<QueuedEvent*>(ProgramAlloc(sizeof(QueuedEvent), true));
  if (event == nullptr) return;
  event->code = code;
  event->window = window;
  if (newest != nullptr) {
    newest->next = event;
  } else {
    events->queueHead = event;
  }
  events->queueTail = event;
}

int32_t EventWait() {
  EventState* events = Events();
  if (events == nullptr) return 0;
  events->eventType = -1;

  // Window events queued earlier come first, and a gadget event that a window
  // procedure left while no wait ran (inside a command) goes with them: it
  // belongs to a moment that has passed.
  if (QueuedEvent* oldest = events->queueHead) {
    events->queueHead = oldest->next;
    if (events->queueHead == nullptr) events->queueTail = nullptr;
    events->eventWindow = oldest->window;
    events->pendingEvent = 0;
    int32_t code = oldest->code;
    ProgramFree(oldest);
    return code;
  }

  MSG message = {};
  GetMessageA(&message, nullptr, 0, 0);
  if (!TranslateShortcut(&message)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // Set by this message's procedure, or left from outside a wait: either way
  // it stands in for the message's number.
  if (events->pendingEvent != 0) {
    int32_t code = events->pendingEvent;
    events->pendingEvent = 0;
    return code;
  }
  return int32_t(message.message);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  EventState* events = Events();
  if (events == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  intptr_t number = FindWindowNumber(window);
  events->eventWindow = int32_t(number);

  switch (message) {
    case WM_MOVE:
      if (number != -1) QueueForWindow(EVENT_WINDOW_MOVED, number);
      return 0;
    case WM_SIZE:
      return OnSize(window, wParam);
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) QueueForWindow(EVENT_WINDOW_ACTIVATED, number);
      // The default handling (focus to the window itself) does not run.
      return 1;
    case WM_CLOSE:
      // A close request is only reported; the program closes the window.
      if (number != -1) QueueForWindow(EVENT_CLOSE_WINDOW, number);
      return 0;
    case WM_ERASEBKGND:
      QueueForWindow(EVENT_WINDOW_REPAINT, number);
      break;
    case WM_SYSCOLORCHANGE:
      // Controls take up the new system colours only when told.
      if (WindowGet(number) != nullptr) EnumChildWindows(window, SendSystemColorChange, 0);
      break;
    case WM_NOTIFY: {
      HWND control = lParam != 0 ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom : nullptr;
      return ForwardToGadget(control, window, message, wParam, lParam);
    }
    case WM_COMMAND:
      return OnCommand(events, window, wParam, lParam);
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return ForwardToGadget(reinterpret_cast<HWND>(lParam), window, message, wParam, lParam);
    case GADGET_EVENT_MESSAGE:
      SetPendingGadgetEvent(events, int32_t(wParam), int32_t(lParam));
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
