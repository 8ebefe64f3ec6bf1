// What the gadget tests share: the libraries started once per process, and
// plain host windows for tests that need no event loop.
#pragma once

#include <windows.h>

// A visible top-level window of a class of our own with the default
// procedure, made the current gadget list unless useList is false.
HWND HostWindowOpen(bool useList = true);
// Dispatches every message already waiting for this thread.
void MessagesPump();

// Real mouse input through the platform's input queue, as a user gives it.
// Positions are client coordinates of the given window.
void MouseMoveTo(HWND window, int x, int y);
void MouseButton(bool down);
