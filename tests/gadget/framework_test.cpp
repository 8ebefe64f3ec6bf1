// The framework with real controls: the table and its numbers, the marks on
// each control, the generic operations and their defaults, the gadget list.
#include <gtest/gtest.h>

#include <vector>

#include "gadget/gadget.h"
#include "tests/gadget/gadget_test_support.h"
#include "window/window.h"

namespace {

const LRESULT NOT_HANDLED = static_cast<LRESULT>(MESSAGE_NOT_HANDLED);

// Window creation and destruction in the order the platform performs them,
// seen through a CBT hook; refuseCreation makes the next creation fail.
struct WindowLifeLog {
  struct Step {
    bool created;
    HWND window;
  };
  std::vector<Step> steps;
  bool refuseCreation = false;
};
WindowLifeLog lifeLog;

LRESULT CALLBACK LifeHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    if (lifeLog.refuseCreation) return 1;
    lifeLog.steps.push_back({true, reinterpret_cast<HWND>(wParam)});
  } else if (code == HCBT_DESTROYWND) {
    lifeLog.steps.push_back({false, reinterpret_cast<HWND>(wParam)});
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = HostWindowOpen();
    ASSERT_NE(host, nullptr);
  }
  void TearDown() override {
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    lifeLog = {};
    if (IsWindow(host)) DestroyWindow(host);
  }
  void WatchWindowLife() {
    hook = SetWindowsHookExA(WH_CBT, LifeHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
  }

  HWND host = nullptr;
  HHOOK hook = nullptr;
};

HWND ControlOf(intptr_t number) {
  Gadget* gadget = GadgetGet(number);
  return gadget != nullptr ? gadget->window : nullptr;
}

TEST_F(FrameworkTest, CreationMarksTheControlWithItsNumber) {
  intptr_t result = GadgetCreateButton(7, 10, 10, 200, 20, "Sicherung ausw\xE4hlen", 0);
  HWND control = ControlOf(7);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(result, reinterpret_cast<intptr_t>(control)) << "an explicit number answers the control";
  EXPECT_EQ(GetParent(control), host);
  EXPECT_EQ(GetWindowLongPtrA(control, GWLP_ID), 7);
  EXPECT_EQ(GadgetNumberOfControl(control), 7);
  EXPECT_EQ(GetWindowLongPtrW(control, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(GadgetWindowProc));
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), GetStockObject(DEFAULT_GUI_FONT));
  char text[64] = {};
  GetWindowTextA(control, text, sizeof text);
  EXPECT_STREQ(text, "Sicherung ausw\xE4hlen");
  EXPECT_EQ(GadgetTable()->capacity, 50);
}

TEST_F(FrameworkTest, DestroyingTheControlFreesTheNumber) {
  GadgetCreateButton(4, 10, 10, 200, 20, "A", 0);
  HWND control = ControlOf(4);
  ASSERT_NE(control, nullptr);
  EXPECT_NE(GadgetFree(4), 0);
  EXPECT_FALSE(IsWindow(control));
  EXPECT_EQ(GadgetGet(4), nullptr);
  EXPECT_EQ(GadgetFree(4), 0) << "no gadget left under the number";

  // Destroyed with its window, the same way.
  GadgetCreateButton(5, 10, 10, 200, 20, "B", 0);
  ASSERT_NE(ControlOf(5), nullptr);
  DestroyWindow(host);
  EXPECT_EQ(GadgetGet(5), nullptr);
}

TEST_F(FrameworkTest, ANumberInUseIsClosedOnlyAfterTheNewControlExists) {
  GadgetCreateButton(3, 10, 10, 200, 20, "old", 0);
  HWND old = ControlOf(3);
  ASSERT_NE(old, nullptr);
  WatchWindowLife();
  GadgetCreateButton(3, 10, 40, 200, 20, "new", 0);
  HWND fresh = ControlOf(3);
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, old);
  EXPECT_FALSE(IsWindow(old));
  ASSERT_EQ(lifeLog.steps.size(), 2u);
  EXPECT_TRUE(lifeLog.steps[0].created);
  EXPECT_EQ(lifeLog.steps[0].window, fresh);
  EXPECT_FALSE(lifeLog.steps[1].created);
  EXPECT_EQ(lifeLog.steps[1].window, old);
  EXPECT_EQ(GadgetNumberOfControl(fresh), 3);

  // A creation that fails leaves the gadget under the number alone.
  lifeLog.refuseCreation = true;
  EXPECT_EQ(GadgetCreateButton(3, 10, 70, 200, 20, "refused", 0), 0);
  EXPECT_EQ(ControlOf(3), fresh);
  EXPECT_TRUE(IsWindow(fresh));
}

