// The seam, against the real operating system of each build: POSIX natively,
// KERNEL32 under Wine.
#include "platform/platform.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/staged_file.h"
#include "tests/support/counted_seam.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;

TEST(PlatformHeap, ZeroFillAndGrowKeepContents) {
  PlatformHeap heap = PlatformHeapCreate(true, 4096);
  ASSERT_NE(heap, nullptr);
  auto* block = static_cast<unsigned char*>(PlatformHeapAlloc(heap, 100, true));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; i++) ASSERT_EQ(block[i], 0) << i;
  memset(block, 0xAB, 100);
  block = static_cast<unsigned char*>(PlatformHeapReAlloc(heap, block, 100000, true));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; i++) ASSERT_EQ(block[i], 0xAB) << i;
  for (int i = 100; i < 100000; i++) ASSERT_EQ(block[i], 0) << i;
  // Destroying the heap releases the block we never freed (a leak checker
  // would report it otherwise).
  PlatformHeapDestroy(heap);
}

TEST(PlatformHeap, FixedHeapRefusesBeyondItsSizeAndKeepsTheOldBlock) {
  PlatformHeap heap = PlatformHeapCreate(true, 4096, 64 * 1024);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(PlatformHeapAlloc(heap, 1024 * 1024, false), nullptr);
  auto* block = static_cast<char*>(PlatformHeapAlloc(heap, 16, false));
  ASSERT_NE(block, nullptr);
  strcpy(block, "kept");
  EXPECT_EQ(PlatformHeapReAlloc(heap, block, 1024 * 1024, false), nullptr);
  EXPECT_STREQ(block, "kept");
  PlatformHeapFree(heap, block);
  PlatformHeapDestroy(heap);
}

// Threads taking and giving back blocks of one serialized heap at once:
// each keeps what it wrote, and a fixed heap's count of what is in use
// comes back to where it was (most of its size is then there to take).
TEST(PlatformHeap, SerializedHeapServesSeveralThreads) {
  const size_t limit = 4 << 20;
  PlatformHeap heap = PlatformHeapCreate(true, 4096, limit);
  ASSERT_NE(heap, nullptr);
  const int threads = 4;
  std::vector<int> wrong(threads, 0);
  std::vector<std::thread> users;
  for (int t = 0; t < threads; t++) {
    users.emplace_back([&, t] {
      std::vector<unsigned char*> held;
      for (int i = 0; i < 10000; i++) {
        size_t size = 16 + size_t(i * 31 + t) % 600;
        auto* block = static_cast<unsigned char*>(PlatformHeapAlloc(heap, size, false));
        if (block == nullptr) continue;
        memset(block, t + 1, size);
        if (i % 5 == 0) block = static_cast<unsigned char*>(PlatformHeapReAlloc(heap, block, size * 2, true));
        held.push_back(block);
        if (held.size() > 40) {
          unsigned char* old = held.front();
          wrong[size_t(t)] += old[0] == t + 1 ? 0 : 1;
          PlatformHeapFree(heap, old);
          held.erase(held.begin());
        }
      }
      for (unsigned char* block : held) PlatformHeapFree(heap, block);
    });
  }
  for (std::thread& user : users) user.join();
  for (int t = 0; t < threads; t++) EXPECT_EQ(wrong[size_t(t)], 0) << "thread " << t;
  for (size_t taken = 0; taken < limit * 3 / 5; taken += 16 * 1024) {
    ASSERT_NE(PlatformHeapAlloc(heap, 16 * 1024, false), nullptr) << "every block given back; taken " << taken;
  }
  PlatformHeapDestroy(heap);
}

TEST(PlatformFile, CreateEmptiesAnExistingFileAndWritesFromTheStart) {
  const char* path = "seam_create.bin";
  WriteWhole(path, std::string(10000, 'x'));
  PlatformFileCallsReset();
  PlatformFile file = PlatformFileCreate(path);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  ASSERT_NE(file, 0);
  EXPECT_EQ(PlatformFileCalls().creates, 1u) << "one call makes the file";
  uint32_t done = 99;
  ASSERT_TRUE(PlatformFileWrite(file, "abc", 3, &done));
  EXPECT_EQ(done, 3u);
  PlatformFileClose(file);
  EXPECT_EQ(ReadWhole(path), "abc");
  EXPECT_EQ(PlatformFileDelete(path), 1);
  EXPECT_FALSE(Exists(path));
}

TEST(PlatformFile, CreatedFileCanBeReadBackThroughTheSameHandle) {
  const char* path = "seam_rw.bin";
  PlatformFile file = PlatformFileCreate(path);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileWrite(file, "0123456789", 10, &done));
  ASSERT_TRUE(PlatformFileSeekRelative(file, -4));
  char back[8] = {};
  ASSERT_TRUE(PlatformFileRead(file, back, 8, &done));
  EXPECT_EQ(done, 4u) << "a read is short only at the end of the file";
  EXPECT_EQ(std::string(back, 4), "6789");
  PlatformFileClose(file);
  PlatformFileDelete(path);
}

TEST(PlatformFile, RelativeSeekMovesFromTheCurrentPosition) {
  const char* path = "seam_seek.bin";
  std::string bytes;
  for (int i = 0; i < 300; i++) bytes.push_back(char(i));
  WriteWhole(path, bytes);
  PlatformFile file = PlatformFileOpenRead(path, true);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  unsigned char byte = 0;
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileSeekRelative(file, 200));
  ASSERT_TRUE(PlatformFileRead(file, &byte, 1, &done));
  EXPECT_EQ(byte, 200);
  ASSERT_TRUE(PlatformFileSeekRelative(file, -101));
  ASSERT_TRUE(PlatformFileRead(file, &byte, 1, &done));
  EXPECT_EQ(byte, 100);
  ASSERT_TRUE(PlatformFileSeekRelative(file, 0));
  ASSERT_TRUE(PlatformFileRead(file, &byte, 1, &done));
  EXPECT_EQ(byte, 101);
  // Past the end is allowed; the next read then finds nothing.
  ASSERT_TRUE(PlatformFileSeekRelative(file, 1000));
  ASSERT_TRUE(PlatformFileRead(file, &byte, 1, &done));
  EXPECT_EQ(done, 0u);
  PlatformFileClose(file);
  PlatformFileDelete(path);
}

