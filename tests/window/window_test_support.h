// What the window tests share: the libraries started once per process, a
// pump that runs the real event wait and records what each call returned,
// real keyboard and mouse input, and a recorder of window creations.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "window/window.h"

// One value returned by EventWait and the event state it left.
struct WaitResult {
  int32_t code;
  int32_t window;
  int32_t gadget;
  int32_t type;
  bool queued;  // taken from the window-event queue, no message taken
};

// Calls EventWait for as long as something is there to take (queued events,
// messages, input) until for quietMs nothing but timers has come. Timer
// messages are left out of the results.
std::vector<WaitResult> EventsPump(DWORD quietMs = 120);
// The codes of the queued events among the results, in order.
std::vector<int32_t> QueuedCodes(const std::vector<WaitResult>& results);
// Whether any result carries the code (queued or not).
bool ContainsCode(const std::vector<WaitResult>& results, int32_t code);

// Windows opened by a test are closed by WindowLibraryEnd afterwards; events
// and messages left over are dropped, so each test starts with an empty queue.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens the window the application opens and makes it the foreground window.
  HWND OpenApplicationWindow();
};

// Input through SendInput, as the user's devices would give it.
// Presses the keys in order and releases them in reverse.
void KeysPress(std::initializer_list<WORD> keys);
void MouseClick(POINT at, bool doubleClick = false);
// The centre of the area of the window's frame for which WM_NCHITTEST gives
// the code (HTCLOSE, HTMINBUTTON, ...); {-1, -1} when there is none.
POINT FramePoint(HWND window, LRESULT hitCode);
POINT CentreOf(HWND window);
// Brings the window to the foreground and waits until it is active.
bool ForegroundMake(HWND window);

// A plain child control made with CreateWindowExA.
HWND ChildCreate(HWND parent, const char* className, int id, DWORD style, int y = 10);

// Records each program window (class "WindowClass_...") that the thread
// creates or destroys while it lives, through a CBT hook, and refuses a
// creation when veto answers true.
struct CreationRecord {
  std::string className;
  std::string title;
  DWORD style;
  DWORD extendedStyle;
  int x;
  int y;
  int width;
  int height;
};
class CreationRecorder {
 public:
  CreationRecorder();
  ~CreationRecorder();
  std::vector<CreationRecord> records;
  std::vector<HWND> destroyed;
  std::function<bool(const CreationRecord&)> veto;
  std::function<void(const CreationRecord&)> onCreate;

 private:
  HHOOK hook;
};
