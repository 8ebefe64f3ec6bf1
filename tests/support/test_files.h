// Whole files for tests: read back what the code under test wrote, lay down
// what it will read. Header-only, so every test executable can use it
// without linking more than it tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string ReadWhole(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string bytes;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, got);
  fclose(f);
  return bytes;
}

// Creates or replaces the file; a failure fails the running test.
inline void WriteWhole(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) {
    ADD_FAILURE() << "cannot create " << path;
    return;
  }
  if (fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ADD_FAILURE() << "cannot write " << path;
  fclose(f);
}

inline bool Exists(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f != nullptr) fclose(f);
  return f != nullptr;
}

// Makes link, a symbolic link to target (relative to the link's folder, "/"
// between parts). False where the system makes none: Wine's
// CreateSymbolicLinkA claims success and makes nothing, hence the check.
inline bool MakeSymbolicLink(std::string target, const std::string& link, bool folder) {
#ifdef _WIN32
  for (char& c : target) {
    if (c == '/') c = '\\';
  }
  DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // 0x2: no elevation needed (developer mode)
  CreateSymbolicLinkA(link.c_str(), target.c_str(), flags);
  DWORD attributes = GetFileAttributesA(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
  (void)folder;
  return symlink(target.c_str(), link.c_str()) == 0;
#endif
}
