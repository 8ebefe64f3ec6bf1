// The event wait and WindowProc, driven by real messages to real windows.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "gadget/gadget.h"
#include "tests/window/window_test_support.h"
#include "window/window.h"

namespace {

constexpr UINT PROBE = WM_APP + 1;
constexpr UINT NOTIFY_CLICK = UINT(-2);  // NM_CLICK of the common controls

std::vector<int32_t> QueueContents() {
  std::vector<int32_t> codes;
  for (const QueuedEvent* event = EventStateGet()->queueHead; event != nullptr; event = event->next) {
    codes.push_back(event->code);
  }
  return codes;
}

// The queued events that WM_SIZE gives, in order; showing and sizing also
// bring moves, activations and repaints.
std::vector<int32_t> SizeEventsQueued() {
  std::vector<int32_t> codes;
  for (int32_t code : QueueContents()) {
    if (code == EVENT_WINDOW_SIZED || code == EVENT_WINDOW_MINIMIZED || code == EVENT_WINDOW_MAXIMIZED ||
        code == EVENT_WINDOW_RESTORED) {
      codes.push_back(code);
    }
  }
  return codes;
}

class EventTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    window = reinterpret_cast<HWND>(WindowOpen(2, 100, 100, 300, 200, "events", WS_OVERLAPPEDWINDOW));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(ForegroundMake(window));
    EventsPump();
  }
  HWND window = nullptr;
};

TEST_F(EventTest, RepeatOfTheNewestEventIsMerged) {
  HDC dc = GetDC(window);
  SendMessageA(window, WM_MOVE, 0, MAKELPARAM(5, 5));
  SendMessageA(window, WM_MOVE, 0, MAKELPARAM(6, 6));
  EXPECT_EQ(QueueContents(), std::vector<int32_t>({EVENT_WINDOW_MOVED}));
  SendMessageA(window, WM_ERASEBKGND, WPARAM(dc), 0);
  SendMessageA(window, WM_MOVE, 0, MAKELPARAM(7, 7));
  EXPECT_EQ(QueueContents(), std::vector<int32_t>({EVENT_WINDOW_MOVED, EVENT_WINDOW_REPAINT, EVENT_WINDOW_MOVED}));
  // The same code for another window is another event.
  EventQueueAdd(EVENT_WINDOW_MOVED, 9);
  EXPECT_EQ(QueueContents().size(), 4u);
  EXPECT_EQ(EventStateGet()->queueTail->window, 9);
  ReleaseDC(window, dc);
}

TEST_F(EventTest, QueuedEventsComeBeforeAnyMessageOneMessagePerWait) {
  PostMessageA(window, PROBE, 0, 0);
  PostMessageA(window, PROBE + 1, 0, 0);
  SendMessageA(window, WM_MOVE, 0, 0);
  SendMessageA(window, WM_CLOSE, 0, 0);

  EXPECT_EQ(EventWait(), EVENT_WINDOW_MOVED);
  EXPECT_EQ(EventWindow(), 2);
  EXPECT_EQ(EventWait(), EVENT_CLOSE_WINDOW);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(message.message, PROBE);
  EXPECT_EQ(EventWait(), int32_t(PROBE));
  EXPECT_EQ(EventWindow(), 2);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(message.message, PROBE + 1);
  EXPECT_EQ(EventWait(), int32_t(PROBE + 1));
  EXPECT_EQ(EventStateGet()->queueHead, nullptr);
  EXPECT_EQ(EventStateGet()->queueTail, nullptr);
}

TEST_F(EventTest, OneRepaintGivesFifteenTwice) {
  InvalidateRect(window, nullptr, TRUE);
  EXPECT_EQ(EventWait(), WM_PAINT);
  EXPECT_EQ(QueueContents(), std::vector<int32_t>({EVENT_WINDOW_REPAINT}));
  EXPECT_EQ(EventWait(), EVENT_WINDOW_REPAINT);
  EXPECT_EQ(EventWindow(), 2);
  EXPECT_TRUE(EventsPump().empty());
}

