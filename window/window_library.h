// State shared by the files of the window library; not for other libraries.
#pragma once

#include <windows.h>

#include "window/window.h"

// Process-wide, one zero-filled block of the program heap made by WindowLibraryInit.
struct WindowLibrary {
  ObjectTable* windows;
  EventState* events;
  HICON classIcon;
  HCURSOR classCursor;
  HINSTANCE module;
};

// Null before WindowLibraryInit.
WindowLibrary* WindowLibraryGet();

