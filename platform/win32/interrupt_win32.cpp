// The names an interrupt (Ctrl+C, or the console closed) removes under
// Win32: the staged files of a run and the folders it made, kept in fixed
// slots that the handler, on a thread of its own, reads without a lock.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/win32/folder_win32.h"

namespace {

// The file Ctrl+C removes. The handler runs on a thread of its own while the
// file is open: it is opened with delete sharing, so the deletion takes
// effect when the process ends.
// The files an interrupt removes; a slot is taken while its flag is set,
// after its path was written.
struct PendingFile {
  volatile LONG set;
  char path[MAX_PATH + 1];
};
PendingFile pending[PLATFORM_INTERRUPT_FILES];
// Folders made by the run, removed after the files when empty (a file still
// open is gone only once the process ends, so its folder stays).
PendingFile pendingFolders[PLATFORM_INTERRUPT_FOLDERS];

BOOL WINAPI RemovePending(DWORD) {
  for (PendingFile& file : pending) {
    if (file.set != 0) DeleteFileA(file.path);
  }
  // The deepest first whatever their order: each pass removes those the one
  // before emptied.
  for (bool removed = true; removed;) {
    removed = false;
    for (PendingFile& folder : pendingFolders) {
      if (folder.set == 0 || !RemoveDirectoryA(folder.path)) continue;
      folder.set = 0;
      removed = true;
    }
  }
  return FALSE;
}

std::string PendingPath(PlatformFolder folder, const char* name) {
  return folder != nullptr ? Below(folder, name) : std::string(name);
}

}  // namespace

void PlatformConsoleSetUp() {
  // --raw promises LF endings and cat the bytes as they are.
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleCtrlHandler(RemovePending, TRUE);
}

// Names are listed and kept mostly in the same order, a batch of thousands
// at a time: each search starts past the slot the last one took, so that it
// does not pass every name listed before (as a comparison of each, that was
// a tenth of extract's time for 10,000 files).
static size_t nextList = 0, nextKeep = 0;

bool PlatformDeleteOnInterrupt(PlatformFolder folder, const char* name) {
  std::string path = Below(folder, name);
  if (path.size() >= sizeof pending[0].path) return false;
  for (size_t i = 0; i < PLATFORM_INTERRUPT_FILES; i++) {
    size_t slot = (nextList + i) % PLATFORM_INTERRUPT_FILES;
    PendingFile& file = pending[slot];
    if (file.set != 0) continue;
    memcpy(file.path, path.c_str(), path.size() + 1);
    file.set = 1;
    nextList = slot + 1;
    return true;
  }
  return false;
}

void PlatformKeepOnInterrupt(PlatformFolder folder, const char* name) {
  std::string path = Below(folder, name);
  for (size_t i = 0; i < PLATFORM_INTERRUPT_FILES; i++) {
    size_t slot = (nextKeep + i) % PLATFORM_INTERRUPT_FILES;
    PendingFile& file = pending[slot];
    if (file.set != 0 && path == file.path) {
      file.set = 0;
      nextKeep = slot + 1;
      return;
    }
  }
}

bool PlatformRemoveFolderOnInterrupt(PlatformFolder folder, const char* name) {
  std::string path = PendingPath(folder, name);
  if (path.size() >= sizeof pendingFolders[0].path) return false;
  PendingFile* free = nullptr;
  for (PendingFile& pending : pendingFolders) {
    if (pending.set != 0 && path == pending.path) return true;
    if (pending.set == 0 && free == nullptr) free = &pending;
  }
  if (free == nullptr) return false;
  memcpy(free->path, path.c_str(), path.size() + 1);
  free->set = 1;
  return true;
}

void PlatformKeepFolderOnInterrupt(PlatformFolder folder, const char* name) {
  std::string path = PendingPath(folder, name);
  for (PendingFile& pending : pendingFolders) {
    if (pending.set != 0 && path == pending.path) pending.set = 0;
  }
}
