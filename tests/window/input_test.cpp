// What the user's mouse and keyboard give: a click on a button gadget, the
// close box, Alt+F4, minimizing with the mouse and restoring.
#include <gtest/gtest.h>

#include <algorithm>

#include "gadget/gadget.h"
#include "tests/window/window_test_support.h"
#include "window/window.h"

namespace {

using InputTest = WindowTest;

TEST_F(InputTest, ClickOnAButtonGivesItsGadgetEventFromTheWaitThatDispatchesTheClick) {
  HWND window = OpenApplicationWindow();
  ASSERT_NE(GadgetCreateButton(1, 10, 10, 200, 20, "Sicherung ausw\xE4hlen", 0), 0);
  EventsPump();
  MouseClick(CentreOf(GadgetGet(1)->window));
  std::vector<WaitResult> results = EventsPump();
  auto gadgetEvent = std::find_if(results.begin(), results.end(), [](auto& r) { return r.code == EVENT_GADGET; });
  ASSERT_NE(gadgetEvent, results.end());
  EXPECT_FALSE(gadgetEvent->queued);
  EXPECT_EQ(gadgetEvent->gadget, 1);
  EXPECT_EQ(gadgetEvent->type, EVENT_TYPE_CLICK);
  EXPECT_EQ(gadgetEvent->window, 0);
  // That wait took the button-up message: its number is not returned.
  EXPECT_FALSE(ContainsCode(results, WM_LBUTTONUP));
  EXPECT_EQ(std::count_if(results.begin(), results.end(), [](auto& r) { return r.code == EVENT_GADGET; }), 1);
  EXPECT_TRUE(IsWindow(window));
}

TEST_F(InputTest, ClickOnTheCloseBoxAsksToCloseAndTheWindowStays) {
  HWND window = OpenApplicationWindow();
  POINT closeBox = FramePoint(window, HTCLOSE);
  ASSERT_GE(closeBox.x, 0);
  MouseClick(closeBox);
  std::vector<WaitResult> results = EventsPump();
  EXPECT_TRUE(ContainsCode(results, WM_NCLBUTTONDOWN));
  std::vector<int32_t> queued = QueuedCodes(results);
  EXPECT_EQ(std::count(queued.begin(), queued.end(), EVENT_CLOSE_WINDOW), 1);
  auto close = std::find_if(results.begin(), results.end(), [](auto& r) { return r.code == EVENT_CLOSE_WINDOW; });
  ASSERT_NE(close, results.end());
  EXPECT_EQ(close->window, 0);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(InputTest, AltF4AsksToClose) {
  HWND window = OpenApplicationWindow();
  KeysPress({VK_MENU, VK_F4});
  std::vector<WaitResult> results = EventsPump();
  std::vector<int32_t> queued = QueuedCodes(results);
  EXPECT_EQ(std::count(queued.begin(), queued.end(), EVENT_CLOSE_WINDOW), 1);
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(InputTest, MinimizeBoxThenRestoreGiveTheirEventsInOrder) {
  HWND window = OpenApplicationWindow();
  POINT minimizeBox = FramePoint(window, HTMINBUTTON);
  ASSERT_GE(minimizeBox.x, 0);
  MouseClick(minimizeBox);
  std::vector<int32_t> queued = QueuedCodes(EventsPump());
  ASSERT_TRUE(IsIconic(window));
  EXPECT_EQ(WindowGet(0)->minMaxState, 1);
  // Without a task bar the minimized window stays on the desktop as a small
  // title bar; a double click on it restores it.
  MouseClick(CentreOf(window), true);
  std::vector<int32_t> restored = QueuedCodes(EventsPump());
  ASSERT_FALSE(IsIconic(window));
  EXPECT_EQ(WindowGet(0)->minMaxState, 0);
  queued.insert(queued.end(), restored.begin(), restored.end());

  auto minimized = std::find(queued.begin(), queued.end(), EVENT_WINDOW_MINIMIZED);
  auto restoredAt = std::find(queued.begin(), queued.end(), EVENT_WINDOW_RESTORED);
  ASSERT_NE(minimized, queued.end());
  ASSERT_NE(restoredAt, queued.end());
  EXPECT_LT(minimized, restoredAt);
  ASSERT_NE(restoredAt + 1, queued.end());
  EXPECT_EQ(restoredAt[1], EVENT_WINDOW_SIZED);
  EXPECT_EQ(std::count(queued.begin(), queued.end(), EVENT_WINDOW_MINIMIZED), 1);
  EXPECT_EQ(std::count(queued.begin(), queued.end(), EVENT_WINDOW_RESTORED), 1);
  // Minimizing gives no size event of its own.
  EXPECT_NE(minimized[1], EVENT_WINDOW_SIZED);
}

}  // namespace
