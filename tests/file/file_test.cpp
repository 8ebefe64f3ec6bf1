// Numbered files: the table, opening and closing, and when the buffered bytes
// reach the operating system.
#include <cstring>

#include "tests/file/file_fixture.h"
#include "tests/support/counted_seam.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TEST_F(FileTest, TableStartsWithSixteenSlotsAndClosesWhatItReleases) {
  EXPECT_EQ(FileTable()->capacity, 16);
  EXPECT_EQ(FileTable()->releaseOperation, &FileClose);
  ASSERT_NE(FileCreate(15, Path("slot15")), 0);
  EXPECT_EQ(FileTable()->capacity, 16);
  ASSERT_NE(FileCreate(16, Path("slot16")), 0);
  EXPECT_EQ(FileTable()->capacity, 32);
  EXPECT_NE(Record(15), nullptr) << "growth keeps the open files";
  EXPECT_EQ(Record(20), nullptr);
}

TEST_F(FileTest, FewerBytesThanTheBufferWaitForCloseAndGoInOneWrite) {
  const char* path = Path("4095");
  std::string data = Pattern(4095);
  ASSERT_NE(FileCreate(1, path), 0);
  PlatformFileCallsReset();
  EXPECT_EQ(FileWriteData(1, data.data(), 4095), 4095);
  EXPECT_EQ(PlatformFileCalls().writes, 0u);
  EXPECT_EQ(ReadWhole(path), "") << "nothing reaches the file before FileClose";
  FileClose(1);
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.writes, 1u);
  EXPECT_EQ(calls.lastWriteLength, 4095u);
  EXPECT_NE(calls.lastWriteSource, data.data()) << "written from the file's buffer";
  EXPECT_EQ(calls.seeks, 0u) << "a fresh file has no read-ahead to give back";
  EXPECT_EQ(calls.closes, 1u);
  EXPECT_EQ(ReadWhole(path), data);
  EXPECT_EQ(Record(1), nullptr);
}

TEST_F(FileTest, WholeBuffersGoAtOnceStraightFromTheCallersMemory) {
  const char* path = Path("4096");
  std::string data = Pattern(10000);
  ASSERT_NE(FileCreate(1, path), 0);
  PlatformFileCallsReset();
  EXPECT_EQ(FileWriteData(1, data.data(), 4096), 4096);
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.writes, 1u);
  EXPECT_EQ(calls.lastWriteSource, data.data());
  EXPECT_EQ(calls.lastWriteLength, 4096u);
  EXPECT_EQ(ReadWhole(path), data.substr(0, 4096));

  // Pending bytes go first, then the large block, still from the caller.
  EXPECT_EQ(FileWriteData(1, data.data() + 4096, 10), 10);
  EXPECT_EQ(FileWriteData(1, data.data() + 4106, 5894), 5894);
  calls = PlatformFileCalls();
  EXPECT_EQ(calls.writes, 3u);
  EXPECT_EQ(calls.lastWriteSource, data.data() + 4106);
  EXPECT_EQ(ReadWhole(path), data);
  FileClose(1);
  EXPECT_EQ(PlatformFileCalls().writes, 3u) << "an empty buffer costs no write at close";
  EXPECT_EQ(ReadWhole(path), data);
}

TEST_F(FileTest, AWriteOfExactlyTheFreeRoomFlushesFirst) {
  const char* path = Path("room");
  std::string data = Pattern(4096 + 4095);
  ASSERT_NE(FileCreate(1, path), 0);
  PlatformFileCallsReset();
  EXPECT_EQ(FileWriteData(1, data.data(), 100), 100);
  EXPECT_EQ(FileWriteData(1, data.data() + 100, 3995), 3995);
  EXPECT_EQ(PlatformFileCalls().writes, 0u) << "one byte of room is still free";
  EXPECT_EQ(FileWriteData(1, data.data() + 4095, 1), 1);
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.writes, 1u) << "the buffer is never left full";
  EXPECT_EQ(calls.lastWriteLength, 4095u);
  EXPECT_EQ(FileWriteData(1, data.data() + 4096, 4095), 4095) << "exactly the room left beside the 1 byte";
  calls = PlatformFileCalls();
  EXPECT_EQ(calls.writes, 2u);
  EXPECT_EQ(calls.lastWriteLength, 1u) << "the pending byte went first, the 4,095 wait in the buffer";
  FileClose(1);
  EXPECT_EQ(PlatformFileCalls().lastWriteLength, 4095u);
  EXPECT_EQ(ReadWhole(path), data);
}

