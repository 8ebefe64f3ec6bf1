// The restore tool's entry: start the libraries, build the window with its
// two buttons and list, run the commands until the user closes the window,
// shut everything down in order, and end with exit code 0.
#include <windows.h>

#include "app/commands.h"
#include "requester/requester.h"
#include "window/window.h"

namespace {

LibrarySteps ProgramLibraries() {
  LibrarySteps steps = CommandLibraries();
  steps.requesterInit = RequesterLibraryInit;
  return steps;
}

void RunEventLoop() {
  bool quit = false;
  while (!quit) {
    int32_t event = EventWait();
    if (event == EVENT_GADGET) {
      int32_t gadget = EventGadgetNumber();
      if (gadget == BUTTON_SELECT_BACKUP) SelectBackup();
      if (gadget == BUTTON_EXPORT) ExportEntry();
    } else if (event == EVENT_CLOSE_WINDOW) {
      quit = true;
    }
  }
}

}  // namespace

// The libraries take the module handle themselves where they need it.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LibrarySteps libraries = ProgramLibraries();
  RuntimeStartUp(libraries);
  if (OpenMainWindow()) RunEventLoop();
  RuntimeShutDown(libraries);
  ExitProcess(0);
}
