// The file library over the real operating system of each build, with the
// seam's call counters to see when bytes reach the system.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "core/memory.h"
#include "file/file.h"
#include "file/file_internal.h"
#include "tests/support/test_files.h"

inline FileRecord* Record(intptr_t number) {
  return static_cast<FileRecord*>(ObjectTableGet(FileTable(), number));
}

// Bytes that show where each one came from: byte i is i mod 251.
inline std::string Pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; i++) bytes[i] = char(i % 251);
  return bytes;
}

// Reads lines the way the restore command does: test for the end first.
inline std::vector<std::string> ReadAllLines(intptr_t number) {
  std::vector<std::string> lines;
  // A guard against a reader that never reaches the end.
  for (int i = 0; i < 1000000 && !FileAtEnd(number); i++) {
    String line = FileReadLine(number);
    lines.emplace_back(line.Text(), line.Length());
  }
  return lines;
}

class FileTest : public ::testing::Test {
 protected:
  // maximumHeap limits the program heap (0: growable).
  void StartLibrary(size_t maximumHeap) {
    ProgramHeapCreate(maximumHeap);
    MemoryLibraryInit();
    FileLibraryInit();
    ASSERT_NE(FileTable(), nullptr);
  }

  void SetUp() override { StartLibrary(0); }

  void TearDown() override {
    FileLibraryEnd();
    ProgramHeapDestroy();
    for (const std::string& path : paths_) remove(path.c_str());
  }

  // A file name of this test's own, removed after the test.
  const char* Path(const char* name) {
    paths_.push_back(std::string("file_test_") + name + ".bin");
    return paths_.back().c_str();
  }

 private:
  std::deque<std::string> paths_;  // keeps the names in place as it grows
};

// A program heap too small for one more 4,096-byte block: files opened now
// are unbuffered.
class UnbufferedFileTest : public FileTest {
 protected:
  void SetUp() override {
    StartLibrary(64 * 1024);
    // The table has its 16 slots already; take the rest of the heap away.
    while (ProgramAlloc(FILE_BUFFER_SIZE, false) != nullptr) {
    }
  }
};
