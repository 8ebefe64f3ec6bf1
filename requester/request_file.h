// The one routine behind both requesters, and the window handling around the
// dialog. Separate from requester.h so that tests can reach each step.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include <cstdint>

#include "core/string.h"

String RequestFile(const String& title, const String& defaultFile, const String& pattern, int32_t patternPosition,
                   bool save);

// Explorer style, directories must exist, read-only box hidden, and the
// process's current directory left where it was.
constexpr DWORD REQUESTER_DIALOG_FLAGS = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;

// The dialog record: the record without the fields of later versions (76
// bytes), the dialog counting filter pairs from 1; no custom filter, file
// title, default extension, hook or template.
void RequesterDialogRecord(OPENFILENAMEA& record, HWND owner, const char* filterList, int32_t patternPosition,
                           char* fileBuffer, const char* initialDirectory, const char* title);

// The foreground window when it belongs to this process, else null.
HWND RequesterOwnerWindow();

// Disables this thread's visible, enabled top-level windows other than the
// foreground window, and records each on the disabled-window list.
void DisableThreadWindows();
// Re-enables the windows this thread recorded, newest first, and drops their
// records; records of other threads stay.
void EnableThreadWindows();