TEST(PlatformFile, PositionedReadsTakeTheirOffsetNotTheFilePosition) {
  const char* path = "seam_read_at.bin";
  std::string bytes;
  for (int i = 0; i < 300; i++) bytes.push_back(char(i));
  WriteWhole(path, bytes);
  PlatformFile file = PlatformFileOpenRead(path, true);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  PlatformFileCallsReset();
  unsigned char got[8] = {};
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileReadAt(file, 250, got, 4, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(got[0], 250);
  EXPECT_EQ(got[3], 253);
  ASSERT_TRUE(PlatformFileReadAt(file, 7, got, 2, &done));
  EXPECT_EQ(got[0], 7) << "an earlier offset is read too: no position is kept";
  ASSERT_TRUE(PlatformFileReadAt(file, 296, got, 8, &done));
  EXPECT_EQ(done, 4u) << "short only at the end of the file";
  EXPECT_EQ(got[3], uint8_t(299));
  // At or past the end: nothing, and no failure. An offset beyond 4 GiB
  // must not wrap to the start of the file.
  for (uint64_t offset : {uint64_t(300), uint64_t(1000), (uint64_t(1) << 32) + 5}) {
    done = 99;
    EXPECT_TRUE(PlatformFileReadAt(file, offset, got, 8, &done)) << offset;
    EXPECT_EQ(done, 0u) << offset;
  }
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.positionedReads, 6u);
  EXPECT_EQ(calls.reads, 0u);
  EXPECT_EQ(calls.bytesRead, 10u);
  PlatformFileClose(file);
  PlatformFileDelete(path);
}

// Threads reading one handle at offsets of their own each get their own
// bytes (a read position shared by the handle would mix them up), and every
// read is counted.
TEST(PlatformFile, PositionedReadsFromSeveralThreadsGetTheirOwnBytes) {
  const char* path = "seam_read_at_threads.bin";
  const uint32_t size = 1 << 20;
  auto byteAt = [](uint64_t offset) { return char((offset * 7) ^ (offset >> 9)); };
  std::string bytes(size, 0);
  for (uint32_t i = 0; i < size; i++) bytes[i] = byteAt(i);
  WriteWhole(path, bytes);
  PlatformFile file = PlatformFileOpenRead(path, false);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  PlatformFileCallsReset();
  const int threads = 4, readsEach = 500;
  std::vector<int> wrong(threads, 0);
  std::vector<uint64_t> bytesEach(threads, 0);
  std::vector<std::thread> readers;
  for (int t = 0; t < threads; t++) {
    readers.emplace_back([&, t] {
      char got[700];
      for (int i = 0; i < readsEach; i++) {
        uint64_t offset = (uint64_t(i) * 7919 + uint64_t(t) * 104729) % (size + 300);
        uint32_t length = 1 + uint32_t(i * 13 + t) % sizeof got, done = 0;
        bool ok = PlatformFileReadAt(file, offset, got, length, &done);
        uint64_t expected = offset >= size ? 0 : std::min<uint64_t>(length, size - offset);
        bool same = ok && done == expected;
        for (uint32_t k = 0; same && k < done; k++) same = got[k] == byteAt(offset + k);
        wrong[size_t(t)] += same ? 0 : 1;
        bytesEach[size_t(t)] += done;
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (int t = 0; t < threads; t++) EXPECT_EQ(wrong[size_t(t)], 0) << "thread " << t;
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.positionedReads, uint64_t(threads * readsEach));
  uint64_t total = 0;
  for (uint64_t b : bytesEach) total += b;
  EXPECT_EQ(calls.bytesRead, total);
  PlatformFileClose(file);
  PlatformFileDelete(path);
}

TEST(PlatformFile, SizeIsWhatTheFileHolds) {
  const char* path = "seam_size.bin";
  for (size_t size : {size_t(0), size_t(1), size_t(70000)}) {
    WriteWhole(path, std::string(size, 's'));
    PlatformFile file = PlatformFileOpenRead(path, true);
    ASSERT_NE(file, PLATFORM_FILE_INVALID);
    PlatformFileCallsReset();
    uint64_t found = 99;
    EXPECT_TRUE(PlatformFileSize(file, &found));
    EXPECT_EQ(found, size);
    EXPECT_EQ(PlatformFileCalls().sizeQueries, 1u);
    PlatformFileClose(file);
  }
  // A file being written has the size of what was written so far.
  PlatformFile file = PlatformFileCreate(path);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileWrite(file, "12345", 5, &done));
  uint64_t found = 0;
  EXPECT_TRUE(PlatformFileSize(file, &found));
  EXPECT_EQ(found, 5u);
  PlatformFileClose(file);
  PlatformFileDelete(path);
}

// A stamp holds still while the file does and tells one written since; an
// unnamed file reads back what was written to it.
TEST(PlatformFile, StampTellsAWrittenFileAndAnUnnamedFileReadsBack) {
  const char* path = "seam_stamp.bin";
  WriteWhole(path, "before");
  PlatformFile file = PlatformFileOpenRead(path, false);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  PlatformFileFacts first{}, again{};
  ASSERT_TRUE(PlatformFileStamp(file, &first));
  ASSERT_TRUE(PlatformFileStamp(file, &again));
  EXPECT_EQ(first.size, 6u);
  EXPECT_GT(first.modifiedSeconds, 1500000000);  // after 2017: a time, not a count of ticks
  EXPECT_TRUE(first.modifiedSeconds == again.modifiedSeconds && first.modifiedNanoseconds == again.modifiedNanoseconds);
#ifndef _WIN32  // Windows refuses to write a file a reader holds open
  WriteWhole(path, "after, longer");
  ASSERT_TRUE(PlatformFileStamp(file, &again));
  EXPECT_EQ(again.size, 13u);
#endif
  PlatformFileClose(file);
  PlatformFileDelete(path);

  PlatformFile unnamed = PlatformFileCreateUnnamed();
  ASSERT_NE(unnamed, PLATFORM_FILE_INVALID);
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileWrite(unnamed, "spilt bytes", 11, &done));
  char back[8] = {};
  ASSERT_TRUE(PlatformFileReadAt(unnamed, 6, back, 5, &done));
  EXPECT_EQ(std::string(back, done), "bytes");
  PlatformFileClose(unnamed);
}

// A replace that cannot be made changes neither file.
TEST(PlatformFile, AWrittenFileReplacesAnotherInOneStep) {
  const char* path = "seam_staged.bin";
  const char* target = "seam_target.bin";
  WriteWhole(target, "older");
  PlatformFile file = PlatformFileCreateNew(path);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileWrite(file, "newer", 5, &done));
  EXPECT_TRUE(PlatformFileSync(file));
  PlatformFileClose(file);
  PlatformFolder here = PlatformFolderOpen(".");
  ASSERT_NE(here, nullptr);
  bool existed = true;
  EXPECT_EQ(PlatformFileMoveBelow(here, "seam_no_such_file.bin", target, true, &existed), 0);
  EXPECT_EQ(ReadWhole(target), "older");
  EXPECT_EQ(PlatformFileMoveBelow(here, path, target, true, &existed), 1);
  EXPECT_FALSE(existed);
  PlatformFolderClose(here);
  EXPECT_EQ(ReadWhole(target), "newer");
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(PlatformFileDelete(target), 1);
}