TEST_F(FrameworkTest, AnyNumberGivesAnIdentityThatNamesTheGadget) {
  intptr_t first = GadgetCreateButton(OBJECT_ANY, 10, 10, 200, 20, "one", 0);
  intptr_t second = GadgetCreateButton(OBJECT_ANY, 10, 40, 200, 20, "two", 0);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  EXPECT_TRUE(first < 0 || first >= GadgetTable()->capacity) << "identities lie outside the slot numbers";
  HWND control = ControlOf(first);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(GetWindowLongPtrA(control, GWLP_ID), first);
  EXPECT_EQ(GadgetNumberOfControl(control), first);
  EXPECT_EQ(GadgetDisable(first, 1), 0) << "was enabled before";
  EXPECT_FALSE(IsWindowEnabled(control));
  EXPECT_NE(GadgetFree(first), 0);
  EXPECT_EQ(GadgetGet(first), nullptr);
  EXPECT_NE(ControlOf(second), nullptr) << "the other identity is still found";
}

TEST_F(FrameworkTest, EveryGenericOperationHasItsDefaultWithoutAGadget) {
  const intptr_t numbers[] = {0, 12, 49, 50, 1000, OBJECT_ANY, -5, 0x7FFF0000};
  for (intptr_t number : numbers) {
    SCOPED_TRACE(number);
    EXPECT_EQ(GadgetDisable(number, 1), 0);
    EXPECT_EQ(GadgetGetState(number), 0);
    EXPECT_STREQ(GadgetGetItemText(number, 0, 0).Text(), "");
    EXPECT_EQ(GadgetAddItem(number, -1, "row", 0, 0), 0);
    GadgetClearItems(number);
    EXPECT_EQ(GadgetFree(number), 0);
    EXPECT_EQ(GadgetSetRedraw(number, true), 0);
  }
  EXPECT_EQ(GadgetTable()->capacity, 50) << "looking up a number does not grow the table";
}

TEST_F(FrameworkTest, ButtonLeavesListOperationsToTheirDefaults) {
  GadgetCreateButton(2, 10, 10, 200, 20, nullptr, 0);
  HWND control = ControlOf(2);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(GetWindowTextLengthA(control), 0) << "a null text gives an empty caption";
  EXPECT_EQ(GadgetGetState(2), 0);
  EXPECT_EQ(GadgetAddItem(2, -1, "row", 0, 0), 0);
  EXPECT_STREQ(GadgetGetItemText(2, 0, 0).Text(), "");
  GadgetClearItems(2);
  EXPECT_EQ(GadgetDisable(2, 0), 0) << "enabling an enabled control: it was not disabled";
  EXPECT_EQ(GadgetDisable(2, 7), 0);
  EXPECT_FALSE(IsWindowEnabled(control));
  EXPECT_NE(GadgetDisable(2, 0), 0) << "it was disabled";
  EXPECT_TRUE(IsWindowEnabled(control));
}

TEST_F(FrameworkTest, ButtonStateFollowsItsCheck) {
  GadgetCreateButton(1, 10, 10, 200, 20, "Box", BS_AUTOCHECKBOX);
  Gadget* gadget = GadgetGet(1);
  ASSERT_NE(gadget, nullptr);
  EXPECT_EQ(GetWindowLongA(gadget->window, GWL_STYLE) & 0xFFFF000F, LONG(0x50030000 | BS_AUTOCHECKBOX));
  EXPECT_EQ(GadgetGetState(1), 0);
  gadget->kind->setState(gadget, 5);
  EXPECT_EQ(GadgetGetState(1), 1);
  gadget->kind->setState(gadget, 0);
  EXPECT_EQ(GadgetGetState(1), 0);
  EXPECT_EQ(gadget->kind->kindId, GADGET_KIND_BUTTON);
}

