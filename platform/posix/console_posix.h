// Internal to the POSIX seam: what the folder calls hand to the console part.
#pragma once

namespace posix_console {

// Names the file name below the open folder descriptor folder that an
// interrupt removes; a folder below 0 names none.
void SetPending(int folder, const char* name);

}  // namespace posix_console
