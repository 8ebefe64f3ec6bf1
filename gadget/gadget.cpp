// The gadget table, registration and subclassing of controls, the forwarding
// of control notifications, and the generic operations by number.
#include "gadget/gadget.h"

#include <commctrl.h>

#include "core/memory.h"
#include "gadget/gadget_state.h"

namespace {

GadgetLibraryState* libraryState;

// Value: the gadget number. Together with the control identifier it tells a
// gadget from a foreign control: the two must agree.
constexpr char GADGET_NUMBER_PROPERTY[] = "GadgetNumber";

const LRESULT NOT_HANDLED = static_cast<LRESULT>(MESSAGE_NOT_HANDLED);

void GadgetRelease(intptr_t number) {
  GadgetFree(number);
}

intptr_t ControlIdentifier(HWND control) {
  return GetWindowLongPtrA(control, GWLP_ID);
}

}  // namespace

GadgetLibraryState* GadgetState() {
  return libraryState;
}

void GadgetLibraryInit() {
  auto* state = static_cast<GadgetLibraryState*>(StateBlockCreate(sizeof(GadgetLibraryState)));
  if (state == nullptr) return;
  InitializeCriticalSection(&state->brushLock);
  auto font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  state->gadgets = ObjectTableCreate(sizeof(Gadget), 50, GadgetRelease);
  state->list = static_cast<GadgetListState*>(ProgramAlloc(sizeof(GadgetListState), true));
  if (state->list != nullptr) {
    state->list->font = font;
    state->list->stack = static_cast<HWND*>(ProgramAlloc(GADGET_STACK_CAPACITY * sizeof(HWND), true));
    state->list->capacity = state->list->stack != nullptr ? GADGET_STACK_CAPACITY : 0;
  }
  libraryState = state;
  INITCOMMONCONTROLSEX classes = {8, ICC_TAB_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&classes);
}

void GadgetLibraryEnd() {
  // Gadgets are destroyed with their windows by the window library's end
  // step, which runs next; tables, list state and brushes last until exit.
}

ObjectTable* GadgetTable() {
  return libraryState != nullptr ? libraryState->gadgets : nullptr;
}

Gadget* GadgetGet(intptr_t number) {
  return static_cast<Gadget*>(ObjectTableGet(GadgetTable(), number));
}

HWND GadgetCreateControl(intptr_t number, DWORD extendedStyle, const char* className, const char* text, DWORD style,
                         int32_t x, int32_t y, int32_t width, int32_t height) {
  if (number < 0 && number != OBJECT_ANY) return nullptr;
  HWND parent = GadgetListCurrent();
  if (parent == nullptr || GadgetTable() == nullptr) return nullptr;
  return CreateWindowExA(extendedStyle, className, text, style, x, y, width, height, parent,
                         reinterpret_cast<HMENU>(intptr_t{-1}), GetModuleHandleA(nullptr), nullptr);
}

Gadget* GadgetAllocate(intptr_t number, HWND control) {
  auto* gadget = static_cast<Gadget*>(ObjectTableAllocate(GadgetTable(), number));
  if (gadget == nullptr) {
    DestroyWindow(control);
    return nullptr;
  }
  *gadget = Gadget{};
  return gadget;
}

intptr_t GadgetRegister(intptr_t number, Gadget* gadget, HWND control, const GadgetKind* kind) {
  bool dynamic = number == OBJECT_ANY;
  if (dynamic) number = reinterpret_cast<intptr_t>(gadget);
  gadget->window = control;
  gadget->kind = kind;
  // The subclass procedures of controls are wide-character procedures: they
  // read no text themselves, and a wide chain lets the wide row text of a
  // list view reach the control unconverted. Each change between an ANSI
  // and a wide procedure converts LB_GETTEXT through a fixed 512-character
  // buffer on some platforms, which longer rows overrun.
  gadget->previousProc =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GadgetWindowProc)));
  SetWindowLongPtrA(control, GWLP_ID, number);
  SetPropA(control, GADGET_NUMBER_PROPERTY, reinterpret_cast<HANDLE>(number));
  GadgetListState* list = libraryState->list;
  if (list != nullptr) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(list->font), TRUE);
  return dynamic ? number : reinterpret_cast<intptr_t>(control);
}