TEST_F(FileTest, SmallWritesOfEverySizeKeepTheirOrder) {
  const char* path = Path("small");
  std::string expected;
  ASSERT_NE(FileCreate(1, path), 0);
  // 1, 2 and 4 bytes move as single values, the others as blocks; through
  // several refills of the buffer.
  for (int round = 0; round < 500; round++) {
    for (int32_t length : {1, 2, 3, 4, 5, 8, 17}) {
      std::string piece = Pattern(size_t(length + round)).substr(size_t(round));
      EXPECT_EQ(FileWriteData(1, piece.data(), length), length);
      expected += piece;
    }
  }
  FileClose(1);
  EXPECT_EQ(ReadWhole(path), expected);
}

TEST_F(FileTest, RefusedWritesReturnZeroAndWriteNothing) {
  const char* path = Path("refused");
  ASSERT_NE(FileCreate(1, path), 0);
  PlatformFileCallsReset();
  EXPECT_EQ(FileWriteData(1, "abc", 0), 0);
  EXPECT_EQ(FileWriteData(1, "abc", -3), 0);
  EXPECT_EQ(FileWriteData(1, nullptr, 3), 0);
  EXPECT_EQ(FileWriteData(2, "abc", 3), 0) << "number with no open file";
  EXPECT_EQ(FileWriteData(OBJECT_ANY, "abc", 3), 0);
  EXPECT_EQ(FileWriteData(5000, "abc", 3), 0) << "number beyond the table";
  FileClose(1);
  EXPECT_EQ(PlatformFileCalls().writes, 0u);
  EXPECT_EQ(PlatformFileCalls().seeks, 0u);
  EXPECT_EQ(ReadWhole(path), "");
}

// A full disk: the system takes only `room` more bytes. A write straight
// from the caller's memory says itself what was taken; the synced close says
// whether the buffered bytes were.
TEST_F(FileTest, SyncedCloseSaysWhetherEveryByteWasTaken) {
  std::string data = Pattern(10000);
  struct Case {
    int32_t size;
    uint64_t room;
    int32_t accepted;  // what FileWriteData says
    int closed;
  } cases[] = {
      {100, UINT64_MAX, 100, 1},     {100, 99, 100, 0},      {100, 0, 100, 0},  // buffered until the close
      {10000, UINT64_MAX, 10000, 1}, {10000, 9999, 9999, 1}, {0, 0, 0, 1},      // straight to the system
  };
  for (const Case& c : cases) {
    const char* path = Path("synced");
    ASSERT_NE(FileCreate(1, path), 0);
    PlatformFileLimitWrites(c.room);
    EXPECT_EQ(FileWriteData(1, data.data(), c.size), c.accepted) << c.size << " " << c.room;
    EXPECT_EQ(FileCloseSynced(1), c.closed) << c.size << " " << c.room;
    EXPECT_EQ(Record(1), nullptr) << "closed either way";
    PlatformFileCallsReset();
  }
  EXPECT_EQ(FileCloseSynced(1), 0) << "no open file";
}

TEST_F(FileTest, CreateEmptiesAnExistingFileWithItsFirstTry) {
  const char* path = Path("existing");
  WriteWhole(path, std::string(9000, 'x'));
  PlatformFileCallsReset();
  intptr_t handle = FileCreate(1, path);
  EXPECT_NE(handle, 0);
  EXPECT_EQ(Record(1)->handle, handle) << "an explicit number returns the handle";
  EXPECT_EQ(PlatformFileCalls().creates, 1u);
  EXPECT_EQ(ReadWhole(path), "");
  EXPECT_EQ(FileAtEnd(1), 1);
  FileClose(1);
}

TEST_F(FileTest, CreateNewMakesOnlyAFileThatIsNotThere) {
  const char* existing = Path("kept");
  const char* fresh = Path("fresh");
  WriteWhole(existing, std::string(9000, 'x'));
  ASSERT_NE(FileCreate(1, Path("before")), 0);
  EXPECT_EQ(FileWriteData(1, "earlier", 7), 7);
  EXPECT_EQ(FileCreateNew(1, existing), 0);
  EXPECT_EQ(ReadWhole(existing), std::string(9000, 'x')) << "an existing file is left as it was";
  EXPECT_EQ(ReadWhole(Path("before")), "earlier") << "the number's old file was written and closed";
  EXPECT_EQ(Record(1), nullptr);

  intptr_t handle = FileCreateNew(1, fresh);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(Record(1)->handle, handle);
  EXPECT_NE(Record(1)->buffer, nullptr);
  EXPECT_EQ(FileWriteData(1, "new\nfile", 8), 8);
  FileClose(1);
  EXPECT_EQ(ReadWhole(fresh), "new\nfile");
  // Created, it exists: a second try fails and keeps the bytes.
  EXPECT_EQ(FileCreateNew(OBJECT_ANY, fresh), 0);
  EXPECT_EQ(ReadWhole(fresh), "new\nfile");
}