TEST(PlatformFile, MissingFilesFailCleanly) {
  PlatformFileCallsReset();
  EXPECT_EQ(PlatformFileOpenRead("seam_no_such_file.bin", false), PLATFORM_FILE_INVALID);
  EXPECT_EQ(PlatformFileOpenRead("seam_no_such_file.bin", true), PLATFORM_FILE_INVALID);
  EXPECT_EQ(PlatformFileDelete("seam_no_such_file.bin"), 0);
  EXPECT_EQ(PlatformFileCreate("seam_no_such_dir/x.bin"), PLATFORM_FILE_INVALID);
  // Its second, truncating try is inside the one call: the wrapper counts calls.
  EXPECT_EQ(PlatformFileCalls().creates, 1u);
  EXPECT_FALSE(Exists("seam_no_such_dir/x.bin"));
}

TEST(PlatformFile, CallsAreCountedWithTheirSource) {
  const char* path = "seam_count.bin";
  PlatformFileCallsReset();
  PlatformFile file = PlatformFileCreate(path);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  std::vector<char> data(5000, 'q');
  uint32_t done = 0;
  PlatformFileWrite(file, data.data(), 5000, &done);
  PlatformFileSeekRelative(file, -5000);
  PlatformFileRead(file, data.data(), 10, &done);
  PlatformFileClose(file);
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.writes, 1u);
  EXPECT_EQ(calls.lastWriteSource, data.data());
  EXPECT_EQ(calls.lastWriteLength, 5000u);
  EXPECT_EQ(calls.reads, 1u);
  EXPECT_EQ(calls.bytesRead, 10u);
  EXPECT_EQ(calls.seeks, 1u);
  EXPECT_EQ(calls.closes, 1u);
  PlatformFileDelete(path);
}

TEST(PlatformFile, CreateNewRefusesAnythingThatIsThere) {
  const char* path = "seam_create_new.bin";
  PlatformFileDelete(path);
  PlatformFile file = PlatformFileCreateNew(path);
  ASSERT_NE(file, PLATFORM_FILE_INVALID);
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileWrite(file, "first", 5, &done));
  ASSERT_TRUE(PlatformFileSeekRelative(file, -5));
  char back[5] = {};
  ASSERT_TRUE(PlatformFileRead(file, back, 5, &done));
  EXPECT_EQ(std::string(back, done), "first") << "read and write through one handle";
  PlatformFileClose(file);

  PlatformFileCallsReset();
  EXPECT_EQ(PlatformFileCreateNew(path), PLATFORM_FILE_INVALID);
  EXPECT_EQ(PlatformFileCalls().creates, 1u) << "no second, truncating try";
  EXPECT_EQ(ReadWhole(path), "first");
  EXPECT_EQ(PlatformFileCreateNew("seam_no_such_dir/x.bin"), PLATFORM_FILE_INVALID);
  EXPECT_EQ(PlatformFileDelete(path), 1);
}

TEST(PlatformFile, TempFolderTakesANewFileAndAShortBufferGetsNothing) {
  char folder[1024];
  size_t length = PlatformTempFolder(folder, sizeof folder);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(strlen(folder), length);
  EXPECT_TRUE(folder[length - 1] == '\\' || folder[length - 1] == '/') << folder;
  std::string path = std::string(folder) + "seam_temp_" + std::to_string(PlatformProcessId()) + ".bin";
  PlatformFile file = PlatformFileCreateNew(path.c_str());
  ASSERT_NE(file, PLATFORM_FILE_INVALID) << path;
  PlatformFileClose(file);
  EXPECT_EQ(PlatformFileDelete(path.c_str()), 1);

  // No room for the path and its terminator: 0 and an empty text.
  std::vector<char> shortBuffer(length, 'z');
  EXPECT_EQ(PlatformTempFolder(shortBuffer.data(), shortBuffer.size()), 0u);
  EXPECT_EQ(shortBuffer[0], 0);
  EXPECT_NE(PlatformProcessId(), 0u);
}