TEST_F(EventTest, CloseRequestIsReportedAndTheWindowStays) {
  EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(EventWait(), EVENT_CLOSE_WINDOW);
  EXPECT_EQ(EventWindow(), 2);
  // Also through the system command that the close box and Alt+F4 send.
  SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(QueueContents(), std::vector<int32_t>({EVENT_CLOSE_WINDOW}));
}

TEST_F(EventTest, ActivationIsQueuedAndKeepsTheDefaultHandlingAway) {
  EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0), 1);
  EXPECT_TRUE(QueueContents().empty());
  EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_CLICKACTIVE, 0), 1);
  EXPECT_EQ(QueueContents(), std::vector<int32_t>({EVENT_WINDOW_ACTIVATED}));
}

TEST_F(EventTest, SizeTypesAndTheMinMaxState) {
  struct Step {
    int command;
    std::vector<int32_t> events;  // window-size events queued, in order
    int32_t minMaxState;
  };
  static const Step steps[] = {
      {SW_MAXIMIZE, {EVENT_WINDOW_MAXIMIZED, EVENT_WINDOW_SIZED}, 1},
      {SW_RESTORE, {EVENT_WINDOW_RESTORED, EVENT_WINDOW_SIZED}, 0},
      {SW_MINIMIZE, {EVENT_WINDOW_MINIMIZED}, 1},
      {SW_RESTORE, {EVENT_WINDOW_RESTORED, EVENT_WINDOW_SIZED}, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "ShowWindow " << step.command);
    ShowWindow(window, step.command);
    EXPECT_EQ(SizeEventsQueued(), step.events);
    EXPECT_EQ(WindowGet(2)->minMaxState, step.minMaxState);
    EventsPump();
  }
  // A plain resize, and a size type without a state of its own: sized only.
  SetWindowPos(window, nullptr, 0, 0, 333, 222, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(SizeEventsQueued(), std::vector<int32_t>({EVENT_WINDOW_SIZED}));
  EventsPump();
  EXPECT_EQ(SendMessageA(window, WM_SIZE, SIZE_MAXSHOW, 0), 0);
  EXPECT_EQ(QueueContents(), std::vector<int32_t>({EVENT_WINDOW_SIZED}));
}

TEST_F(EventTest, WindowWithoutNumberGivesNoMoveCloseOrSizeEvents) {
  // A window of the same class, so WindowProc is its procedure, but without the number.
  HWND stranger = CreateWindowExA(0, "WindowClass_2", "stranger", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(stranger, nullptr);
  EventsPump();
  SendMessageA(stranger, WM_MOVE, 0, 0);
  EXPECT_EQ(EventWindow(), -1);
  EXPECT_EQ(SendMessageA(stranger, WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(IsWindow(stranger));
  EXPECT_EQ(SendMessageA(stranger, WM_SIZE, SIZE_MINIMIZED, 0), 1);
  EXPECT_TRUE(QueueContents().empty());
  DestroyWindow(stranger);
}

TEST_F(EventTest, EventsOfAClosedWindowAreStillReturned) {
  SendMessageA(window, WM_MOVE, 0, 0);
  WindowClose(2);
  std::vector<WaitResult> results = EventsPump();
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0].code, EVENT_WINDOW_MOVED);
  EXPECT_EQ(results[0].window, 2);
}

TEST_F(EventTest, PostedGadgetEventCarriesNumberAndType) {
  PostMessageA(window, GADGET_EVENT_MESSAGE, 17, EVENT_TYPE_DOUBLE_CLICK);
  EXPECT_EQ(EventWait(), EVENT_GADGET);
  EXPECT_EQ(EventGadgetNumber(), 17);
  EXPECT_EQ(EventType(), EVENT_TYPE_DOUBLE_CLICK);
  EXPECT_EQ(EventWindow(), 2);
  // The type belongs to one wait; the gadget number stays until the next gadget event.
  PostMessageA(window, PROBE, 0, 0);
  EXPECT_EQ(EventWait(), int32_t(PROBE));
  EXPECT_EQ(EventType(), -1);
  EXPECT_EQ(EventGadgetNumber(), 17);
}

// What the waits return after a control notified while no wait ran (as
// inside a command), with or without window events queued behind it.
struct LeftOverCase {
  const char* what;
  bool queueMove;                // a window event queued after the notification
  std::vector<int32_t> results;  // the next waits; two probe messages are posted
};

TEST_F(EventTest, GadgetEventLeftOutsideAWaitFollowsTheQueueAndItsOwnMessage) {
  HWND button = ChildCreate(window, "BUTTON", 31, WS_VISIBLE | BS_PUSHBUTTON);
  static const LeftOverCase cases[] = {
      // Queue empty: the next wait dispatches its message and returns the
      // gadget event in place of the message's number.
      {"queue empty", false, {EVENT_GADGET, int32_t(PROBE + 1)}},
      // Queue not empty: the queued event comes, and the gadget event is gone.
      {"window event queued", true, {EVENT_WINDOW_MOVED, int32_t(PROBE), int32_t(PROBE + 1)}},
  };
  for (const LeftOverCase& test : cases) {
    SCOPED_TRACE(test.what);
    EventsPump();
    SendMessageA(button, BM_CLICK, 0, 0);
    ASSERT_EQ(EventStateGet()->pendingEvent, EVENT_GADGET);
    ASSERT_EQ(EventGadgetNumber(), 31);
    if (test.queueMove) SendMessageA(window, WM_MOVE, 0, 0);

    PostMessageA(window, PROBE, 0, 0);
    PostMessageA(window, PROBE + 1, 0, 0);
    MSG message;
    for (size_t wait = 0; wait < test.results.size(); wait++) {
      EXPECT_EQ(EventWait(), test.results[wait]) << "wait " << wait;
      // The type is that of no gadget event from the start of every wait.
      EXPECT_EQ(EventType(), -1) << "wait " << wait;
      EXPECT_EQ(EventStateGet()->pendingEvent, 0) << "wait " << wait;
    }
    EXPECT_FALSE(PeekMessageA(&message, window, PROBE, PROBE + 1, PM_NOREMOVE)) << "one message per wait";
    EXPECT_FALSE(ContainsCode(EventsPump(), EVENT_GADGET));
  }
}

TEST_F(EventTest, TheTypeOfAGadgetEventLastsOneWaitEvenBeforeAQueuedEvent) {
  PostMessageA(window, GADGET_EVENT_MESSAGE, 12, EVENT_TYPE_DOUBLE_CLICK);
  EXPECT_EQ(EventWait(), EVENT_GADGET);
  EXPECT_EQ(EventType(), EVENT_TYPE_DOUBLE_CLICK);
  SendMessageA(window, WM_MOVE, 0, 0);
  EXPECT_EQ(EventWait(), EVENT_WINDOW_MOVED);
  EXPECT_EQ(EventType(), -1);
  EXPECT_EQ(EventGadgetNumber(), 12);
}

TEST_F(EventTest, QueuedWindowEventsComeBeforeAPostedGadgetEvent) {
  // The gadget event travels as a message: events queued before any wait
  // took it come first, and it then arrives with its own type.
  PostMessageA(window, GADGET_EVENT_MESSAGE, 14, EVENT_TYPE_DRAG_START);
  SendMessageA(window, WM_MOVE, 0, 0);
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(EventWait(), EVENT_WINDOW_MOVED);
  EXPECT_EQ(EventWait(), EVENT_CLOSE_WINDOW);
  EXPECT_EQ(EventWait(), EVENT_GADGET);
  EXPECT_EQ(EventGadgetNumber(), 14);
  EXPECT_EQ(EventType(), EVENT_TYPE_DRAG_START);
}

std::map<HWND, int> colourChanges;
std::map<HWND, WNDPROC> previousProcs;

LRESULT CALLBACK ColourChangeCounter(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SYSCOLORCHANGE && wParam == 0 && lParam == 0) ++colourChanges[control];
  return CallWindowProcA(previousProcs[control], control, message, wParam, lParam);
}

TEST_F(EventTest, SystemColourChangeReachesEveryDescendant) {
  colourChanges.clear();
  HWND panel = ChildCreate(window, "STATIC", 1, WS_VISIBLE);
  HWND inner = ChildCreate(panel, "BUTTON", 2, WS_VISIBLE);
  HWND list = ChildCreate(window, "LISTBOX", 3, WS_VISIBLE, 40);
  for (HWND control : {panel, inner, list}) {
    previousProcs[control] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ColourChangeCounter)));
  }
  SendMessageA(window, WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_EQ(colourChanges[panel], 1);
  EXPECT_EQ(colourChanges[inner], 1);
  EXPECT_EQ(colourChanges[list], 1);
}