TEST_F(FileTest, OpeningAnOpenNumberClosesTheOldFileEvenWhenTheNewOpenFails) {
  const char* first = Path("first");
  const char* missing = Path("missing");
  ASSERT_NE(FileCreate(1, first), 0);
  EXPECT_EQ(FileWriteData(1, "pending", 7), 7);
  PlatformFileCallsReset();
  EXPECT_EQ(FileOpenRead(1, missing), 0);
  EXPECT_EQ(PlatformFileCalls().closes, 1u);
  EXPECT_EQ(ReadWhole(first), "pending") << "the old file's pending bytes were written";
  // Now the number behaves as one never opened.
  EXPECT_EQ(Record(1), nullptr);
  EXPECT_EQ(FileWriteData(1, "x", 1), 0);
  EXPECT_EQ(FileAtEnd(1), 0);
  EXPECT_STREQ(FileReadLine(1).Text(), "");
  PlatformFileCallsReset();
  FileClose(1);
  EXPECT_EQ(PlatformFileCalls().closes, 0u);

  // And the same through FileCreate over a file that succeeds.
  ASSERT_NE(FileCreate(1, first), 0);
  EXPECT_EQ(FileWriteData(1, "again", 5), 5);
  const char* second = Path("second");
  ASSERT_NE(FileCreate(1, second), 0);
  EXPECT_EQ(ReadWhole(first), "again");
  FileClose(1);
  EXPECT_EQ(ReadWhole(second), "");
}

TEST_F(FileTest, AtEndConsumesNothing) {
  const char* empty = Path("empty");
  const char* full = Path("full");
  WriteWhole(empty, "");
  WriteWhole(full, "AB");
  ASSERT_NE(FileOpenRead(1, empty), 0);
  EXPECT_EQ(FileAtEnd(1), 1);
  ASSERT_NE(FileOpenRead(2, full), 0);
  PlatformFileCallsReset();
  EXPECT_EQ(FileAtEnd(2), 0);
  EXPECT_EQ(FileAtEnd(2), 0);
  char got[2] = {};
  EXPECT_EQ(FileBufferedRead(Record(2), got, 2), 2);
  EXPECT_EQ(std::string(got, 2), "AB") << "the first byte is still there to be read";
  EXPECT_EQ(FileAtEnd(2), 1);
  EXPECT_EQ(PlatformFileCalls().reads, 2u) << "one refill, and one that finds the end";
  EXPECT_EQ(FileAtEnd(3), 0) << "a number with no open file is not at its end";
}

TEST_F(FileTest, ReadsTakeTheBufferFirstAndLargeRestsGoStraightToTheCaller) {
  const char* path = Path("blocks");
  std::string data = Pattern(20000);
  WriteWhole(path, data);
  ASSERT_NE(FileOpenRead(1, path), 0);
  FileRecord* record = Record(1);
  std::vector<char> got(20000);
  PlatformFileCallsReset();
  ASSERT_EQ(FileBufferedRead(record, got.data(), 1), 1);
  EXPECT_EQ(record->filled, 4096);
  EXPECT_EQ(record->left, 4095);
  // 4,095 from the buffer, the other 4,096 in one read into the destination.
  ASSERT_EQ(FileBufferedRead(record, got.data() + 1, 8191), 8191);
  EXPECT_EQ(PlatformFileCalls().reads, 2u);
  EXPECT_EQ(record->left, 0);
  // A rest below a whole buffer refills.
  ASSERT_EQ(FileBufferedRead(record, got.data() + 8192, 2), 2);
  ASSERT_EQ(FileBufferedRead(record, got.data() + 8194, 4), 4);
  ASSERT_EQ(FileBufferedRead(record, got.data() + 8198, 4100), 4100);
  EXPECT_EQ(PlatformFileCalls().reads, 4u);
  // Fewer than asked only at the end of the file.
  ASSERT_EQ(FileBufferedRead(record, got.data() + 12298, 7000), 7000);
  ASSERT_EQ(FileBufferedRead(record, got.data() + 19298, 5000), 702);
  EXPECT_EQ(std::string(got.data(), 20000), data);
  EXPECT_EQ(FileBufferedRead(record, got.data(), 1), 0);
  EXPECT_EQ(FileAtEnd(1), 1);
}

