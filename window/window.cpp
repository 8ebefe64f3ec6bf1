// The window table, opening and closing numbered windows, and posting gadget
// events to the window that owns a control.
#include "window/window.h"

#include <cstdio>

#include "core/memory.h"
#include "gadget/gadget.h"
#include "window/window_library.h"

namespace {

constexpr int32_t WINDOW_TABLE_GROWTH = 16;
constexpr int32_t SHORTCUT_COUNT = 2;
constexpr uint32_t OWN_FLAGS = WINDOW_CENTER_ON_SCREEN | WINDOW_CENTER_ON_ACTIVE | WINDOW_START_HIDDEN;

WindowLibrary* library;

struct ClassName {
  char text[32];
};

ClassName ClassNameOf(intptr_t number) {
  ClassName name;
  snprintf(name.text, sizeof name.text, "WindowClass_%d", int(number));
  return name;
}

void RegisterWindowClass(const ClassName& name) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = library->module;
  windowClass.hIcon = library->classIcon;
  windowClass.hCursor = library->classCursor;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name.text;
  // A failure shows as a failed creation.
  RegisterClassA(&windowClass);
}

struct Placement {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// Outer size from the client size, then the position by the centring flags.
Placement PlaceWindow(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags, DWORD style) {
  RECT outer = {0, 0, width, height};
  AdjustWindowRect(&outer, style, FALSE);
  Placement place = {x, y, outer.right - outer.left, outer.bottom - outer.top};
  bool onScreen = (flags & WINDOW_CENTER_ON_SCREEN) != 0;
  bool onActive = (flags & WINDOW_CENTER_ON_ACTIVE) != 0;
  if (!onScreen && !onActive && (x == WINDOW_DEFAULT_POSITION || y == WINDOW_DEFAULT_POSITION)) {
    place.x = CW_USEDEFAULT;
    place.y = CW_USEDEFAULT;
  } else if (onScreen) {
    int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (place.width > screenWidth) place.width = screenWidth;
    if (place.height > screenHeight) place.height = screenHeight;
    place.x = (screenWidth - place.width) / 2;
    place.y = (screenHeight - place.height) / 2;
  } else if (onActive) {
    HWND active = GetActiveWindow();
    RECT r;
    if (active != nullptr && GetWindowRect(active, &r)) {
      place.x = r.left + (r.right - r.left - place.width) / 2;
      place.y = r.top + (r.bottom - r.top - place.height) / 2;
      if (place.x < 0) place.x = 0;
      if (place.y < 0) place.y = 0;
    }
  }
  return place;
}

int ShowCommandOf(DWORD style) {
  if (style & WS_MAXIMIZE) return SW_MAXIMIZE;
  if (style & WS_MINIMIZE) return SW_SHOWMINIMIZED;
  return SW_SHOWNORMAL;
}

// The two Tab entries and the table made from them. False when either cannot
// be had; what was made is released again.
bool MakeShortcutTable(Window* record) {
  auto* shortcuts = static_cast<ACCEL*>(ProgramAlloc(SHORTCUT_COUNT * sizeof(ACCEL), true));
  if (shortcuts == nullptr) return false;
  shortcuts[0] = {FVIRTKEY | FNOINVERT, VK_TAB, SHORTCUT_FOCUS_NEXT};
  shortcuts[1] = {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, SHORTCUT_FOCUS_PREVIOUS};
  HACCEL table = CreateAcceleratorTableA(shortcuts, SHORTCUT_COUNT);
  if (table == nullptr) {
    ProgramFree(shortcuts);
    return false;
  }
  record->shortcuts = shortcuts;
  record->shortcutTable = table;
  record->shortcutCount = SHORTCUT_COUNT;
  return true;
}

}  // namespace

WindowLibrary* WindowLibraryGet() {
  return library;
}

void WindowLibraryInit() {
  library = static_cast<WindowLibrary*>(StateBlockCreate(sizeof(WindowLibrary)));
  if (library == nullptr) return;
  library->module = GetModuleHandleA(nullptr);
  library->windows = ObjectTableCreate(sizeof(Window), WINDOW_TABLE_GROWTH, WindowClose);
  library->events = static_cast<EventState*>(ProgramAlloc(sizeof(EventState), true));
  // The program's own icon (ours, resource 1); where a program has none this is
  // null and the platform's default icon shows.
  library->classIcon = LoadIconA(library->module, MAKEINTRESOURCEA(1));
  library->classCursor = LoadCursorA(nullptr, IDC_ARROW);
}