// A gadget kind that records what its parent window hands it.
struct Forwarded {
  HWND parent;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Forwarded> forwarded;
LRESULT forwardReply;

LRESULT RecordingOnMessage(Gadget*, HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
  forwarded.push_back({parent, message, wParam, lParam});
  return forwardReply;
}

const GadgetKind RECORDING_KIND = {.kindId = 99, .onMessage = RecordingOnMessage};

TEST_F(EventTest, ControlMessagesAreForwardedToTheGadgetKind) {
  HWND control = ChildCreate(window, "STATIC", 0, WS_VISIBLE);
  auto* gadget = static_cast<Gadget*>(ObjectTableAllocate(GadgetTable(), 8));
  ASSERT_NE(gadget, nullptr);
  ASSERT_NE(GadgetRegister(8, gadget, control, &RECORDING_KIND), 0);
  HWND foreign = ChildCreate(window, "STATIC", 9, WS_VISIBLE, 40);
  HDC dc = GetDC(window);
  forwarded.clear();

  forwardReply = 0x1234;
  EXPECT_EQ(SendMessageA(window, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(control)), 0x1234);
  EXPECT_EQ(SendMessageA(window, WM_HSCROLL, SB_LINELEFT, LPARAM(control)), 0x1234);
  NMHDR header = {control, 8, NOTIFY_CLICK};
  EXPECT_EQ(SendMessageA(window, WM_NOTIFY, 8, LPARAM(&header)), 0x1234);
  ASSERT_EQ(forwarded.size(), 3u);
  EXPECT_EQ(forwarded[0].parent, window);
  EXPECT_EQ(forwarded[0].message, UINT(WM_CTLCOLORSTATIC));
  EXPECT_EQ(forwarded[0].wParam, WPARAM(dc));
  EXPECT_EQ(forwarded[2].message, UINT(WM_NOTIFY));
  EXPECT_EQ(forwarded[2].lParam, LPARAM(&header));

  // Handled by the kind: no gadget event.
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(8, STN_CLICKED), LPARAM(control));
  EXPECT_EQ(EventStateGet()->pendingEvent, 0);

  // Left by the kind, or from a control that is no gadget: the default reply,
  // and a notification becomes a gadget event.
  forwardReply = LRESULT(MESSAGE_NOT_HANDLED);
  EXPECT_EQ(SendMessageA(window, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(control)),
            DefWindowProcA(window, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(control)));
  EXPECT_EQ(SendMessageA(window, WM_NOTIFY, 8, LPARAM(&header)), 0);
  forwarded.clear();
  SendMessageA(window, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(foreign));
  EXPECT_TRUE(forwarded.empty());
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(8, STN_DBLCLK), LPARAM(control));
  EXPECT_EQ(EventStateGet()->pendingEvent, EVENT_GADGET);
  EXPECT_EQ(EventGadgetNumber(), 8);
  EXPECT_EQ(EventType(), STN_DBLCLK);
  ReleaseDC(window, dc);
  GadgetFree(8);
}

}  // namespace
