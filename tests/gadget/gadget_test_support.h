// What the gadget tests share: the libraries started once per process, and
// plain host windows for tests that need no event loop.
#pragma once

#include <windows.h>

// A visible top-level window of a class of our own with the default
// procedure, made the current gadget list unless useList is false.
HWND HostWindowOpen(bool useList = true);
// Dispatches every message already waiting for this thread.
void MessagesPump();