TEST_F(FileTest, AWriteAfterReadingLandsBehindTheLastByteHandedOut) {
  const char* path = Path("readwrite");
  std::string data = Pattern(6000);
  ASSERT_NE(FileCreate(1, path), 0);
  ASSERT_EQ(FileWriteData(1, data.data(), 6000), 6000);
  FileRecord* record = Record(1);
  // The library has no seek of its own: go back to the start through the seam.
  ASSERT_TRUE(PlatformFileSeekRelative(record->handle, -6000));
  char got[10];
  ASSERT_EQ(FileBufferedRead(record, got, 10), 10);
  ASSERT_EQ(record->left, 4086);
  PlatformFileCallsReset();
  EXPECT_EQ(FileWriteData(1, "XY", 2), 2);
  EXPECT_EQ(PlatformFileCalls().seeks, 1u);
  EXPECT_EQ(record->reading, 0);
  // Reading again writes the pending bytes first, and goes on behind them.
  ASSERT_EQ(FileBufferedRead(record, got, 3), 3);
  EXPECT_EQ(PlatformFileCalls().writes, 1u);
  EXPECT_EQ(std::string(got, 3), data.substr(12, 3));
  FileClose(1);
  data.replace(10, 2, "XY");
  EXPECT_EQ(ReadWhole(path), data);
}

TEST_F(FileTest, AtEndOnAFileBeingWrittenWritesThePendingBytes) {
  const char* path = Path("atend");
  ASSERT_NE(FileCreate(1, path), 0);
  ASSERT_EQ(FileWriteData(1, "abc", 3), 3);
  PlatformFileCallsReset();
  EXPECT_EQ(FileAtEnd(1), 1);
  EXPECT_EQ(PlatformFileCalls().writes, 1u);
  EXPECT_EQ(ReadWhole(path), "abc");
  ASSERT_EQ(FileWriteData(1, "def", 3), 3);
  FileClose(1);
  EXPECT_EQ(ReadWhole(path), "abcdef");
}

TEST_F(FileTest, FlushHandsOverThePendingBytesAndKeepsTheState) {
  const char* path = Path("flush");
  ASSERT_NE(FileCreate(1, path), 0);
  FileRecord* record = Record(1);
  EXPECT_EQ(FileFlush(record), 0) << "reading state: nothing to do";
  ASSERT_EQ(FileBufferedWrite(record, "12345", 5), 5);
  EXPECT_EQ(record->left, 4091);
  PlatformFileCallsReset();
  EXPECT_EQ(FileFlush(record), 5);
  EXPECT_EQ(record->left, 4096);
  EXPECT_EQ(record->reading, 0);
  EXPECT_EQ(FileFlush(record), 0);
  EXPECT_EQ(PlatformFileCalls().writes, 1u);
  EXPECT_EQ(ReadWhole(path), "12345");
}

TEST_F(FileTest, DynamicFilesAreNamedByTheirIdentity) {
  const char* path = Path("dynamic");
  intptr_t file = FileCreate(OBJECT_ANY, path);
  ASSERT_NE(file, 0);
  ASSERT_NE(Record(file), nullptr);
  EXPECT_NE(Record(file)->handle, file) << "the identity, not the handle";
  EXPECT_TRUE(file < 0 || file >= FileTable()->capacity);
  EXPECT_EQ(FileWriteData(file, "dyn", 3), 3);
  FileClose(OBJECT_ANY);
  EXPECT_NE(Record(file), nullptr) << "OBJECT_ANY itself closes nothing";
  FileClose(file);
  EXPECT_EQ(Record(file), nullptr);
  EXPECT_EQ(ReadWhole(path), "dyn");

  EXPECT_EQ(FileOpenRead(OBJECT_ANY, Path("absent")), 0);
  EXPECT_EQ(FileTable()->dynamicList, nullptr) << "a failed dynamic open leaves no record";
}

