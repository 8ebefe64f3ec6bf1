// Tab and Shift+Tab through the real shortcut translation of the event wait,
// and FocusMove's edge cases.
#include <gtest/gtest.h>

#include "gadget/gadget.h"
#include "tests/window/window_test_support.h"
#include "window/window.h"

namespace {

class FocusTest : public WindowTest {
 protected:
  // Three tab stops as in the application, in creation order, plus a label
  // and a hidden button that are not tab stops. Buttons throughout: a list
  // box would notify its parent of each focus change (LBN_SETFOCUS).
  void SetUp() override {
    WindowTest::SetUp();
    window = OpenApplicationWindow();
    ChildCreate(window, "BUTTON", 1, WS_VISIBLE | WS_TABSTOP, 10);
    ChildCreate(window, "BUTTON", 2, WS_VISIBLE | WS_TABSTOP, 40);
    ChildCreate(window, "BUTTON", 3, WS_VISIBLE | WS_TABSTOP, 70);
    ChildCreate(window, "STATIC", 4, WS_VISIBLE, 100);
    ChildCreate(window, "BUTTON", 5, WS_TABSTOP, 130);
    EventsPump();
  }
  HWND Control(int id) { return GetDlgItem(window, id); }
  int FocusedId() {
    HWND focus = GetFocus();
    return focus != nullptr && IsChild(window, focus) ? GetDlgCtrlID(focus) : 0;
  }
  HWND window = nullptr;
};

TEST_F(FocusTest, TabAndShiftTabCycleThroughTheEnabledTabStops) {
  struct Move {
    bool secondEnabled;
    int from;
    bool backward;
    int to;
  };
  static const Move moves[] = {
      {false, 1, false, 3}, {false, 3, false, 1}, {false, 1, true, 3}, {false, 3, true, 1}, {true, 1, false, 2},
      {true, 2, false, 3},  {true, 3, false, 1},  {true, 1, true, 3},  {true, 3, true, 2},  {true, 2, true, 1},
  };
  for (const Move& move : moves) {
    SCOPED_TRACE(testing::Message() << (move.backward ? "Shift+Tab" : "Tab") << " from " << move.from
                                    << (move.secondEnabled ? ", 2 enabled" : ", 2 disabled"));
    EnableWindow(Control(2), move.secondEnabled);
    SetFocus(Control(move.from));
    EventsPump();
    ASSERT_EQ(FocusedId(), move.from);
    if (move.backward) {
      KeysPress({VK_SHIFT, VK_TAB});
    } else {
      KeysPress({VK_TAB});
    }
    std::vector<WaitResult> results = EventsPump();
    EXPECT_EQ(FocusedId(), move.to);
    // The key press is no event: its wait returns the key message's number.
    // Themed buttons repaint their parent's background under them, which
    // may queue repaints; nothing else is queued.
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results[0].code, WM_KEYDOWN);
    EXPECT_FALSE(ContainsCode(results, EVENT_GADGET));
    for (int32_t code : QueuedCodes(results)) EXPECT_EQ(code, EVENT_WINDOW_REPAINT);
  }
}

using ApplicationFocusTest = WindowTest;