TEST(PlatformFile, ReaderSharesReadingOnly) {
  const char* path = "seam_share.bin";
  WriteWhole(path, "shared");
  PlatformFile first = PlatformFileOpenRead(path, false);
  PlatformFile second = PlatformFileOpenRead(path, true);
  ASSERT_NE(first, PLATFORM_FILE_INVALID);
  ASSERT_NE(second, PLATFORM_FILE_INVALID) << "two readers may hold the file at once";
  EXPECT_EQ(PlatformFileDelete(path), 0) << "opened without delete sharing";
#ifdef _WIN32
  // Nor with write sharing: the file is locked while read.
  EXPECT_EQ(PlatformFileCreate(path), PLATFORM_FILE_INVALID);
#endif
  PlatformFileClose(first);
  PlatformFileClose(second);
  EXPECT_EQ(ReadWhole(path), "shared");
  EXPECT_EQ(PlatformFileDelete(path), 1);
}

// Both builds refuse to delete a file while any handle of the seam holds it,
// and delete it once the last one is closed. (A created file admits no second
// handle on Windows: it is shared for reading only and held for writing.)
TEST(PlatformFile, OpenFileIsNotDeletedUntilEveryHandleIsClosed) {
  enum Way { CREATE, FRESH, READ, READ_SEQUENTIAL };
  struct Case {
    const char* name;
    std::vector<Way> handles;
  };
  static const Case cases[] = {
      {"created", {CREATE}},
      {"created new", {FRESH}},
      {"read", {READ}},
      {"two readers", {READ, READ_SEQUENTIAL}},
      {"three readers", {READ_SEQUENTIAL, READ, READ}},
  };
  const char* path = "seam_open_delete.bin";
  const char* other = "seam_open_delete_other.bin";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWhole(path, "kept");
    std::vector<PlatformFile> open;
    for (Way way : c.handles) {
      if (way == FRESH) PlatformFileDelete(path);
      PlatformFile file = way == CREATE  ? PlatformFileCreate(path)
                          : way == FRESH ? PlatformFileCreateNew(path)
                                         : PlatformFileOpenRead(path, way == READ_SEQUENTIAL);
      ASSERT_NE(file, PLATFORM_FILE_INVALID);
      uint32_t done = 0;
      if (way == CREATE || way == FRESH) {
        ASSERT_TRUE(PlatformFileWrite(file, "kept", 4, &done));
      }
      open.push_back(file);
    }
    EXPECT_EQ(PlatformFileDelete(path), 0);
    EXPECT_EQ(ReadWhole(path), "kept") << "a refused delete leaves the file";

    // An open file holds back only itself.
    WriteWhole(other, "other");
    EXPECT_EQ(PlatformFileDelete(other), 1);
    EXPECT_FALSE(Exists(other));

    // Each remaining handle holds the file on its own.
    for (size_t i = 0; i + 1 < open.size(); i++) {
      PlatformFileClose(open[i]);
      EXPECT_EQ(PlatformFileDelete(path), 0) << "after closing handle " << i;
      EXPECT_TRUE(Exists(path));
    }
    PlatformFileClose(open.back());
    EXPECT_EQ(PlatformFileDelete(path), 1) << "deleted once the last handle is closed";
    EXPECT_FALSE(Exists(path));
  }
}

// Writes a new file below folder and closes it; its identity in *identity.
void WriteBelow(PlatformFolder folder, const char* name, const char* bytes, PlatformFileIdentity* identity) {
  PlatformFile file = PlatformFileCreateNewBelow(folder, name);
  ASSERT_NE(file, PLATFORM_FILE_INVALID) << name;
  uint32_t done = 0;
  ASSERT_TRUE(PlatformFileWrite(file, bytes, uint32_t(strlen(bytes)), &done));
  ASSERT_TRUE(PlatformFileIdentityOf(file, identity));
  // The folder's way to the same identity.
  PlatformFileIdentity below{};
  ASSERT_TRUE(PlatformFileIdentityBelow(folder, file, &below));
  EXPECT_EQ(below, *identity) << name;
  PlatformFileClose(file);
}