TEST_F(FileTest, LibraryEndWritesEveryOpenFileAndKeepsTheTable) {
  const char* one = Path("end1");
  const char* many = Path("end20");
  const char* dynamic = Path("enddyn");
  ASSERT_NE(FileCreate(1, one), 0);
  ASSERT_NE(FileCreate(20, many), 0);
  intptr_t any = FileCreate(OBJECT_ANY, dynamic);
  ASSERT_NE(any, 0);
  FileWriteData(1, "one", 3);
  FileWriteData(20, "twenty", 6);
  FileWriteData(any, "any", 3);
  PlatformFileCallsReset();
  FileLibraryEnd();
  EXPECT_EQ(PlatformFileCalls().closes, 3u);
  EXPECT_EQ(ReadWhole(one), "one");
  EXPECT_EQ(ReadWhole(many), "twenty");
  EXPECT_EQ(ReadWhole(dynamic), "any");
  EXPECT_EQ(Record(1), nullptr);
  EXPECT_EQ(FileTable()->capacity, 36);
  EXPECT_NE(FileCreate(1, one), 0) << "the table is still there";
}

TEST_F(FileTest, DeleteRemovesAClosedFile) {
  const char* path = Path("delete");
  WriteWhole(path, "x");
  PlatformFileCallsReset();
  EXPECT_EQ(FileDelete(nullptr), 0);
  EXPECT_EQ(PlatformFileCalls().deletes, 0u) << "a null path makes no system call";
  // Open files are not shared for deletion.
  ASSERT_NE(FileOpenRead(1, path), 0);
  EXPECT_EQ(FileDelete(path), 0);
  EXPECT_TRUE(Exists(path));
  FileClose(1);
  EXPECT_NE(FileDelete(path), 0);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(FileDelete(path), 0);
}

#ifdef _WIN32
// Another reader that shares writing but not reading: the first try (read
// and write) is refused, the second (write only, truncating) is not.
TEST_F(FileTest, CreateFallsBackToWritingOnlyAndReadsThenFindTheEnd) {
  const char* path = Path("writeonly");
  WriteWhole(path, "old contents");
  HANDLE holder = CreateFileA(path, GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  PlatformFileCallsReset();
  ASSERT_NE(FileCreate(1, path), 0);
  // One call: its second try is inside it, and shows in the reads refused below.
  EXPECT_EQ(PlatformFileCalls().creates, 1u);
  ASSERT_NE(Record(1)->buffer, nullptr) << "buffered like any other file";
  EXPECT_EQ(FileAtEnd(1), 1) << "the refused read counts as the end";
  EXPECT_EQ(FileWriteData(1, "new", 3), 3);
  FileClose(1);
  CloseHandle(holder);
  EXPECT_EQ(ReadWhole(path), "new");
}
#endif

TEST_F(UnbufferedFileTest, EveryRequestGoesStraightToTheSystem) {
  const char* path = Path("unbuffered");
  std::string data = Pattern(300);
  ASSERT_NE(FileCreate(1, path), 0);
  ASSERT_EQ(Record(1)->buffer, nullptr);
  PlatformFileCallsReset();
  EXPECT_EQ(FileWriteData(1, data.data(), 100), 100);
  EXPECT_EQ(PlatformFileCalls().writes, 1u);
  EXPECT_EQ(PlatformFileCalls().lastWriteSource, data.data());
  EXPECT_EQ(FileWriteData(1, data.data() + 100, 200), 200);
  EXPECT_EQ(PlatformFileCalls().writes, 2u);
  EXPECT_EQ(ReadWhole(path), data);
  EXPECT_EQ(FileAtEnd(1), -1) << "an unbuffered file tells its end by -1";
  FileClose(1);
  EXPECT_EQ(PlatformFileCalls().writes, 2u);

  ASSERT_NE(FileOpenRead(1, path), 0);
  PlatformFileCallsReset();
  EXPECT_EQ(FileAtEnd(1), 0);
  EXPECT_EQ(PlatformFileCalls().reads, 1u);
  EXPECT_EQ(PlatformFileCalls().seeks, 1u) << "the byte is given back to the system";
  FileClose(1);
}

TEST_F(UnbufferedFileTest, EmptyFileIsAtItsEnd) {
  const char* path = Path("unbuffered_empty");
  WriteWhole(path, "");
  ASSERT_NE(FileOpenRead(1, path), 0);
  EXPECT_EQ(FileAtEnd(1), -1);
  FileClose(1);
}

}  // namespace
