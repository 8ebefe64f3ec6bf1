// What the Win32 seam's files share of a folder: its record, and the whole
// path of a name below it. Internal to platform/win32.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Win32 has no calls relative to a folder handle: a name below the folder is
// reached by its whole path, and the folder is held open without delete
// sharing, so that neither it nor a folder above it can be renamed or
// removed while the path is in use.
struct PlatformFolderRecord {
  HANDLE handle;
  std::string path;
  uint64_t volume;  // its volume's serial number, as its identity has it
};

inline std::string Below(PlatformFolder folder, const char* name) {
  const std::string& path = folder->path;
  bool separated = !path.empty() && (path.back() == '\\' || path.back() == '/' || path.back() == ':');
  return path + (separated ? "" : "\\") + name;
}