TEST(PlatformFolder, NamesBelowAFolderAreMadeMovedAndDeleted) {
  fs::remove_all("seam_tree");
  fs::create_directory("seam_tree");
  PlatformFolder top = PlatformFolderOpen("seam_tree");
  ASSERT_NE(top, nullptr);
  bool made = false;
  PlatformNameKind kind = PlatformNameKind::Unreadable;
  PlatformFolder sub = PlatformFolderOpenBelow(top, "sub", true, &made, &kind);
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(made);
  PlatformFolder again = PlatformFolderOpenBelow(top, "sub", true, &made, &kind);
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(made) << "it was there";
  PlatformFolderClose(again);
  EXPECT_EQ(PlatformFolderOpenBelow(top, "none", false, &made, &kind), nullptr);
  EXPECT_EQ(kind, PlatformNameKind::Missing);

  PlatformFileIdentity first{}, second{}, found{};
  WriteBelow(sub, "f.tmp", "abc", &first);
  EXPECT_EQ(PlatformFileCreateNewBelow(sub, "f.tmp"), PLATFORM_FILE_INVALID) << "never opens what is there";
  bool existed = true;
  EXPECT_EQ(PlatformFileMoveBelow(sub, "f.tmp", "f.txt", false, &existed), 1);
  EXPECT_FALSE(existed);
  ASSERT_EQ(PlatformNameBelow(sub, "f.txt", &found), PlatformNameKind::File);
  EXPECT_EQ(found, first) << "a move keeps the file";
  WriteBelow(sub, "g.tmp", "xyz", &second);
  EXPECT_FALSE(second == first);
  EXPECT_EQ(PlatformFileMoveBelow(sub, "g.tmp", "f.txt", false, &existed), 0);
  EXPECT_TRUE(existed);
  EXPECT_EQ(ReadWhole("seam_tree/sub/f.txt"), "abc");
  EXPECT_EQ(PlatformFileMoveBelow(sub, "g.tmp", "f.txt", true, &existed), 1);
  EXPECT_EQ(ReadWhole("seam_tree/sub/f.txt"), "xyz");
  EXPECT_EQ(PlatformNameBelow(sub, "g.tmp", &found), PlatformNameKind::Missing);
  EXPECT_EQ(PlatformFolderOpenBelow(sub, "f.txt", true, &made, &kind), nullptr);
  EXPECT_EQ(kind, PlatformNameKind::File);
  EXPECT_EQ(PlatformNameBelow(top, "sub", &found), PlatformNameKind::Folder);

  PlatformFolderRemoveBelow(top, "sub");
  EXPECT_TRUE(fs::exists("seam_tree/sub")) << "it holds a file";
  EXPECT_EQ(PlatformFileDeleteBelow(sub, "f.txt"), 1);
  PlatformFolderClose(sub);
  PlatformFolderRemoveBelow(top, "sub");
  EXPECT_FALSE(fs::exists("seam_tree/sub"));
  PlatformFolderClose(top);
  fs::remove_all("seam_tree");
}

// A link below the folder is seen as a link and never followed. Where the
// system lets no link be made (Wine 8 makes neither symbolic links nor
// junctions), nothing is left to test.
TEST(PlatformFolder, ALinkBelowIsNeverFollowed) {
  fs::remove_all("seam_links");
  fs::create_directories("seam_links/outside");
  fs::create_directory("seam_links/inside");
  WriteWhole("seam_links/outside/victim.txt", "mine");
  if (!MakeSymbolicLink("../outside", "seam_links/inside/folder", true) ||
      !MakeSymbolicLink("../outside/victim.txt", "seam_links/inside/file.txt", false)) {
    GTEST_SKIP() << "no symbolic link can be made here";
  }
  PlatformFolder inside = PlatformFolderOpen("seam_links/inside");
  ASSERT_NE(inside, nullptr);
  PlatformFileIdentity identity{};
  for (const char* name : {"folder", "file.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(PlatformNameBelow(inside, name, &identity), PlatformNameKind::Link);
    bool made = true;
    PlatformNameKind kind = PlatformNameKind::Missing;
    EXPECT_EQ(PlatformFolderOpenBelow(inside, name, true, &made, &kind), nullptr);
    EXPECT_EQ(kind, PlatformNameKind::Link);
    EXPECT_EQ(PlatformFileCreateNewBelow(inside, name), PLATFORM_FILE_INVALID);
  }
  EXPECT_EQ(PlatformFileDeleteBelow(inside, "file.txt"), 1) << "the link goes, not what it leads to";
  PlatformFolderClose(inside);
  EXPECT_EQ(ReadWhole("seam_links/outside/victim.txt"), "mine");
  EXPECT_TRUE(fs::is_directory("seam_links/outside"));
  // The folder a caller names may itself be a link.
  PlatformFolder through = PlatformFolderOpen("seam_links/inside/folder");
  ASSERT_NE(through, nullptr);
  EXPECT_EQ(PlatformNameBelow(through, "victim.txt", &identity), PlatformNameKind::File);
  PlatformFolderClose(through);
  fs::remove_all("seam_links");
}

// Names the file system takes for one file give one identity: a hard link
// everywhere, and on Windows a name in other case, with a trailing dot or
// space, and the short 8.3 alias.
TEST(PlatformFolder, OneFileHasOneIdentityWhateverNameReachesIt) {
  fs::remove_all("seam_names");
  fs::create_directory("seam_names");
  PlatformFolder folder = PlatformFolderOpen("seam_names");
  ASSERT_NE(folder, nullptr);
  PlatformFileIdentity file{}, other{}, found{};
  WriteBelow(folder, "a long file name.txt", "one", &file);
  WriteBelow(folder, "other.txt", "two", &other);
  EXPECT_FALSE(file == other);
  fs::create_hard_link("seam_names/a long file name.txt", "seam_names/hard.txt");
  std::vector<std::string> names{"a long file name.txt", "hard.txt"};
#ifdef _WIN32
  names.insert(names.end(), {"A LONG FILE NAME.TXT", "a long file name.txt.", "a long file name.txt  "});
  char shortPath[MAX_PATH];
  DWORD length = GetShortPathNameA("seam_names\\a long file name.txt", shortPath, sizeof shortPath);
  ASSERT_GT(length, 0u);
  std::string alias = fs::path(shortPath).filename().string();
  EXPECT_NE(alias, "a long file name.txt");
  names.push_back(alias);
#endif
  for (const std::string& name : names) {
    ASSERT_EQ(PlatformNameBelow(folder, name.c_str(), &found), PlatformNameKind::File) << name;
    EXPECT_EQ(found, file) << name;
  }
  PlatformFolderClose(folder);
  fs::remove_all("seam_names");
}

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PlatformPath, KindsAndWhereTheLastNameBegins) {
  fs::remove_all("seam_paths");
  fs::create_directory("seam_paths");
  WriteWhole("seam_paths/five.bin", "12345");
  uint64_t size = 0;
  EXPECT_EQ(PlatformPathKind("seam_paths/five.bin", &size), PlatformNameKind::File);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(PlatformPathKind("seam_paths", &size), PlatformNameKind::Folder);
  EXPECT_EQ(PlatformPathKind("seam_paths/none", &size), PlatformNameKind::Missing);
  EXPECT_EQ(PlatformPathKind("seam_paths/none/deeper", &size), PlatformNameKind::Missing);
  EXPECT_EQ(PlatformPathKind("seam_paths/five.bin/below", &size), PlatformNameKind::Missing);
  fs::remove_all("seam_paths");

  static const struct {
    const char* path;
    size_t posix, windows;
  } starts[] = {{"name.txt", 0, 0}, {"a/b.txt", 2, 2}, {"/abs", 1, 1},         {"dir/", 4, 4},
                {"a\\b.txt", 0, 2}, {"C:name", 0, 2},  {"C:\\x\\y.bin", 0, 5}, {"a:b", 0, 2}};
  for (const auto& start : starts) {
#ifdef _WIN32
    EXPECT_EQ(PlatformPathNameStart(start.path), start.windows) << start.path;
#else
    EXPECT_EQ(PlatformPathNameStart(start.path), start.posix) << start.path;
#endif
  }
}