TEST_F(ApplicationFocusTest, TabSkipsTheDisabledExportButton) {
  HWND window = OpenApplicationWindow();
  GadgetCreateButton(1, 10, 10, 200, 20, "Sicherung ausw\xE4hlen", 0);
  GadgetCreateButton(2, 220, 10, 200, 20, "Datei exportieren", 0);
  GadgetCreateListView(3, 10, 40, 410, 450, 0);
  GadgetDisable(2, 1);
  ASSERT_NE(GadgetGet(3), nullptr);
  SetFocus(GadgetGet(1)->window);
  EventsPump();
  auto focused = [] { return GetDlgCtrlID(GetFocus()); };
  KeysPress({VK_TAB});
  EventsPump();
  EXPECT_EQ(focused(), 3);
  KeysPress({VK_TAB});
  EventsPump();
  EXPECT_EQ(focused(), 1);
  KeysPress({VK_SHIFT, VK_TAB});
  EventsPump();
  EXPECT_EQ(focused(), 3);
  GadgetDisable(2, 0);
  KeysPress({VK_SHIFT, VK_TAB});
  EventsPump();
  EXPECT_EQ(focused(), 2);
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(FocusTest, ControlThatNotifiesOnFocusTurnsTheKeyWaitIntoAGadgetEvent) {
  HWND list = ChildCreate(window, "LISTBOX", 8, WS_VISIBLE | WS_TABSTOP | WS_BORDER, 160);
  SetFocus(Control(3));
  EventsPump();
  KeysPress({VK_TAB});
  std::vector<WaitResult> results = EventsPump();
  EXPECT_EQ(GetFocus(), list);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0].code, EVENT_GADGET);
  EXPECT_EQ(results[0].gadget, 8);
  EXPECT_EQ(results[0].type, LBN_SETFOCUS);
}

TEST_F(FocusTest, CtrlTabIsNoShortcut) {
  SetFocus(Control(1));
  EventsPump();
  KeysPress({VK_CONTROL, VK_TAB});
  EventsPump();
  EXPECT_EQ(FocusedId(), 1);
}

TEST_F(FocusTest, WithoutFocusedControlTabGoesToTheFirstAndShiftTabToTheLast) {
  SetFocus(nullptr);
  FocusMove(FOCUS_FORWARD);
  EXPECT_EQ(FocusedId(), 1);
  SetFocus(nullptr);
  FocusMove(FOCUS_BACKWARD);
  EXPECT_EQ(FocusedId(), 3);
  // The window itself holding the focus counts as no control holding it.
  SetFocus(window);
  FocusMove(FOCUS_FORWARD);
  EXPECT_EQ(FocusedId(), 1);
}

TEST_F(FocusTest, FromAControlThatIsNoTabStopOnlyShiftTabMoves) {
  SetFocus(Control(4));
  ASSERT_EQ(FocusedId(), 4);
  FocusMove(FOCUS_FORWARD);
  EXPECT_EQ(FocusedId(), 4);
  FocusMove(FOCUS_BACKWARD);
  EXPECT_EQ(FocusedId(), 3);
}

TEST_F(FocusTest, DescendantsOfChildrenAreTabStopsInCreationOrder) {
  HWND panel = ChildCreate(window, "STATIC", 6, WS_VISIBLE, 160);
  HWND nested = CreateWindowExA(0, "BUTTON", "nested", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 60, 20, panel,
                                reinterpret_cast<HMENU>(7), GetModuleHandleA(nullptr), nullptr);
  SetFocus(Control(3));
  FocusMove(FOCUS_FORWARD);
  EXPECT_EQ(GetFocus(), nested);
  FocusMove(FOCUS_FORWARD);
  EXPECT_EQ(FocusedId(), 1);
  FocusMove(FOCUS_BACKWARD);
  EXPECT_EQ(GetFocus(), nested);
  // Hiding the panel hides its child: no longer a tab stop.
  ShowWindow(panel, SW_HIDE);
  SetFocus(Control(1));
  FocusMove(FOCUS_BACKWARD);
  EXPECT_EQ(FocusedId(), 3);
}

TEST_F(FocusTest, OneTabStopKeepsTheFocusAndNoneChangesNothing) {
  for (int id : {2, 3}) DestroyWindow(Control(id));
  SetFocus(nullptr);
  FocusMove(FOCUS_BACKWARD);
  EXPECT_EQ(FocusedId(), 1);
  FocusMove(FOCUS_FORWARD);
  EXPECT_EQ(FocusedId(), 1);
  FocusMove(FOCUS_BACKWARD);
  EXPECT_EQ(FocusedId(), 1);

  DestroyWindow(Control(1));
  SetFocus(Control(4));
  FocusMove(FOCUS_FORWARD);
  EXPECT_EQ(FocusedId(), 4);
  FocusMove(FOCUS_BACKWARD);
  EXPECT_EQ(FocusedId(), 4);
}

}  // namespace
