#include "requester/requester_logic.h"

#include <cstring>

#include "core/memory.h"
#include "file/file_name.h"

namespace {

// A copy of text with two zero bytes more than its length: room for the
// filter list's closing NUL pair, and a terminator for the directory copy.
char* PaddedCopy(const char* text) {
  size_t length = strlen(text);
  auto* copy = static_cast<char*>(ProgramAlloc(length + 2, true));
  if (copy != nullptr) memcpy(copy, text, length);
  return copy;
}

}  // namespace

char* RequesterFilterList(const char* pattern) {
  const char* text = pattern != nullptr ? pattern : "";
  size_t length = strlen(text);
  char* list = PaddedCopy(text);
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < length; i++) {
    if (list[i] == '|') list[i] = '\0';
  }
  return list;
}

int RequesterNameIsUsable(const char* name) {
  // A name that does not fit the buffer is dropped like an invalid one,
  // rather than overrunning the buffer or being cut into another name.
  return FileNameIsValid(name) != 0 && strlen(name) < REQUESTER_FILE_BUFFER_SIZE ? 1 : 0;
}

char* RequesterSplitDefaultFile(const char* defaultFile, char* fileBuffer) {
  if (defaultFile == nullptr) return nullptr;
  const char* lastBackslash = strrchr(defaultFile, '\\');
  bool splits = lastBackslash != nullptr && lastBackslash != defaultFile;
  const char* name = splits ? lastBackslash + 1 : defaultFile;
  if (RequesterNameIsUsable(name)) strcpy(fileBuffer, name);

  char* directory = PaddedCopy(defaultFile);
  if (directory != nullptr) directory[splits ? lastBackslash - defaultFile : 0] = '\0';
  return directory;
}
