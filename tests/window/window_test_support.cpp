#include "tests/window/window_test_support.h"

#include <algorithm>
#include <cstring>

#include "core/startup.h"
#include "gadget/gadget.h"

namespace {

class WindowEnvironment : public ::testing::Environment {
 public:
  // As the program starts: the library state lives until the process ends.
  void SetUp() override {
    LibrarySteps steps{};
    steps.windowInit = WindowLibraryInit;
    steps.gadgetInit = GadgetLibraryInit;
    RuntimeStartUp(steps);
  }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new WindowEnvironment);

constexpr int32_t WM_SYSTIMER = 0x0118;

bool SomethingToTake() {
  const EventState* events = EventStateGet();
  if (events->queueHead != nullptr || events->pendingEvent != 0) return true;
  MSG message;
  return PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) != 0;
}

void DropEverything() {
  while (EventStateGet()->queueHead != nullptr) EventWait();
  // A gadget event left outside a wait goes with the next message.
  if (EventStateGet()->pendingEvent != 0) {
    PostMessageA(nullptr, WM_NULL, 0, 0);
    EventWait();
  }
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

CreationRecorder* activeRecorder;

bool IsProgramWindowClass(const char* name) {
  return strncmp(name, "WindowClass_", 12) == 0;
}

// Only the program's windows are recorded: the platform makes helper windows
// of its own (input method windows) beside them.
LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam) {
  CreationRecorder* recorder = activeRecorder;
  if (recorder == nullptr) return CallNextHookEx(nullptr, code, wParam, lParam);
  char className[256] = "";
  if (code == HCBT_CREATEWND || code == HCBT_DESTROYWND) {
    GetClassNameA(reinterpret_cast<HWND>(wParam), className, sizeof className);
  }
  if (code == HCBT_CREATEWND && IsProgramWindowClass(className)) {
    const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
    CreationRecord record = {className,
                             create->lpszName != nullptr ? create->lpszName : "",
                             DWORD(create->style),
                             create->dwExStyle,
                             create->x,
                             create->y,
                             create->cx,
                             create->cy};
    recorder->records.push_back(record);
    if (recorder->onCreate) recorder->onCreate(record);
    if (recorder->veto && recorder->veto(record)) return 1;
  }
  if (code == HCBT_DESTROYWND && IsProgramWindowClass(className)) {
    recorder->destroyed.push_back(reinterpret_cast<HWND>(wParam));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

std::vector<WaitResult> EventsPump(DWORD quietMs) {
  std::vector<WaitResult> results;
  // Keeps GetMessageA from blocking for good should a peeked message vanish.
  UINT_PTR watchdog = SetTimer(nullptr, 0, 250, nullptr);
  DWORD lastActivity = GetTickCount();
  for (;;) {
    DWORD idle = GetTickCount() - lastActivity;
    if (idle >= quietMs) break;
    if (!SomethingToTake()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, quietMs - idle, QS_ALLINPUT);
      continue;
    }
    bool queued = EventStateGet()->queueHead != nullptr;
    int32_t code = EventWait();
    // Timers tick on (the controls' hover tracking polls with one): they are
    // dispatched but are not activity.
    if (!queued && (code == WM_TIMER || code == WM_SYSTIMER)) continue;
    lastActivity = GetTickCount();
    results.push_back({code, EventWindow(), EventGadgetNumber(), EventType(), queued});
  }
  KillTimer(nullptr, watchdog);
  return results;
}

std::vector<int32_t> QueuedCodes(const std::vector<WaitResult>& results) {
  std::vector<int32_t> codes;
  for (const WaitResult& result : results) {
    if (result.queued) codes.push_back(result.code);
  }
  return codes;
}

bool ContainsCode(const std::vector<WaitResult>& results, int32_t code) {
  return std::any_of(results.begin(), results.end(), [code](const WaitResult& r) { return r.code == code; });
}

void WindowTest::SetUp() {
  DropEverything();
}

void WindowTest::TearDown() {
  WindowLibraryEnd();
  DropEverything();
}

HWND WindowTest::OpenApplicationWindow() {
  auto window = reinterpret_cast<HWND>(WindowOpen(0, 0, 0, 430, 500, "Wiederherstellung", 0xCA0001));
  EXPECT_NE(window, nullptr);
  EXPECT_TRUE(ForegroundMake(window));
  EventsPump();
  return window;
}

void KeysPress(std::initializer_list<WORD> keys) {
  std::vector<INPUT> inputs;
  for (WORD key : keys) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    inputs.push_back(input);
  }
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = *key;
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

void MouseClick(POINT at, bool doubleClick) {
  SetCursorPos(at.x, at.y);
  INPUT inputs[4] = {};
  for (INPUT& input : inputs) input.type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = inputs[3].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(doubleClick ? 4 : 2, inputs, sizeof(INPUT));
}

namespace {

bool HitsAt(HWND window, LONG x, LONG y, LRESULT hitCode) {
  return SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == hitCode;
}

}  // namespace

POINT FramePoint(HWND window, LRESULT hitCode) {
  RECT frame;
  GetWindowRect(window, &frame);
  // The caption buttons lie in the title bar: find the code's run along
  // each row of it, then the run down the middle of the first row found.
  LONG rows = GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFRAME);
  for (LONG y = frame.top; y < frame.top + rows; y += 2) {
    LONG left = -1, right = -1;
    for (LONG x = frame.left; x < frame.right; ++x) {
      if (!HitsAt(window, x, y, hitCode)) continue;
      if (left < 0) left = x;
      right = x;
    }
    if (left < 0) continue;
    LONG x = (left + right) / 2;
    LONG top = y, bottom = y;
    while (HitsAt(window, x, top - 1, hitCode)) --top;
    while (HitsAt(window, x, bottom + 1, hitCode)) ++bottom;
    return {x, (top + bottom) / 2};
  }
  return {-1, -1};
}

POINT CentreOf(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

bool ForegroundMake(HWND window) {
  SetForegroundWindow(window);
  for (int tries = 0; tries < 50 && GetActiveWindow() != window; ++tries) EventsPump(20);
  return GetActiveWindow() == window;
}

HWND ChildCreate(HWND parent, const char* className, int id, DWORD style, int y) {
  return CreateWindowExA(0, className, className, WS_CHILD | style, 10, y, 120, 24, parent,
                         reinterpret_cast<HMENU>(intptr_t(id)), GetModuleHandleA(nullptr), nullptr);
}

CreationRecorder::CreationRecorder() {
  activeRecorder = this;
  hook = SetWindowsHookExA(WH_CBT, CreationHook, nullptr, GetCurrentThreadId());
}

CreationRecorder::~CreationRecorder() {
  UnhookWindowsHookEx(hook);
  activeRecorder = nullptr;
}
