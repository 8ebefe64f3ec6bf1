// Gadget events from real mouse input, through the window library's window
// procedure and event wait, as the application receives them.
#include <gtest/gtest.h>

#include <vector>

#include "gadget/gadget.h"
#include "tests/gadget/gadget_test_support.h"
#include "window/window.h"

namespace {

// What one wait gave, and the platform message it took (0 when it returned a
// queued event without taking one). A gadget event is marked with where it
// was posted from: a notification of the control to its window (selection
// change, double click) or the list view's own press tracking.
struct Waited {
  int32_t code;
  int32_t gadget;
  int32_t type;
  UINT taken;
  bool fromNotification;
};

// Which posted gadget events came from a notification. A notification's
// handler posts while it runs, so whatever lies in the queue before that
// handler starts was posted earlier, by something else.
struct PostLog {
  UINT lastTaken = 0;
  int taken = 0;                   // gadget event messages taken by waits so far
  std::vector<bool> notification;  // per posted event, in posting order
  HWND window = nullptr;
  bool counting = false;  // the log's own look into the queue is no wait
};
PostLog postLog;

int PendingGadgetMessages() {
  std::vector<MSG> pending;
  MSG msg;
  postLog.counting = true;
  while (PeekMessageA(&msg, postLog.window, GADGET_EVENT_MESSAGE, GADGET_EVENT_MESSAGE, PM_REMOVE | PM_NOYIELD)) {
    pending.push_back(msg);
  }
  for (const MSG& m : pending) PostMessageA(m.hwnd, m.message, m.wParam, m.lParam);
  postLog.counting = false;
  return int(pending.size());
}

LRESULT CALLBACK TakenHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE && !postLog.counting) {
    postLog.lastTaken = reinterpret_cast<MSG*>(lParam)->message;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK SentHook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->hwnd == postLog.window && sent->message == WM_COMMAND &&
      (HIWORD(sent->wParam) == LBN_SELCHANGE || HIWORD(sent->wParam) == LBN_DBLCLK)) {
    size_t before = size_t(postLog.taken + PendingGadgetMessages());
    postLog.notification.resize(before, false);
    postLog.notification.push_back(true);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class EventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    postLog = {};
    ASSERT_NE(WindowOpen(0, 0, 0, 430, 500, "Wiederherstellung", 0xCA0001), 0);
    window = WindowGet(0)->window;
    postLog.window = window;
    taken = SetWindowsHookExA(WH_GETMESSAGE, TakenHook, nullptr, GetCurrentThreadId());
    sent = SetWindowsHookExA(WH_CALLWNDPROC, SentHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(taken, nullptr);
    ASSERT_NE(sent, nullptr);
    SetForegroundWindow(window);
    Collect(200);
  }
  void TearDown() override {
    MouseButton(false);
    WindowClose(0);
    UnhookWindowsHookEx(taken);
    UnhookWindowsHookEx(sent);
    MessagesPump();
  }

  // Runs waits for the given time; a thread timer keeps every wait short.
  // Timer ticks are left out.
  std::vector<Waited> Collect(DWORD milliseconds) {
    std::vector<Waited> seen;
    UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
      postLog.lastTaken = 0;
      int32_t code = EventWait();
      UINT message = postLog.lastTaken;
      if (message == WM_TIMER || message == 0x0118 /* the caret's system timer */) continue;
      Waited waited = {code, EventGadgetNumber(), EventType(), message, false};
      if (message == GADGET_EVENT_MESSAGE) {
        size_t index = size_t(postLog.taken++);
        waited.fromNotification = index < postLog.notification.size() && postLog.notification[index];
      }
      seen.push_back(waited);
    }
    KillTimer(nullptr, timer);
    return seen;
  }

  // The list view's gadget events of the given time, as {type, from notification}.
  std::vector<std::pair<int32_t, bool>> ListEvents(DWORD milliseconds) {
    std::vector<std::pair<int32_t, bool>> events;
    for (const Waited& w : Collect(milliseconds)) {
      if (w.code != EVENT_GADGET) continue;
      EXPECT_EQ(w.gadget, 3);
      EXPECT_EQ(w.taken, GADGET_EVENT_MESSAGE) << "list view events arrive as posted messages";
      events.push_back({w.type, w.fromNotification});
    }
    return events;
  }

  // List view 3 with four rows; the centre of a row in window coordinates.
  void ListOpen(uint32_t flags = 0) {
    ASSERT_NE(GadgetCreateListView(3, 10, 40, 410, 450, flags), 0);
    for (const char* row : {"eins", "zwei", "drei", "vier"}) GadgetAddItem(3, -1, row, 0, 0);
    list = GadgetGet(3)->window;
    Collect(100);
  }
  POINT RowCentre(int row) {
    RECT r = {};
    SendMessageA(list, LB_GETITEMRECT, WPARAM(row), reinterpret_cast<LPARAM>(&r));
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    MapWindowPoints(list, window, &p, 1);
    return p;
  }

  HHOOK taken = nullptr;
  HHOOK sent = nullptr;
  HWND window = nullptr;
  HWND list = nullptr;
};