LRESULT CALLBACK GadgetWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  intptr_t number = ControlIdentifier(control);
  if (number == -1) return DefWindowProcW(control, message, wParam, lParam);
  Gadget* gadget = GadgetGet(number);
  // Only the record that names this control knows its procedure.
  if (gadget == nullptr || gadget->window != control) return DefWindowProcW(control, message, wParam, lParam);
  LRESULT reply = CallWindowProcW(gadget->previousProc, control, message, wParam, lParam);
  if (message != WM_NCDESTROY) return reply;

  // The control is gone: the number is free from here on. The record is
  // looked up again, as the control's own handling may have moved it.
  gadget = GadgetGet(number);
  if (gadget != nullptr && gadget->kind->onDestroy != nullptr) gadget->kind->onDestroy(gadget);
  RemovePropA(control, GADGET_NUMBER_PROPERTY);
  SetWindowLongPtrA(control, GWLP_ID, -1);
  ObjectTableFree(GadgetTable(), number);
  return reply;
}

intptr_t GadgetNumberOfControl(HWND control) {
  if (control == nullptr) return -1;
  intptr_t number = ControlIdentifier(control);
  if (reinterpret_cast<intptr_t>(GetPropA(control, GADGET_NUMBER_PROPERTY)) != number) return -1;
  Gadget* gadget = GadgetGet(number);
  // A foreign control with identifier 0 and no property would otherwise pass
  // for gadget 0.
  if (gadget == nullptr || gadget->window != control) return -1;
  return number;
}

LRESULT GadgetMessageForward(HWND control, HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
  intptr_t number = GadgetNumberOfControl(control);
  if (number == -1) return NOT_HANDLED;
  Gadget* gadget = GadgetGet(number);
  if (gadget->kind->onMessage == nullptr) return NOT_HANDLED;
  return gadget->kind->onMessage(gadget, parent, message, wParam, lParam);
}

intptr_t GadgetDisable(intptr_t number, intptr_t state) {
  Gadget* gadget = GadgetGet(number);
  if (gadget == nullptr) return 0;
  return EnableWindow(gadget->window, state == 0 ? TRUE : FALSE);
}

intptr_t GadgetGetState(intptr_t number) {
  Gadget* gadget = GadgetGet(number);
  if (gadget == nullptr || gadget->kind->getState == nullptr) return 0;
  return gadget->kind->getState(gadget);
}

String GadgetGetItemText(intptr_t number, intptr_t row, intptr_t extra) {
  Gadget* gadget = GadgetGet(number);
  if (gadget == nullptr || gadget->kind->getItemText == nullptr) return String("");
  return gadget->kind->getItemText(gadget, row, extra);
}

intptr_t GadgetAddItem(intptr_t number, intptr_t position, const char* text, intptr_t extra, intptr_t extraFlags) {
  Gadget* gadget = GadgetGet(number);
  if (gadget == nullptr) return 0;
  if (text == nullptr) text = "";
  if (gadget->kind->addItemEx != nullptr) return gadget->kind->addItemEx(gadget, position, text, extra, extraFlags);
  if (gadget->kind->addItem != nullptr) return gadget->kind->addItem(gadget, position, text, extra);
  return 0;
}

void GadgetClearItems(intptr_t number) {
  Gadget* gadget = GadgetGet(number);
  if (gadget == nullptr || gadget->kind->clearItems == nullptr) return;
  gadget->kind->clearItems(gadget);
}

intptr_t GadgetFree(intptr_t number) {
  Gadget* gadget = GadgetGet(number);
  if (gadget == nullptr) return 0;
  // GadgetWindowProc releases the record while the control is destroyed.
  return DestroyWindow(gadget->window);
}

intptr_t GadgetSetRedraw(intptr_t number, bool on) {
  Gadget* gadget = GadgetGet(number);
  if (gadget == nullptr) return 0;
  SendMessageA(gadget->window, WM_SETREDRAW, on ? TRUE : FALSE, 0);
  if (on) RedrawWindow(gadget->window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  return 1;
}

BOOL GadgetPostEvent(HWND control, int32_t type) {
  // A null control would post to the thread instead of to a window.
  if (control == nullptr) return FALSE;
  HWND owner = control;
  for (;;) {
    HWND parent = GetParent(owner);
    if (parent == nullptr || GetPropA(owner, WINDOW_NUMBER_PROPERTY) != nullptr) break;
    owner = parent;
  }
  LONG identifier = GetWindowLongA(control, GWL_ID);
  return PostMessageA(owner, GADGET_EVENT_MESSAGE, WPARAM(identifier), LPARAM(type));
}