TEST_F(FrameworkTest, ForwardingReachesOnlyGadgetsWithAHandler) {
  GadgetCreateButton(6, 10, 10, 200, 20, "B", 0);
  HWND button = ControlOf(6);
  EXPECT_EQ(GadgetMessageForward(nullptr, host, WM_COMMAND, 0, 0), NOT_HANDLED);
  EXPECT_EQ(GadgetMessageForward(button, host, WM_COMMAND, MAKEWPARAM(6, BN_CLICKED), LPARAM(button)), NOT_HANDLED)
      << "the button kind has no handler";

  // A control that is no gadget, also one whose identifier is 0 like a
  // gadget with number 0 and no property.
  GadgetCreateButton(0, 10, 40, 200, 20, "zero", 0);
  HWND foreign = CreateWindowExA(0, "Button", "x", WS_CHILD, 0, 0, 10, 10, host, reinterpret_cast<HMENU>(0),
                                 GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(foreign, nullptr);
  EXPECT_EQ(GadgetNumberOfControl(foreign), -1);
  EXPECT_EQ(GadgetNumberOfControl(ControlOf(0)), 0);
}

TEST_F(FrameworkTest, GadgetListSwitchesAndRestores) {
  EXPECT_EQ(GadgetListUse(nullptr), host);
  EXPECT_EQ(GadgetListUse(host), host) << "the current window stays current";
  EXPECT_EQ(GadgetListUse(nullptr), host);
  GadgetCreateButton(1, 10, 10, 100, 20, "on host", 0);
  EXPECT_EQ(GetParent(ControlOf(1)), host);

  HWND other = HostWindowOpen(false);
  EXPECT_EQ(GadgetListUse(other), host);
  EXPECT_EQ(GetWindowLongPtrA(other, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(GadgetListWindowProc));
  GadgetCreateButton(2, 10, 10, 100, 20, "on other", 0);
  EXPECT_EQ(GetParent(ControlOf(2)), other);
  EXPECT_EQ(GadgetListUse(host), other);
  GadgetCreateButton(3, 10, 40, 100, 20, "on host again", 0);
  EXPECT_EQ(GetParent(ControlOf(3)), host);

  // Destroying a window that is not current leaves the current list alone.
  DestroyWindow(other);
  EXPECT_EQ(GadgetGet(2), nullptr);
  EXPECT_EQ(GadgetListUse(nullptr), host);
}

TEST_F(FrameworkTest, ClosingTheCurrentListWindowLeavesNoCurrentList) {
  GadgetCreateButton(1, 10, 10, 100, 20, "x", 0);
  DestroyWindow(host);
  EXPECT_EQ(GadgetListUse(nullptr), nullptr);
  EXPECT_EQ(GadgetGet(1), nullptr);
  EXPECT_EQ(GadgetCreateButton(1, 10, 10, 100, 20, "nowhere", 0), 0) << "no list: creation fails";
  EXPECT_EQ(GadgetGet(1), nullptr);

  // The next window opened becomes the list again.
  host = HostWindowOpen();
  EXPECT_EQ(GadgetListUse(nullptr), host);
  EXPECT_NE(GadgetCreateButton(1, 10, 10, 100, 20, "back", 0), 0);
}

TEST_F(FrameworkTest, NumbersBeyondTheFirstSlotsGrowTheTable) {
  EXPECT_NE(GadgetCreateButton(100, 10, 10, 100, 20, "far", 0), 0);
  EXPECT_EQ(GadgetTable()->capacity, 150);
  EXPECT_EQ(GadgetNumberOfControl(ControlOf(100)), 100);
  EXPECT_EQ(GadgetCreateButton(-2, 10, 10, 100, 20, "bad", 0), 0) << "not a valid number";
}

TEST_F(FrameworkTest, WindowsOfTheWindowLibraryBecomeTheListWhenOpened) {
  ASSERT_NE(WindowOpen(5, 0, 0, 200, 100, "F\xFCnf", WINDOW_START_HIDDEN), 0);
  HWND five = WindowGet(5)->window;
  EXPECT_EQ(GadgetListUse(nullptr), five);
  ASSERT_NE(WindowOpen(6, 0, 0, 200, 100, "Sechs", WINDOW_START_HIDDEN | WINDOW_WITHOUT_GADGET_LIST), 0);
  EXPECT_EQ(GadgetListUse(nullptr), five) << "opened without a gadget list";
  GadgetCreateButton(1, 10, 10, 100, 20, "x", 0);
  EXPECT_EQ(GetParent(ControlOf(1)), five);

  WindowClose(5);
  EXPECT_EQ(GadgetGet(1), nullptr) << "destroyed with its window";
  EXPECT_EQ(GadgetListUse(nullptr), nullptr) << "the current list went with its window";
  EXPECT_EQ(GadgetCreateButton(1, 10, 10, 100, 20, "x", 0), 0);
  WindowClose(6);
  EXPECT_EQ(GadgetListUse(host), nullptr);
}

}  // namespace