TEST(PlatformPath, FoldersAreMadeAndRemovedOnlyWhenEmpty) {
  fs::remove_all("seam_made");
  ASSERT_TRUE(PlatformFolderMake("seam_made"));
  EXPECT_FALSE(PlatformFolderMake("seam_made")) << "it is there";
  EXPECT_FALSE(PlatformFolderMake("seam_none/below")) << "the folder above is missing";
  EXPECT_TRUE(PlatformFolderIsEmpty("seam_made"));
  EXPECT_FALSE(PlatformFolderIsEmpty("seam_none"));
  WriteWhole("seam_made/file", "x");
  EXPECT_FALSE(PlatformFolderMake("seam_made/file"));
  EXPECT_FALSE(PlatformFolderIsEmpty("seam_made"));
  PlatformFolderRemove("seam_made");
  EXPECT_TRUE(fs::is_directory("seam_made")) << "it holds a file";
  fs::remove("seam_made/file");
  ASSERT_TRUE(PlatformFolderMake("seam_made/sub"));
  EXPECT_FALSE(PlatformFolderIsEmpty("seam_made")) << "a folder counts";
  PlatformFolderRemove("seam_made/sub");
  PlatformFolderRemove("seam_made");
  EXPECT_FALSE(fs::exists("seam_made"));
}

TEST(PlatformPath, AFolderNamesEveryFileAndFolderInItOnce) {
  fs::remove_all("seam_names");
  ASSERT_TRUE(PlatformFolderMake("seam_names"));
  std::vector<std::string> names;
  auto add = [](const char* name, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(name); };
  EXPECT_TRUE(PlatformFolderNames("seam_names", add, &names));
  EXPECT_TRUE(names.empty()) << "no \".\" or \"..\"";
  WriteWhole("seam_names/b.zip", "x");
  WriteWhole("seam_names/c d.zip", "x");
  ASSERT_TRUE(PlatformFolderMake("seam_names/a"));
  EXPECT_TRUE(PlatformFolderNames("seam_names/", add, &names)) << "a trailing separator is fine";
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b.zip", "c d.zip"}));
  names.clear();
  EXPECT_FALSE(PlatformFolderNames("seam_none", add, &names));
  EXPECT_FALSE(PlatformFolderNames("seam_names/b.zip", add, &names)) << "a file is no folder";
  EXPECT_TRUE(names.empty());
  fs::remove_all("seam_names");
}

TEST(PlatformFacts, ErrorTextClockAndConsoleText) {
  EXPECT_EQ(PlatformFileOpenRead("seam_no_such_file.bin", false), PLATFORM_FILE_INVALID);
  char text[256];
  size_t length = PlatformErrorText(text, sizeof text);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(strlen(text), length);
  EXPECT_NE(text[length - 1], '\n') << text;
  EXPECT_NE(text[length - 1], '.') << text;
  char little[4];
  EXPECT_EQ(PlatformErrorText(little, sizeof little), 3u) << "cut to fit";

  uint64_t before = PlatformMilliseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GT(PlatformMilliseconds(), before) << "it moves on";

  // "ä" in the DOS code page 850; POSIX has no code pages of its own.
  const uint16_t umlaut[] = {0xE4, 'x'};
  char encoded[8] = {};
#ifdef _WIN32
  ASSERT_EQ(PlatformEncodeText(850, umlaut, 2, encoded, sizeof encoded), 2u);
  EXPECT_EQ(std::string(encoded, 2), "\x84x");
  EXPECT_EQ(PlatformArgumentCodePage(), PLATFORM_CODE_PAGE_1252) << "the test prefix runs in 1252";
#else
  EXPECT_EQ(PlatformEncodeText(850, umlaut, 2, encoded, sizeof encoded), 0u);
#endif
}

