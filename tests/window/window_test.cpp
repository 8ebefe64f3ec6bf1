// Opening and closing numbered windows: what reaches CreateWindowExA, the
// window that results, the class and marks it carries, and its end.
#include "window/window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gadget/gadget.h"
#include "tests/window/window_test_support.h"

namespace {

constexpr int32_t SCREEN_WIDTH_UNKNOWN = 0;

std::string TextOf(HWND window) {
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassNameOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool ClassExists(const char* name) {
  WNDCLASSA info;
  return GetClassInfoA(GetModuleHandleA(nullptr), name, &info) != 0;
}

SIZE OuterSize(int width, int height, DWORD style) {
  RECT r = {0, 0, width, height};
  AdjustWindowRect(&r, style, FALSE);
  return {r.right - r.left, r.bottom - r.top};
}

using WindowOpenTest = WindowTest;

TEST_F(WindowOpenTest, ApplicationWindowHasItsClientSizeCentredWithFixedFrame) {
  CreationRecorder recorder;
  auto window = reinterpret_cast<HWND>(WindowOpen(0, 0, 0, 430, 500, "Wiederherstellung", 0xCA0001));
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(recorder.records.size(), 1u);
  const CreationRecord& created = recorder.records[0];
  EXPECT_EQ(created.className, "WindowClass_0");
  EXPECT_EQ(created.title, "Wiederherstellung");
  EXPECT_EQ(created.style, 0x00CA0000u);  // no WS_VISIBLE: shown after the number is attached
  // The platform itself adds the raised edge of windows with a title bar.
  EXPECT_EQ(created.extendedStyle & ~DWORD(WS_EX_WINDOWEDGE), 0u);

  RECT client, frame;
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  EXPECT_EQ(client.right, 430);
  EXPECT_EQ(client.bottom, 500);
  EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
  EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);
  EXPECT_EQ(created.width, frame.right - frame.left);
  EXPECT_EQ(created.height, frame.bottom - frame.top);

  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & 0x00CA0000, 0x00CA0000);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(TextOf(window), "Wiederherstellung");
  EXPECT_EQ(WindowNumberOf(window), 0);
  EXPECT_EQ(GadgetListUse(nullptr), window);
}

TEST_F(WindowOpenTest, ClassRecordAndShortcutsOfAnOpenWindow) {
  auto window = reinterpret_cast<HWND>(WindowOpen(7, 20, 30, 200, 100, "Sieben", WS_CAPTION | WS_SYSMENU));
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ClassNameOf(window), "WindowClass_7");
  EXPECT_EQ(GetClassLongA(window, GCL_STYLE), CS_DBLCLKS);
  EXPECT_EQ(GetClassLongPtrA(window, GCLP_WNDPROC), reinterpret_cast<LONG_PTR>(WindowProc));
  EXPECT_EQ(GetClassLongPtrA(window, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(window, GCLP_HCURSOR)), LoadCursorA(nullptr, IDC_ARROW));
  // The program's icon resource 1 (this test program carries the restore tool's).
  auto icon = reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICON));
  EXPECT_NE(icon, nullptr);
  EXPECT_EQ(icon, LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1)));
  RECT frame;
  GetWindowRect(window, &frame);
  EXPECT_EQ(frame.left, 20);
  EXPECT_EQ(frame.top, 30);

  const Window* record = WindowGet(7);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->window, window);
  EXPECT_EQ(record->minMaxState, 0);
  ASSERT_EQ(record->shortcutCount, 2);
  ASSERT_NE(record->shortcutTable, nullptr);
  ACCEL entries[3] = {};
  ASSERT_EQ(CopyAcceleratorTableA(record->shortcutTable, entries, 3), 2);
  EXPECT_EQ(entries[0].fVirt & ~0x80, FVIRTKEY | FNOINVERT);
  EXPECT_EQ(entries[0].key, VK_TAB);
  EXPECT_EQ(entries[0].cmd, SHORTCUT_FOCUS_NEXT);
  EXPECT_EQ(entries[1].fVirt & ~0x80, FVIRTKEY | FNOINVERT | FSHIFT);
  EXPECT_EQ(entries[1].key, VK_TAB);
  EXPECT_EQ(entries[1].cmd, SHORTCUT_FOCUS_PREVIOUS);
}

