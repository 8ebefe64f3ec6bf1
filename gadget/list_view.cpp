// The list view: a single-column list box of text rows in insertion order,
// each with a 32-bit data value, in single or multiple selection. Its
// notifications and the press, release and drag that ListViewWindowProc
// tracks all reach the program as posted gadget events.
#include <cstring>

#include "core/memory.h"
#include "gadget/gadget.h"
#include "gadget/gadget_state.h"

namespace {

// WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_GROUP | WS_TABSTOP |
// LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS | LBS_NOTIFY. No LBS_SORT: rows keep
// their insertion order; the control keeps exactly the height it is given.
constexpr DWORD LIST_VIEW_STYLE = 0x50330141;

const LRESULT NOT_HANDLED = static_cast<LRESULT>(MESSAGE_NOT_HANDLED);

// The press position of a tracked press, and the mark that tracking is on:
// a press at client point (0, 0) has position 0, so the position alone
// cannot tell tracking from no tracking.
constexpr char PRESS_POSITION_PROPERTY[] = "ListViewPressPosition";
constexpr char PRESS_TRACKING_PROPERTY[] = "ListViewPressTracking";

// The background painted behind coloured text when no background is set.
constexpr int TEXT_ONLY_BACKGROUND = COLOR_BTNHIGHLIGHT;

LRESULT Send(Gadget* gadget, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(gadget->window, message, wParam, lParam);
}

bool MultipleSelection(HWND control) {
  return (GetWindowLongA(control, GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

intptr_t ListViewGetState(Gadget* gadget) {
  if (!MultipleSelection(gadget->window)) return Send(gadget, LB_GETCURSEL, 0, 0);
  int row = -1;
  if (Send(gadget, LB_GETSELITEMS, 1, reinterpret_cast<LPARAM>(&row)) != 1) return -1;
  return row;
}

intptr_t ListViewSetState(Gadget* gadget, intptr_t row) {
  if (!MultipleSelection(gadget->window)) return Send(gadget, LB_SETCURSEL, WPARAM(row), 0);
  LRESULT count = Send(gadget, LB_GETCOUNT, 0, 0);
  // A range from high to low deselects it.
  LRESULT reply = Send(gadget, LB_SELITEMRANGEEX, WPARAM(count - 1), 0);
  if (row != -1) reply = Send(gadget, LB_SETSEL, TRUE, row);
  return reply;
}

// Rows come back whole at any length: the text is read as wide characters
// into room sized by the row's own length and converted to the ANSI code
// page, which gives the bytes that were added. Reading it with the ANSI
// message is not safe: under the common controls 6.0 some platforms convert
// it through a fixed 512-character buffer and overrun it. For the same reason
// every procedure in front of the list box is a wide one (GadgetRegister).
String ListViewGetItemText(Gadget* gadget, intptr_t row, intptr_t) {
  LRESULT length = SendMessageW(gadget->window, LB_GETTEXTLEN, WPARAM(row), 0);
  if (length == LB_ERR || length < 0) return String("");
  size_t room = size_t(length) + 1;
  auto* wide = static_cast<wchar_t*>(ProgramAlloc(room * sizeof(wchar_t), false));
  if (wide == nullptr) return String("");
  wide[0] = L'\0';
  LRESULT copied = SendMessageW(gadget->window, LB_GETTEXT, WPARAM(row), reinterpret_cast<LPARAM>(wide));
  String text("");
  if (copied != LB_ERR && copied > 0) {
    int characters = int(copied < length ? copied : length);
    wide[characters] = L'\0';
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, characters, nullptr, 0, nullptr, nullptr);
    char* out = bytes > 0 ? text.Reserve(size_t(bytes)) : nullptr;
    if (out != nullptr) {
      WideCharToMultiByte(CP_ACP, 0, wide, characters, out, bytes, nullptr, nullptr);
      // The text ends at its first NUL.
      size_t end = strnlen(out, size_t(bytes));
      if (end < size_t(bytes)) text = String(out, end);
    }
  }
  ProgramFree(wide);
  return text;
}

String ListViewGetText(Gadget* gadget) {
  LRESULT row = Send(gadget, LB_GETCURSEL, 0, 0);
  return ListViewGetItemText(gadget, row, 0);
}

intptr_t ListViewSetText(Gadget* gadget, const char* text) {
  LRESULT row = Send(gadget, LB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(text));
  // LB_ERR when no row matches, which clears the selection.
  return Send(gadget, LB_SETCURSEL, WPARAM(row), 0);
}

intptr_t ListViewAddItem(Gadget* gadget, intptr_t position, const char* text, intptr_t) {
  Send(gadget, LB_INSERTSTRING, WPARAM(position), reinterpret_cast<LPARAM>(text));
  return 0;
}

intptr_t ListViewRemoveItem(Gadget* gadget, intptr_t row) {
  return Send(gadget, LB_DELETESTRING, WPARAM(row), 0);
}

void ListViewClearItems(Gadget* gadget) {
  Send(gadget, LB_RESETCONTENT, 0, 0);
}

intptr_t ListViewCountItems(Gadget* gadget) {
  return Send(gadget, LB_GETCOUNT, 0, 0);
}

intptr_t ListViewGetItemState(Gadget* gadget, intptr_t row) {
  return Send(gadget, LB_GETSEL, WPARAM(row), 0);
}

intptr_t ListViewSetItemState(Gadget* gadget, intptr_t row, intptr_t state) {
  return Send(gadget, LB_SETSEL, state != 0 ? TRUE : FALSE, row);
}

intptr_t ListViewSetItemText(Gadget* gadget, intptr_t row, const char* text, intptr_t) {
  LRESULT data = Send(gadget, LB_GETITEMDATA, WPARAM(row), 0);
  if (Send(gadget, LB_DELETESTRING, WPARAM(row), 0) == LB_ERR) return -1;
  Send(gadget, LB_INSERTSTRING, WPARAM(row), reinterpret_cast<LPARAM>(text));
  return Send(gadget, LB_SETITEMDATA, WPARAM(row), data);
}

intptr_t ListViewSetColor(Gadget* gadget, int32_t which, int32_t color) {
  if (which == GADGET_COLOR_TEXT) {
    gadget->frontColor = color;
  } else if (which == GADGET_COLOR_BACKGROUND) {
    if (gadget->backBrush != nullptr) BrushRelease(gadget->backBrush);
    gadget->backBrush = color == -1 ? nullptr : BrushAcquire(COLORREF(color));
    gadget->backColor = color;
  }
  return RedrawWindow(gadget->window, nullptr, nullptr, RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE | RDW_FRAME);
}

int32_t ListViewGetColor(Gadget* gadget, int32_t which) {
  if (which == GADGET_COLOR_TEXT) return gadget->frontColor;
  if (which == GADGET_COLOR_BACKGROUND) return gadget->backColor;
  return -1;
}

intptr_t ListViewSetItemData(Gadget* gadget, intptr_t row, intptr_t value) {
  return Send(gadget, LB_SETITEMDATA, WPARAM(row), value);
}

intptr_t ListViewGetItemData(Gadget* gadget, intptr_t row) {
  return Send(gadget, LB_GETITEMDATA, WPARAM(row), 0);
}

void ListViewOnDestroy(Gadget* gadget) {
  if (gadget->backBrush != nullptr) BrushRelease(gadget->backBrush);
  gadget->backBrush = nullptr;
}

LRESULT ListViewColors(Gadget* gadget, HDC dc) {
  LRESULT reply = NOT_HANDLED;
  if (gadget->frontColor != -1) {
    SetTextColor(dc, COLORREF(gadget->frontColor));
    if (gadget->backColor == -1) {
      SetBkColor(dc, GetSysColor(TEXT_ONLY_BACKGROUND));
      reply = reinterpret_cast<LRESULT>(GetSysColorBrush(TEXT_ONLY_BACKGROUND));
    }
  }
  if (gadget->backColor != -1) {
    SetBkColor(dc, COLORREF(gadget->backColor));
    reply = reinterpret_cast<LRESULT>(gadget->backBrush);
  }
  return reply;
}

LRESULT ListViewOnMessage(Gadget* gadget, HWND, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_COMMAND:
      // Answered in every case, so the parent makes no event of its own.
      if (HIWORD(wParam) == LBN_DBLCLK) GadgetPostEvent(gadget->window, EVENT_TYPE_DOUBLE_CLICK);
      if (HIWORD(wParam) == LBN_SELCHANGE) GadgetPostEvent(gadget->window, EVENT_TYPE_CLICK);
      return 0;
    case WM_CTLCOLORLISTBOX:
      return ListViewColors(gadget, reinterpret_cast<HDC>(wParam));
    default:
      return NOT_HANDLED;
  }
}

constexpr GadgetKind LIST_VIEW_KIND = {
    .kindId = GADGET_KIND_LIST_VIEW,
    .onMessage = ListViewOnMessage,
    .onDestroy = ListViewOnDestroy,
    .getState = ListViewGetState,
    .setState = ListViewSetState,
    .getText = ListViewGetText,
    .setText = ListViewSetText,
    .addItem = ListViewAddItem,
    .removeItem = ListViewRemoveItem,
    .clearItems = ListViewClearItems,
    .countItems = ListViewCountItems,
    .getItemState = ListViewGetItemState,
    .setItemState = ListViewSetItemState,
    .getItemText = ListViewGetItemText,
    .setItemText = ListViewSetItemText,
    .setColor = ListViewSetColor,
    .getColor = ListViewGetColor,
    .setItemData = ListViewSetItemData,
    .getItemData = ListViewGetItemData,
};

// Mouse tracking: from a press on a row until its release or a drag.

bool Tracking(HWND control) {
  return GetPropA(control, PRESS_TRACKING_PROPERTY) != nullptr;
}

void TrackingStart(HWND control, LPARAM position) {
  SetPropA(control, PRESS_POSITION_PROPERTY, reinterpret_cast<HANDLE>(position));
  SetPropA(control, PRESS_TRACKING_PROPERTY, reinterpret_cast<HANDLE>(1));
  SetCapture(control);
}

void TrackingEnd(HWND control) {
  RemovePropA(control, PRESS_TRACKING_PROPERTY);
  RemovePropA(control, PRESS_POSITION_PROPERTY);
  ReleaseCapture();
}

LRESULT PassOn(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  GadgetLibraryState* state = GadgetState();
  if (state == nullptr || state->listBoxProc == nullptr) return DefWindowProcW(control, message, wParam, lParam);
  return CallWindowProcW(state->listBoxProc, control, message, wParam, lParam);
}

LRESULT OnPress(HWND control, WPARAM keys, LPARAM position) {
  if ((keys & (MK_SHIFT | MK_CONTROL)) != 0) return PassOn(control, WM_LBUTTONDOWN, keys, position);
  LRESULT hit = SendMessageA(control, LB_ITEMFROMPOINT, 0, position);
  // The high word is set when the point lies outside every row.
  if (HIWORD(hit) != 0) return PassOn(control, WM_LBUTTONDOWN, keys, position);
  WORD row = LOWORD(hit);
  bool extended = (GetWindowLongA(control, GWL_STYLE) & LBS_EXTENDEDSEL) != 0;
  if (extended && SendMessageA(control, LB_GETSEL, row, 0) <= 0) return PassOn(control, WM_LBUTTONDOWN, keys, position);
  TrackingStart(control, position);
  // A press inside an extended selection is kept from the list box, so that
  // the selection it lands in survives for the drag.
  if (extended) return 0;
  return PassOn(control, WM_LBUTTONDOWN, keys, position);
}

void OnMove(HWND control, LPARAM position) {
  GadgetLibraryState* state = GadgetState();
  if (state == nullptr) return;
  auto press = LPARAM(reinterpret_cast<intptr_t>(GetPropA(control, PRESS_POSITION_PROPERTY)));
  int dx = int(short(LOWORD(position))) - int(short(LOWORD(press)));
  int dy = int(short(HIWORD(position))) - int(short(HIWORD(press)));
  if (dx > state->dragWidth || dx < -state->dragWidth || dy > state->dragHeight || dy < -state->dragHeight) {
    TrackingEnd(control);
    GadgetPostEvent(control, EVENT_TYPE_DRAG_START);
  }
}

// The list box sees the release before the click is posted: it reports the
// selection that the press made only on the release, and the events are to
// keep the order of the actions that caused them, the press first.
LRESULT OnRelease(HWND control, WPARAM keys, LPARAM position) {
  if (!Tracking(control)) return PassOn(control, WM_LBUTTONUP, keys, position);
  LRESULT reply = PassOn(control, WM_LBUTTONUP, keys, position);
  TrackingEnd(control);
  GadgetPostEvent(control, EVENT_TYPE_CLICK);
  return reply;
}

}  // namespace

LRESULT CALLBACK ListViewWindowProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
      return OnPress(control, wParam, lParam);
    case WM_MOUSEMOVE:
      if (Tracking(control)) OnMove(control, lParam);
      break;
    case WM_LBUTTONUP:
      return OnRelease(control, wParam, lParam);
    case WM_NCDESTROY:
      RemovePropA(control, PRESS_TRACKING_PROPERTY);
      RemovePropA(control, PRESS_POSITION_PROPERTY);
      break;
    default:
      break;
  }
  return PassOn(control, message, wParam, lParam);
}

intptr_t GadgetCreateListView(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags) {
  GadgetLibraryState* state = GadgetState();
  if (state == nullptr) return 0;
  if (!state->listViewReady) {
    state->dragWidth = GetSystemMetrics(SM_CXDRAG);
    state->dragHeight = GetSystemMetrics(SM_CYDRAG);
    state->listViewReady = true;
  }
  HWND control =
      GadgetCreateControl(number, WS_EX_CLIENTEDGE, "ListBox", nullptr, flags | LIST_VIEW_STYLE, x, y, width, height);
  if (control == nullptr) return 0;
  Gadget* gadget = GadgetAllocate(number, control);
  if (gadget == nullptr) return 0;
  gadget->backColor = -1;
  gadget->frontColor = -1;
  // Every list box shares the class procedure; the latest creation's is kept.
  state->listBoxProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListViewWindowProc)));
  return GadgetRegister(number, gadget, control, &LIST_VIEW_KIND);
}