using Events = std::vector<std::pair<int32_t, bool>>;
constexpr bool NOTIFIED = true;
constexpr bool TRACKED = false;

TEST_F(EventTest, ButtonClickIsAGadgetEventFromTheWaitThatDispatchesIt) {
  ASSERT_NE(GadgetCreateButton(1, 10, 10, 200, 20, "Sicherung ausw\xE4hlen", 0), 0);
  Collect(100);
  MouseMoveTo(window, 110, 20);
  MouseButton(true);
  MouseButton(false);
  std::vector<Waited> gadgetEvents;
  for (const Waited& w : Collect(300)) {
    if (w.code == EVENT_GADGET) gadgetEvents.push_back(w);
  }
  ASSERT_EQ(gadgetEvents.size(), 1u);
  EXPECT_EQ(gadgetEvents[0].gadget, 1);
  EXPECT_EQ(gadgetEvents[0].type, EVENT_TYPE_CLICK);
  EXPECT_EQ(gadgetEvents[0].taken, UINT(WM_LBUTTONUP)) << "the wait that dispatched the release";

  // A disabled button sends no click.
  GadgetDisable(1, 1);
  MouseButton(true);
  MouseButton(false);
  for (const Waited& w : Collect(200)) EXPECT_NE(w.code, EVENT_GADGET);
}

TEST_F(EventTest, AnyNumberGadgetEventsCarryTheIdentity) {
  intptr_t identity = GadgetCreateButton(OBJECT_ANY, 10, 10, 200, 20, "dynamisch", 0);
  ASSERT_NE(identity, 0);
  Collect(100);
  MouseMoveTo(window, 110, 20);
  MouseButton(true);
  MouseButton(false);
  int clicks = 0;
  for (const Waited& w : Collect(300)) {
    if (w.code != EVENT_GADGET) continue;
    clicks++;
    EXPECT_EQ(w.gadget, int32_t(identity));
    EXPECT_EQ(w.type, EVENT_TYPE_CLICK);
  }
  EXPECT_EQ(clicks, 1);
}

TEST_F(EventTest, RowClickGivesSelectionChangeThenTheTrackedRelease) {
  ListOpen();
  POINT p = RowCentre(2);
  MouseMoveTo(window, p.x, p.y);
  MouseButton(true);
  MouseButton(false);
  EXPECT_EQ(ListEvents(300), (Events{{EVENT_TYPE_CLICK, NOTIFIED}, {EVENT_TYPE_CLICK, TRACKED}}));
  EXPECT_EQ(GadgetGetState(3), 2);
  EXPECT_STREQ(GadgetGetItemText(3, GadgetGetState(3), 0).Text(), "drei");
}

TEST_F(EventTest, DoubleClickAddsItsOwnEvent) {
  ListOpen();
  POINT p = RowCentre(1);
  MouseMoveTo(window, p.x, p.y);
  MouseButton(true);
  MouseButton(false);
  MouseButton(true);
  MouseButton(false);
  // The second press is a double click, which the list view does not track.
  EXPECT_EQ(ListEvents(400),
            (Events{{EVENT_TYPE_CLICK, NOTIFIED}, {EVENT_TYPE_CLICK, TRACKED}, {EVENT_TYPE_DOUBLE_CLICK, NOTIFIED}}));
}

TEST_F(EventTest, DragBeyondTheThresholdStartsADrag) {
  ListOpen();
  const int cx = GetSystemMetrics(SM_CXDRAG);
  const int cy = GetSystemMetrics(SM_CYDRAG);
  struct Move {
    int dx;
    int dy;
  };
  const Move beyond[] = {{cx + 1, 0}, {-(cx + 1), 0}, {0, cy + 1}, {0, -(cy + 1)}};
  // Each press on another row, so that no two presses make a double click.
  int row = 0;
  for (const Move& move : beyond) {
    SCOPED_TRACE(testing::Message() << "move " << move.dx << "," << move.dy);
    POINT p = RowCentre(row++);
    MouseMoveTo(window, p.x, p.y);
    MouseButton(true);
    MouseMoveTo(window, p.x + move.dx, p.y + move.dy);
    Events moved = ListEvents(200);
    EXPECT_EQ(moved, (Events{{EVENT_TYPE_DRAG_START, TRACKED}}));
    EXPECT_NE(GetCapture(), list) << "the drag ends tracking and its capture";
    MouseButton(false);
    // The release is not tracked any more: no click of its own.
    for (const auto& [type, notified] : ListEvents(200)) EXPECT_TRUE(notified) << type;
  }
}