TEST_F(WindowOpenTest, TitleKeepsItsBytesAndNullTitleIsEmpty) {
  const char* title = "Sicherung ausw\xE4hlen \xDC\xDF";
  auto titled = reinterpret_cast<HWND>(WindowOpen(1, 0, 0, 100, 100, title, WS_CAPTION));
  auto untitled = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 100, 100, nullptr, WS_CAPTION));
  ASSERT_NE(titled, nullptr);
  ASSERT_NE(untitled, nullptr);
  EXPECT_EQ(TextOf(titled), title);
  EXPECT_EQ(TextOf(untitled), "");
}

TEST_F(WindowOpenTest, FlagsWithoutStyleBitsGiveATitleBarOnly) {
  struct Case {
    uint32_t flags;
    bool visible;
    bool switchesGadgetList;
  };
  static const Case cases[] = {
      {0, true, true},
      {WINDOW_START_HIDDEN, false, true},
      {WINDOW_WITHOUT_GADGET_LIST, true, false},
      {WINDOW_CENTER_ON_SCREEN | WINDOW_CENTER_ON_ACTIVE, true, true},
  };
  intptr_t number = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
    HWND listBefore = GadgetListUse(nullptr);
    CreationRecorder recorder;
    auto window = reinterpret_cast<HWND>(WindowOpen(number++, 10, 10, 120, 80, "x", c.flags));
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(recorder.records.size(), 1u);
    EXPECT_EQ(recorder.records[0].style, DWORD(WS_CAPTION));
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & (WS_CAPTION | WS_SYSMENU), WS_CAPTION);
    EXPECT_EQ(IsWindowVisible(window) != 0, c.visible);
    EXPECT_EQ(GadgetListUse(nullptr), c.switchesGadgetList ? window : listBefore);
  }
}

TEST_F(WindowOpenTest, CentringOnTheScreenCutsAWindowLargerThanTheScreen) {
  int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
  ASSERT_NE(screenWidth, SCREEN_WIDTH_UNKNOWN);
  CreationRecorder recorder;
  ASSERT_NE(WindowOpen(1, 500, 500, screenWidth + 400, 200, "wide", WINDOW_CENTER_ON_SCREEN | WS_CAPTION), 0);
  ASSERT_NE(WindowOpen(2, 500, 500, 200, screenHeight + 400, "tall", WINDOW_CENTER_ON_SCREEN | WS_CAPTION), 0);
  ASSERT_EQ(recorder.records.size(), 2u);
  SIZE wide = OuterSize(screenWidth + 400, 200, WS_CAPTION);
  SIZE tall = OuterSize(200, screenHeight + 400, WS_CAPTION);
  EXPECT_EQ(recorder.records[0].x, 0);
  EXPECT_EQ(recorder.records[0].width, screenWidth);
  EXPECT_EQ(recorder.records[0].y, (screenHeight - wide.cy) / 2);
  EXPECT_EQ(recorder.records[1].y, 0);
  EXPECT_EQ(recorder.records[1].height, screenHeight);
  EXPECT_EQ(recorder.records[1].x, (screenWidth - tall.cx) / 2);
}

