// The modal open and save file dialogs. Each takes a title, a default file
// (a directory ending in '\', or a directory and a proposed name), a pattern
// of description/wildcard pairs separated by '|' ("Sicherung|*.zip") and the
// position of the pair shown first, counted from 0. A null String stands for
// a missing default file or pattern. The result is the full path the user
// chose, or "" when the user cancelled or the dialog failed.
#pragma once

#include <cstdint>

#include "core/string.h"

// Once at start-up: common controls, then COM for the dialog's shell parts.
void RequesterLibraryInit();

String RequestOpenFile(const String& title, const String& defaultFile, const String& pattern, int32_t patternPosition);
String RequestSaveFile(const String& title, const String& defaultFile, const String& pattern, int32_t patternPosition);
