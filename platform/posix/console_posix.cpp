// The console's facts and the interrupt's clean-up over POSIX calls, beside
// the heaps, files and folders of platform_posix.cpp.
#include "platform/posix/console_posix.h"

#include <fcntl.h>
#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "platform/platform.h"

size_t PlatformErrorText(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const char* text = strerror(errno);
  size_t length = strnlen(text, size - 1);
  memcpy(buffer, text, length);
  buffer[length] = 0;
  return length;
}

uint64_t PlatformMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

namespace {

// The files an interrupt removes: a signal handler reaches nothing but
// globals, and unlinkat is safe to call in one. A slot is taken while its
// folder is above 0 (the descriptor plus one); the name is written first.
struct PendingFile {
  volatile sig_atomic_t folder;
  char name[posix_console::PENDING_NAME_MAX];
};
PendingFile pending[PLATFORM_INTERRUPT_FILES];

// Folders made by the run: a slot is taken while `set`, after the folder
// and the name were written.
struct PendingFolder {
  volatile sig_atomic_t set;
  int folder;
  char name[posix_console::PENDING_FOLDER_NAME_MAX];
};
PendingFolder pendingFolders[PLATFORM_INTERRUPT_FOLDERS];

void RemovePendingAndStop(int signalNumber) {
  for (PendingFile& file : pending) {
    if (file.folder > 0) unlinkat(file.folder - 1, file.name, 0);
  }
  // Then the folders the files were in, the deepest first whatever their
  // order in the list: each pass removes those the one before emptied.
  for (bool removed = true; removed;) {
    removed = false;
    for (PendingFolder& folder : pendingFolders) {
      if (folder.set == 0 || unlinkat(folder.folder, folder.name, AT_REMOVEDIR) != 0) continue;
      folder.set = 0;
      removed = true;
    }
  }
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

bool LocaleIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
}

}  // namespace

// Files come and go mostly in the order they were staged: each search
// starts where the last one ended, so that a run of thousands of files does
// not pass the whole table for each one.
static size_t nextFree = 0;
static size_t nextDrop = 0;

bool posix_console::AddPending(int folder, const char* name) {
  size_t length = strlen(name);
  if (folder < 0 || length >= PENDING_NAME_MAX) return false;
  for (size_t i = 0; i < PLATFORM_INTERRUPT_FILES; i++) {
    size_t slot = (nextFree + i) % PLATFORM_INTERRUPT_FILES;
    PendingFile& file = pending[slot];
    if (file.folder != 0) continue;
    memcpy(file.name, name, length + 1);
    file.folder = folder + 1;
    nextFree = slot + 1;
    return true;
  }
  return false;
}

void posix_console::DropPending(int folder, const char* name) {
  for (size_t i = 0; i < PLATFORM_INTERRUPT_FILES; i++) {
    size_t slot = (nextDrop + i) % PLATFORM_INTERRUPT_FILES;
    PendingFile& file = pending[slot];
    if (file.folder == folder + 1 && strcmp(file.name, name) == 0) {
      file.folder = 0;
      nextDrop = slot + 1;
      return;
    }
  }
}

namespace {

PendingFolder* FindPendingFolder(int folder, const char* name) {
  for (PendingFolder& pending : pendingFolders) {
    if (pending.set != 0 && pending.folder == folder && strcmp(pending.name, name) == 0) return &pending;
  }
  return nullptr;
}

}  // namespace

bool posix_console::AddPendingFolder(int folder, const char* name) {
  size_t length = strlen(name);
  if (length >= PENDING_FOLDER_NAME_MAX) return false;
  if (FindPendingFolder(folder, name) != nullptr) return true;
  for (PendingFolder& pending : pendingFolders) {
    if (pending.set != 0) continue;
    pending.folder = folder;
    memcpy(pending.name, name, length + 1);
    pending.set = 1;
    return true;
  }
  return false;
}

void posix_console::DropPendingFolder(int folder, const char* name) {
  if (PendingFolder* pending = FindPendingFolder(folder, name)) pending->set = 0;
}

void PlatformConsoleSetUp() {
  setlocale(LC_CTYPE, "");
  signal(SIGXFSZ, SIG_IGN);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) signal(signalNumber, RemovePendingAndStop);
}

bool PlatformErrorIsTerminal() {
  return isatty(STDERR_FILENO) != 0;
}

uint32_t PlatformConsoleCodePage() {
  return LocaleIsUtf8() ? PLATFORM_CODE_PAGE_UTF8 : PLATFORM_CODE_PAGE_UNKNOWN;
}

uint32_t PlatformArgumentCodePage() {
  return PlatformConsoleCodePage();
}

size_t PlatformEncodeText(uint32_t, const uint16_t*, size_t, char*, size_t) {
  return 0;
}
