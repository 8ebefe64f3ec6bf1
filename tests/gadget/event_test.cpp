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

}  // namespace
