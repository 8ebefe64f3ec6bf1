#include "tests/gadget/gadget_test_support.h"

#include <gtest/gtest.h>

#include "core/startup.h"
#include "gadget/gadget.h"
#include "window/window.h"

namespace {

constexpr char HOST_CLASS[] = "GadgetTestHost";

class GadgetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    LibrarySteps steps{};
    steps.windowInit = WindowLibraryInit;
    steps.gadgetInit = GadgetLibraryInit;
    RuntimeStartUp(steps);
    WNDCLASSA host = {};
    host.style = CS_DBLCLKS;
    host.lpfnWndProc = DefWindowProcA;
    host.hInstance = GetModuleHandleA(nullptr);
    host.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    host.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    host.lpszClassName = HOST_CLASS;
    RegisterClassA(&host);
  }
};

// Registered before gtest_main runs the tests.
const auto* const environment = ::testing::AddGlobalTestEnvironment(new GadgetEnvironment);

}  // namespace

HWND HostWindowOpen(bool useList) {
  HWND window = CreateWindowExA(0, HOST_CLASS, "Gadget test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 460, 540,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window != nullptr && useList) GadgetListUse(window);
  return window;
}

void MessagesPump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void MouseMoveTo(HWND window, int x, int y) {
  POINT point = {x, y};
  ClientToScreen(window, &point);
  // Absolute input is given on a 0..65535 scale; pick the value that maps
  // back onto exactly this pixel.
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = LONG((point.x * 65536 + width - 1) / width);
  input.mi.dy = LONG((point.y * 65536 + height - 1) / height);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
}

void MouseButton(bool down) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
  SendInput(1, &input, sizeof input);
}