// The staged file: what the target holds afterwards and that nothing else
// is left beside it, for each way a write can end.
TEST(PlatformStaged, TheTargetIsReplacedOnlyByAWholeFileAndOnlyWhenAsked) {
  static const struct {
    const char* what;
    bool before;  // the target is there before
    bool replace;
    uint64_t room;  // bytes the disk takes (UINT64_MAX: all)
    const char* after;
    bool placed, existed;
  } cases[] = {
      {"new target", false, false, UINT64_MAX, "staged bytes", true, false},
      {"kept target", true, false, UINT64_MAX, "older", false, true},
      {"replaced target", true, true, UINT64_MAX, "staged bytes", true, false},
      {"full disk", true, true, 3, "older", false, false},
      {"full disk, new target", false, false, 0, nullptr, false, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    fs::remove_all("seam_staged");
    fs::create_directory("seam_staged");
    if (test.before) WriteWhole("seam_staged/target.bin", "older");
    if (test.room != UINT64_MAX) PlatformFileLimitWrites(test.room);
    bool existed = !test.existed;
    bool placed = false;
    {
      PlatformStagedFile staged;
      ASSERT_TRUE(staged.CreateBeside("seam_staged/target.bin", ".stage-", 4));
      EXPECT_TRUE(Exists("seam_staged/" + staged.Name()));
      if (staged.Write("staged bytes", 12)) placed = staged.PlaceBeside(test.replace, &existed);
    }
    PlatformFileCallsReset();
    EXPECT_EQ(placed, test.placed);
    if (test.placed || test.existed) {
      EXPECT_EQ(existed, test.existed);
    }
    EXPECT_EQ(ReadWhole("seam_staged/target.bin"), test.after ? test.after : "<missing>");
    EXPECT_EQ(NamesIn("seam_staged").size(), test.after ? 1u : 0u) << "nothing staged is left";
  }
  fs::remove_all("seam_staged");
}

// Names that are taken are passed over, never opened; when every one is
// taken nothing is made. Below an open folder, the placed file's identity
// is the one the target then has.
TEST(PlatformStaged, TakenNamesArePassedAndTheIdentityIsTheTargets) {
  fs::remove_all("seam_staged");
  fs::create_directory("seam_staged");
  std::string taken = ".stage-" + std::to_string(PlatformProcessId()) + "-";
  WriteWhole("seam_staged/" + taken + "0.tmp", "taken");
  PlatformFolder folder = PlatformFolderOpen("seam_staged");
  ASSERT_NE(folder, nullptr);
  PlatformStagedFile staged;
  EXPECT_FALSE(staged.Create(folder, ".stage-", 1));
  EXPECT_TRUE(staged.NoFreeName());
  ASSERT_TRUE(staged.Create(folder, ".stage-", 2));
  EXPECT_EQ(staged.Name(), taken + "1.tmp");
  ASSERT_TRUE(staged.Write("", 0));
  PlatformFileIdentity placed{}, found{};
  bool existed = true;
  ASSERT_TRUE(staged.Place("empty.bin", false, &existed, &placed));
  EXPECT_FALSE(existed);
  ASSERT_EQ(PlatformNameBelow(folder, "empty.bin", &found), PlatformNameKind::File);
  EXPECT_EQ(found, placed);
  PlatformFolderClose(folder);
  EXPECT_EQ(ReadWhole("seam_staged/" + taken + "0.tmp"), "taken");
  EXPECT_EQ(NamesIn("seam_staged"), (std::vector<std::string>{taken + "0.tmp", "empty.bin"}));
  fs::remove_all("seam_staged");
}

// A file mapped at any offset shows its bytes and takes what is written
// through the view; a file made larger reads 0 in what was added; a batch's
// sync and moves hold what was closed unsynced.
TEST(PlatformStaged, MappedFilesAndABatchMadeDurableTogether) {
  fs::remove_all("seam_map");
  fs::create_directory("seam_map");
  PlatformFolder folder = PlatformFolderOpen("seam_map");
  ASSERT_NE(folder, nullptr);
  PlatformStagedFile staged;
  ASSERT_TRUE(staged.Create(folder, ".stage-", 4));
  const uint64_t size = 200000, offset = 70001;  // past a page and a Windows view's granularity
  ASSERT_TRUE(PlatformFileResize(staged.File(), size));
  PlatformMapping view;
  ASSERT_TRUE(PlatformFileMap(staged.File(), 0, size, true, &view));
  EXPECT_EQ(std::count(view.data, view.data + size, 0), int64_t(size)) << "added bytes read as 0";
  for (uint64_t i = 0; i < size; i++) view.data[i] = uint8_t(i * 7 + 1);
  ASSERT_TRUE(PlatformFileUnmap(&view, true));
  ASSERT_TRUE(PlatformFileResize(staged.File(), size - 1000));
  ASSERT_TRUE(PlatformFileMap(staged.File(), offset, 5000, false, &view));
  for (uint64_t i = 0; i < 5000; i++) ASSERT_EQ(view.data[i], uint8_t((offset + i) * 7 + 1)) << i;
  ASSERT_TRUE(PlatformFileUnmap(&view, false));
  PlatformFileIdentity identity;
  ASSERT_TRUE(staged.Close(&identity));
  EXPECT_TRUE(PlatformFileSystemSync(folder));
  bool existed = true;
  ASSERT_TRUE(staged.MoveTo("mapped.bin", false, &existed));
  EXPECT_TRUE(PlatformFileSystemSync(folder));
  PlatformFolderClose(folder);
  EXPECT_EQ(NamesIn("seam_map"), (std::vector<std::string>{"mapped.bin"}));
  EXPECT_EQ(fs::file_size("seam_map/mapped.bin"), size - 1000);
  fs::remove_all("seam_map");
}

// The interrupt's list holds PLATFORM_INTERRUPT_FILES names, and keeping a
// name frees its place whatever the order names are kept in: a batch keeps
// its names in the order it listed them, a failed one out of turn.
TEST(PlatformStaged, TheInterruptsListFreesEveryKeptNameInAnyOrder) {
  fs::remove_all("seam_list");
  fs::create_directory("seam_list");
  PlatformFolder folder = PlatformFolderOpen("seam_list");
  ASSERT_NE(folder, nullptr);
  auto name = [](int n, const char* round) { return std::string(round) + "-" + std::to_string(n) + ".tmp"; };
  constexpr int ALL = PLATFORM_INTERRUPT_FILES;
  for (int n = 0; n < ALL; n++) ASSERT_TRUE(PlatformDeleteOnInterrupt(folder, name(n, "a").c_str())) << n;
  EXPECT_FALSE(PlatformDeleteOnInterrupt(folder, "one too many.tmp"));
  // Kept in a scrambled order (7 and 4096 share no factor), all but one.
  for (int n = 0; n < ALL; n++) {
    int kept = int(uint32_t(n) * 7 % uint32_t(ALL));
    if (kept != 5) PlatformKeepOnInterrupt(folder, name(kept, "a").c_str());
  }
  // A name never listed frees nothing.
  PlatformKeepOnInterrupt(folder, "never listed.tmp");
  for (int n = 0; n < ALL - 1; n++) ASSERT_TRUE(PlatformDeleteOnInterrupt(folder, name(n, "b").c_str())) << n;
  EXPECT_FALSE(PlatformDeleteOnInterrupt(folder, "one too many.tmp"));
  // In the order they were listed, the one left from before last.
  for (int n = 0; n < ALL - 1; n++) PlatformKeepOnInterrupt(folder, name(n, "b").c_str());
  PlatformKeepOnInterrupt(folder, name(5, "a").c_str());
  for (int n = 0; n < ALL; n++) ASSERT_TRUE(PlatformDeleteOnInterrupt(folder, name(n, "c").c_str())) << n;
  for (int n = ALL; n-- > 0;) PlatformKeepOnInterrupt(folder, name(n, "c").c_str());
  PlatformFolderClose(folder);
  fs::remove_all("seam_list");
}

#ifndef _WIN32
// An interrupt while files are staged removes them before the process ends by
// that signal. (On Windows the console's Ctrl+C handler does the same; a
// test cannot send this process its own Ctrl+C without stopping the run.)
TEST(PlatformStaged, AnInterruptRemovesTheStagedFiles) {
  fs::remove_all("seam_interrupt");
  fs::create_directory("seam_interrupt");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PlatformConsoleSetUp();
    // One placed before (its name leaves the list); then a batch holds
    // several: one closed, waiting for its move, one open.
    PlatformStagedFile placed, closed, staged;
    PlatformFileIdentity identity;
    bool exists = false;
    if (!placed.CreateBeside("seam_interrupt/kept.bin", ".stage-", 4) || !placed.PlaceBeside(false, &exists)) _exit(2);
    if (!closed.CreateBeside("seam_interrupt/first.bin", ".stage-", 4) || !closed.Close(&identity)) _exit(2);
    if (!staged.CreateBeside("seam_interrupt/target.bin", ".stage-", 4)) _exit(2);
    raise(SIGTERM);
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "ended by the signal, not by a way out";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(NamesIn("seam_interrupt"), std::vector<std::string>{"kept.bin"});
  fs::remove_all("seam_interrupt");
}

// A signal that comes while the system makes a staged file is delivered as
// its call returns, before the caller goes on: the file is removed too.
TEST(PlatformStaged, AnInterruptAsTheStagedFileIsMadeRemovesIt) {
  fs::remove_all("seam_interrupt_made");
  fs::create_directory("seam_interrupt_made");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PlatformConsoleSetUp();
    PlatformFileAfterCreateBelow([] { raise(SIGINT); });
    PlatformStagedFile staged;
    staged.CreateBeside("seam_interrupt_made/target.bin", ".stage-", 4);
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "ended by the signal, not by a way out";
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(NamesIn("seam_interrupt_made"), std::vector<std::string>{});
  fs::remove_all("seam_interrupt_made");
}

// A folder that is there but cannot be written into: why a folder below it
// cannot be made is the making's error, not the open's "No such file" that
// follows. (As a user without rights; root may write anywhere.)
TEST(PlatformFolder, AFolderThatCannotBeMadeSaysWhy) {
  fs::remove_all("seam_closed");
  fs::create_directory("seam_closed");
  fs::permissions("seam_closed", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe[0]);
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    PlatformFolder top = PlatformFolderOpen("seam_closed");
    bool made = true;
    PlatformNameKind kind = PlatformNameKind::Folder;
    if (top == nullptr || PlatformFolderOpenBelow(top, "sub", true, &made, &kind) != nullptr || made) _exit(3);
    char text[256];
    size_t length = PlatformErrorText(text, sizeof text);
    if (write(pipe[1], text, length) != ssize_t(length)) _exit(4);
    _exit(kind == PlatformNameKind::Missing ? 5 : 0);
  }
  close(pipe[1]);
  char text[256];
  ssize_t length = read(pipe[0], text, sizeof text);
  close(pipe[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(std::string(text, size_t(std::max<ssize_t>(length, 0))), strerror(EACCES));
  fs::permissions("seam_closed", fs::perms::owner_all);
  fs::remove_all("seam_closed");
}
#endif

// What a run needs to know of itself and of others: where a path is, this
// machine's name, and whether a process is still there.
TEST(PlatformProcesses, ThisOneRunsAndAPathIsMadeWhole) {
  EXPECT_FALSE(PlatformProcessGone(PlatformProcessId()));
  char name[256];
  EXPECT_GT(PlatformMachineName(name, sizeof name), 0u);
  char full[4096];
  size_t length = PlatformFullPath("gibt-es-nicht.txt", full, sizeof full);
  ASSERT_GT(length, strlen("gibt-es-nicht.txt"));
  EXPECT_EQ(std::string(full).substr(length - 17), "gibt-es-nicht.txt");
  EXPECT_EQ(std::filesystem::path(full), std::filesystem::absolute("gibt-es-nicht.txt"));
  EXPECT_EQ(PlatformFullPath("x", full, 1), 0u);  // no room
  EXPECT_FALSE(PlatformFolderIsMountPoint("."));
}

}  // namespace
