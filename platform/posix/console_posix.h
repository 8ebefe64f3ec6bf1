// Internal to the POSIX seam: what the folder calls hand to the console part.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace posix_console {

// The longest name an interrupt can remove, with its terminator.
constexpr size_t PENDING_NAME_MAX = 64;
// Adds the file name below the open folder descriptor folder to those an
// interrupt removes; false when the list is full or the name too long.
bool AddPending(int folder, const char* name);
void DropPending(int folder, const char* name);
// The same for folders an interrupt removes when empty; folder may be
// AT_FDCWD.
constexpr size_t PENDING_FOLDER_NAME_MAX = 1024;
bool AddPendingFolder(int folder, const char* name);
void DropPendingFolder(int folder, const char* name);

}  // namespace posix_console