void WindowLibraryEnd() {
  if (library == nullptr) return;
  ObjectTable* windows = library->windows;
  ObjectTableRewind(windows);
  intptr_t number;
  while (ObjectTableNext(windows, &number) != nullptr) WindowClose(number);
}

intptr_t WindowOpen(intptr_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* title,
                    uint32_t flags) {
  if (library == nullptr) return 0;
  auto* record = static_cast<Window*>(ObjectTableAllocate(library->windows, number));
  if (record == nullptr) return 0;
  // A dynamic window is named by its record from here on.
  bool dynamic = number == OBJECT_ANY;
  if (dynamic) number = reinterpret_cast<intptr_t>(record);

  ClassName className = ClassNameOf(number);
  RegisterWindowClass(className);
  if (title == nullptr) title = "";

  bool useGadgetList = (flags & WINDOW_WITHOUT_GADGET_LIST) == 0;
  flags &= ~WINDOW_WITHOUT_GADGET_LIST;
  if ((flags & ~OWN_FLAGS) == 0) flags |= WS_CAPTION;
  bool show = (flags & WINDOW_START_HIDDEN) == 0;
  flags &= ~WINDOW_START_HIDDEN;
  DWORD style = flags & ~(WINDOW_CENTER_ON_SCREEN | WINDOW_CENTER_ON_ACTIVE);

  Placement place = PlaceWindow(x, y, width, height, flags, style);
  // Created without WS_VISIBLE: the first activation and painting come after
  // the number is attached, so they become events.
  HWND window = CreateWindowExA(0, className.text, title, style, place.x, place.y, place.width, place.height, nullptr,
                                nullptr, library->module, nullptr);
  record->window = window;
  if (window == nullptr) {
    UnregisterClassA(className.text, library->module);
    ObjectTableFree(library->windows, number);
    return 0;
  }
  SetPropA(window, WINDOW_NUMBER_PROPERTY, reinterpret_cast<HANDLE>(number + 1));
  if (show) ShowWindow(window, ShowCommandOf(style));
  // Showing may have sent WM_SIZE to WindowProc; the style decides the state.
  record = WindowGet(number);
  if (record == nullptr) return 0;
  record->minMaxState = (style & (WS_MAXIMIZE | WS_MINIMIZE)) != 0 ? 1 : 0;
  if (!MakeShortcutTable(record)) {
    // Without its shortcut table Tab would not work in the window: fail the open.
    WindowClose(number);
    return 0;
  }
  if (useGadgetList) GadgetListUse(window);
  return dynamic ? number : reinterpret_cast<intptr_t>(window);
}

void WindowClose(intptr_t number) {
  if (library == nullptr) return;
  Window* record = WindowGet(number);
  if (record == nullptr) return;
  HWND window = record->window;
  // Nothing the window receives from here on becomes an event.
  RemovePropA(window, WINDOW_NUMBER_PROPERTY);
  // Destroys the controls too; their gadget records are released meanwhile.
  DestroyWindow(window);
  UnregisterClassA(ClassNameOf(number).text, library->module);
  record = WindowGet(number);
  if (record == nullptr) return;
  if (record->shortcuts != nullptr) {
    ProgramFree(record->shortcuts);
    DestroyAcceleratorTable(record->shortcutTable);
  }
  ObjectTableFree(library->windows, number);
}

ObjectTable* WindowTable() {
  return library != nullptr ? library->windows : nullptr;
}

Window* WindowGet(intptr_t number) {
  if (library == nullptr) return nullptr;
  return static_cast<Window*>(ObjectTableGet(library->windows, number));
}

intptr_t WindowNumberOf(HWND window) {
  if (window == nullptr) return -1;
  HANDLE value = GetPropA(window, WINDOW_NUMBER_PROPERTY);
  if (value == nullptr) return -1;
  return reinterpret_cast<intptr_t>(value) - 1;
}