TEST_F(EventTest, MovingByExactlyTheThresholdIsNoDrag) {
  ListOpen();
  const int cx = GetSystemMetrics(SM_CXDRAG);
  const int cy = GetSystemMetrics(SM_CYDRAG);
  POINT p = RowCentre(1);
  MouseMoveTo(window, p.x, p.y);
  MouseButton(true);
  MouseMoveTo(window, p.x + cx, p.y);
  MouseMoveTo(window, p.x - cx, p.y + cy);
  MouseMoveTo(window, p.x + cx, p.y - cy);
  EXPECT_EQ(ListEvents(200), Events{});
  MouseButton(false);
  EXPECT_EQ(ListEvents(200), (Events{{EVENT_TYPE_CLICK, NOTIFIED}, {EVENT_TYPE_CLICK, TRACKED}}))
      << "still tracked: the release clicks";
}

TEST_F(EventTest, PressAtTheListsFirstPointIsTracked) {
  ListOpen();
  POINT origin = {0, 0};
  MapWindowPoints(list, window, &origin, 1);
  MouseMoveTo(window, origin.x, origin.y);
  MouseButton(true);
  MouseButton(false);
  EXPECT_EQ(ListEvents(300), (Events{{EVENT_TYPE_CLICK, NOTIFIED}, {EVENT_TYPE_CLICK, TRACKED}}));
  EXPECT_EQ(GadgetGetState(3), 0);
}

TEST_F(EventTest, PressesThatMissARowOrHoldAModifierAreNotTracked) {
  ListOpen();
  // Below the last row: no row is hit.
  RECT client;
  GetClientRect(list, &client);
  POINT below = {client.right / 2, client.bottom - 5};
  MapWindowPoints(list, window, &below, 1);
  MouseMoveTo(window, below.x, below.y);
  MouseButton(true);
  MouseMoveTo(window, below.x + 30, below.y - 30);
  MouseButton(false);
  for (const auto& [type, notified] : ListEvents(300)) {
    EXPECT_TRUE(notified) << "a miss posts no click and no drag: " << type;
  }

  const WORD modifiers[] = {VK_SHIFT, VK_CONTROL};
  for (WORD key : modifiers) {
    SCOPED_TRACE(key);
    POINT p = RowCentre(3);
    MouseMoveTo(window, p.x, p.y);
    INPUT press[2] = {};
    press[0].type = INPUT_KEYBOARD;
    press[0].ki.wVk = key;
    SendInput(1, &press[0], sizeof(INPUT));
    MouseButton(true);
    MouseMoveTo(window, p.x + 30, p.y);
    MouseButton(false);
    press[1] = press[0];
    press[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &press[1], sizeof(INPUT));
    Events events = ListEvents(300);
    for (const auto& [type, notified] : events) EXPECT_TRUE(notified) << type;
  }
}

TEST_F(EventTest, ExtendedSelectionKeepsTheSelectionAPressLandsIn) {
  ListOpen(LBS_EXTENDEDSEL);
  Gadget* gadget = GadgetGet(3);
  gadget->kind->setItemState(gadget, 1, 1);
  gadget->kind->setItemState(gadget, 2, 1);
  Collect(50);

  // On a selected row: tracked, and the list box never sees the press.
  POINT p = RowCentre(2);
  MouseMoveTo(window, p.x, p.y);
  MouseButton(true);
  MouseButton(false);
  EXPECT_EQ(ListEvents(300), (Events{{EVENT_TYPE_CLICK, TRACKED}}));
  EXPECT_GT(GadgetGet(3)->kind->getItemState(GadgetGet(3), 1), 0) << "the selection stays";
  EXPECT_GT(GadgetGet(3)->kind->getItemState(GadgetGet(3), 2), 0);

  // A drag out of the selection, from its other row (a second press on the
  // same point would be a double click).
  p = RowCentre(1);
  MouseMoveTo(window, p.x, p.y);
  MouseButton(true);
  MouseMoveTo(window, p.x, p.y + GetSystemMetrics(SM_CYDRAG) + 1);
  EXPECT_EQ(ListEvents(200), (Events{{EVENT_TYPE_DRAG_START, TRACKED}}));
  MouseButton(false);
  Collect(100);

  // On a row outside the selection: the list box selects it, nothing tracked.
  p = RowCentre(0);
  MouseMoveTo(window, p.x, p.y);
  MouseButton(true);
  MouseButton(false);
  for (const auto& [type, notified] : ListEvents(300)) EXPECT_TRUE(notified) << type;
  EXPECT_EQ(GadgetGetState(3), 0) << "the press selected row 0 alone";
  EXPECT_EQ(GadgetGet(3)->kind->getItemState(GadgetGet(3), 2), 0);
}

}  // namespace