TEST_F(WindowOpenTest, CentringOnTheActiveWindow) {
  EXPECT_EQ(GetActiveWindow(), nullptr);
  // Without an active window x and y are used as given.
  auto first = reinterpret_cast<HWND>(WindowOpen(1, 150, 120, 500, 300, "first", WINDOW_CENTER_ON_ACTIVE | WS_CAPTION));
  ASSERT_NE(first, nullptr);
  RECT r;
  GetWindowRect(first, &r);
  EXPECT_EQ(r.left, 150);
  EXPECT_EQ(r.top, 120);
  ASSERT_TRUE(ForegroundMake(first));

  CreationRecorder recorder;
  ASSERT_NE(WindowOpen(2, 0, 0, 200, 100, "second", WINDOW_CENTER_ON_ACTIVE | WS_CAPTION), 0);
  SIZE outer = OuterSize(200, 100, WS_CAPTION);
  ASSERT_EQ(recorder.records.size(), 1u);
  EXPECT_EQ(recorder.records[0].x, r.left + (r.right - r.left - outer.cx) / 2);
  EXPECT_EQ(recorder.records[0].y, r.top + (r.bottom - r.top - outer.cy) / 2);

  // A window larger than the active one would start left of and above it: 0 instead.
  auto corner = reinterpret_cast<HWND>(WindowOpen(3, 0, 0, 100, 60, "corner", WS_CAPTION));
  SetWindowPos(corner, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ASSERT_TRUE(ForegroundMake(corner));
  ASSERT_NE(WindowOpen(4, 0, 0, 600, 400, "big", WINDOW_CENTER_ON_ACTIVE | WS_CAPTION), 0);
  ASSERT_EQ(recorder.records.size(), 3u);
  EXPECT_EQ(recorder.records[2].x, 0);
  EXPECT_EQ(recorder.records[2].y, 0);
}

TEST_F(WindowOpenTest, DefaultPositionLetsThePlatformPlaceTheWindow) {
  CreationRecorder recorder;
  auto window = reinterpret_cast<HWND>(WindowOpen(1, WINDOW_DEFAULT_POSITION, 77, 200, 100, "default", WS_CAPTION));
  ASSERT_NE(window, nullptr);
  RECT r;
  GetWindowRect(window, &r);
  EXPECT_GE(r.left, 0);
  EXPECT_LT(r.left, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_GE(r.top, 0);
  // With a centring flag the value is an ordinary coordinate.
  ASSERT_NE(WindowOpen(2, WINDOW_DEFAULT_POSITION, 0, 200, 100, "active", WINDOW_CENTER_ON_ACTIVE | WS_CAPTION), 0);
  EXPECT_NE(recorder.records.back().x, int(CW_USEDEFAULT));
}

TEST_F(WindowOpenTest, MaximizedAndMinimizedStylesChooseTheFirstShow) {
  auto maximized = reinterpret_cast<HWND>(
      WindowOpen(1, 0, 0, 200, 100, "max", WS_OVERLAPPEDWINDOW | WS_MAXIMIZE | WINDOW_CENTER_ON_SCREEN));
  auto minimized = reinterpret_cast<HWND>(WindowOpen(2, 0, 0, 200, 100, "min", WS_OVERLAPPEDWINDOW | WS_MINIMIZE));
  ASSERT_NE(maximized, nullptr);
  ASSERT_NE(minimized, nullptr);
  EXPECT_TRUE(IsZoomed(maximized));
  EXPECT_TRUE(IsIconic(minimized));
  EXPECT_EQ(WindowGet(1)->minMaxState, 1);
  EXPECT_EQ(WindowGet(2)->minMaxState, 1);
}

TEST_F(WindowOpenTest, ReopeningANumberClosesTheOldWindowBeforeTheNewOneIsMade) {
  auto old = reinterpret_cast<HWND>(WindowOpen(3, 0, 0, 100, 100, "old", WS_CAPTION));
  ASSERT_NE(old, nullptr);
  CreationRecorder recorder;
  bool oldGoneAtCreation = false;
  recorder.onCreate = [&](const CreationRecord&) { oldGoneAtCreation = !IsWindow(old); };
  auto fresh = reinterpret_cast<HWND>(WindowOpen(3, 0, 0, 100, 100, "new", WS_CAPTION));
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(oldGoneAtCreation);
  ASSERT_EQ(recorder.destroyed.size(), 1u);
  EXPECT_EQ(recorder.destroyed[0], old);
  EXPECT_EQ(ClassNameOf(fresh), "WindowClass_3");
  EXPECT_EQ(WindowGet(3)->window, fresh);
  EXPECT_EQ(WindowNumberOf(fresh), 3);
}

TEST_F(WindowOpenTest, CloseDestroysUnregistersAndFreesAndIgnoresUnknownNumbers) {
  auto window = reinterpret_cast<HWND>(WindowOpen(4, 0, 0, 100, 100, "four", WS_CAPTION));
  auto other = reinterpret_cast<HWND>(WindowOpen(5, 0, 0, 100, 100, "five", WS_CAPTION));
  ASSERT_NE(window, nullptr);
  WindowClose(4);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(ClassExists("WindowClass_4"));
  EXPECT_EQ(WindowGet(4), nullptr);
  WindowClose(4);
  WindowClose(12);
  WindowClose(1000);
  EXPECT_TRUE(IsWindow(other));
  EXPECT_EQ(WindowGet(5)->window, other);
}

TEST_F(WindowOpenTest, DynamicWindowsAreNamedByTheirIdentity) {
  intptr_t first = WindowOpen(OBJECT_ANY, 0, 0, 100, 100, "any", WS_CAPTION);
  intptr_t second = WindowOpen(OBJECT_ANY, 0, 0, 100, 100, "any", WS_CAPTION);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_GE(first, WindowTable()->capacity);
  const Window* record = WindowGet(first);
  ASSERT_NE(record, nullptr);
  HWND window = record->window;
  EXPECT_NE(reinterpret_cast<intptr_t>(window), first);
  EXPECT_EQ(ClassNameOf(window), "WindowClass_" + std::to_string(int(first)));
  EXPECT_EQ(WindowNumberOf(window), first);
  WindowClose(first);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(WindowGet(first), nullptr);
  EXPECT_NE(WindowGet(second), nullptr);
}

TEST_F(WindowOpenTest, RefusedCreationLeavesTheNumberFreeAndNoClass) {
  CreationRecorder recorder;
  recorder.veto = [](const CreationRecord& r) { return r.className.rfind("WindowClass_", 0) == 0; };
  EXPECT_EQ(WindowOpen(6, 0, 0, 100, 100, "refused", WS_CAPTION), 0);
  EXPECT_EQ(WindowGet(6), nullptr);
  EXPECT_FALSE(ClassExists("WindowClass_6"));
  EXPECT_EQ(WindowOpen(OBJECT_ANY, 0, 0, 100, 100, "refused", WS_CAPTION), 0);
  EXPECT_EQ(WindowTable()->dynamicList, nullptr);
}

TEST_F(WindowOpenTest, LibraryEndClosesNumberedWindowsInOrderThenDynamicOnes) {
  intptr_t dynamic = WindowOpen(OBJECT_ANY, 0, 0, 80, 60, "any", WS_CAPTION);
  auto twenty = reinterpret_cast<HWND>(WindowOpen(20, 0, 0, 80, 60, "20", WS_CAPTION));
  auto zero = reinterpret_cast<HWND>(WindowOpen(0, 0, 0, 80, 60, "0", WS_CAPTION));
  ASSERT_NE(dynamic, 0);
  HWND dynamicWindow = WindowGet(dynamic)->window;
  EXPECT_EQ(WindowTable()->capacity, 36);
  CreationRecorder recorder;
  WindowLibraryEnd();
  std::vector<HWND> expected = {zero, twenty, dynamicWindow};
  EXPECT_EQ(recorder.destroyed, expected);
  EXPECT_EQ(WindowGet(0), nullptr);
  EXPECT_EQ(WindowGet(20), nullptr);
  EXPECT_FALSE(ClassExists("WindowClass_20"));
}

TEST_F(WindowOpenTest, GadgetEventsArePostedToTheWindowThatOwnsTheControl) {
  auto window = reinterpret_cast<HWND>(WindowOpen(0, 0, 0, 300, 200, "owner", WS_CAPTION));
  auto second = reinterpret_cast<HWND>(WindowOpen(6, 0, 0, 300, 200, "second", WS_CAPTION));
  ASSERT_NE(window, nullptr);
  HWND panel = ChildCreate(window, "STATIC", 40, WS_VISIBLE);
  HWND nested = ChildCreate(panel, "BUTTON", 42, WS_VISIBLE);
  HWND onSecond = ChildCreate(second, "BUTTON", 43, WS_VISIBLE);
  EventsPump();

  EXPECT_TRUE(GadgetPostEvent(nested, EVENT_TYPE_DRAG_START));
  EXPECT_TRUE(GadgetPostEvent(onSecond, EVENT_TYPE_DOUBLE_CLICK));
  EXPECT_FALSE(GadgetPostEvent(nullptr, EVENT_TYPE_CLICK));
  std::vector<WaitResult> results = EventsPump();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].code, EVENT_GADGET);
  EXPECT_EQ(results[0].gadget, 42);
  EXPECT_EQ(results[0].type, EVENT_TYPE_DRAG_START);
  EXPECT_EQ(results[0].window, 0);
  EXPECT_EQ(results[1].code, EVENT_GADGET);
  EXPECT_EQ(results[1].gadget, 43);
  EXPECT_EQ(results[1].type, EVENT_TYPE_DOUBLE_CLICK);
  EXPECT_EQ(results[1].window, 6);
}

}  // namespace
