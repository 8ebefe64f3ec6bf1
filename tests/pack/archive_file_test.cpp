// The archive object and its cursors, held against the process-wide reader,
// which reads the same files front to back.
#include "pack/archive_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/memory.h"
#include "platform/platform.h"
#include "tests/support/counted_seam.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const ARCHIVE = "pack_test_archive_file.zip";

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = uint8_t(random() % 5 == 0 ? 'x' : random());
  return bytes;
}

// What one read gave: the bytes (or none), the account and the place after it.
struct Outcome {
  bool delivered;
  Bytes bytes;
  ArchiveEntryInfo info;
  ArchivePlace place;
};

bool operator==(const Outcome& a, const Outcome& b) {
  return a.delivered == b.delivered && a.bytes == b.bytes && memcmp(&a.info, &b.info, sizeof a.info) == 0 &&
         a.place.offset == b.place.offset && a.place.size == b.place.size && a.place.miss == b.place.miss &&
         a.place.cutOffset == b.place.cutOffset && a.place.cutUnpackedSize == b.place.cutUnpackedSize &&
         a.place.cutPackedSize == b.place.cutPackedSize;
}

Outcome Taken(const unsigned char* entry, int32_t size, ArchiveEntryInfo info, ArchivePlace place) {
  return Outcome{entry != nullptr, entry != nullptr ? Bytes(entry, entry + size) : Bytes{}, info, place};
}

// Every read of the process-wide reader to its end, and two more.
std::vector<Outcome> PlainReads() {
  std::vector<Outcome> reads;
  EXPECT_EQ(ArchiveOpen(ARCHIVE), 1);
  for (int extra = 0; extra < 2;) {
    const unsigned char* entry = ArchiveNextEntry();
    ArchiveEntryInfo info{};
    ArchivePlace place{};
    ArchiveLastEntryInfo(&info);
    ArchiveWhere(&place);
    reads.push_back(Taken(entry, ArchiveEntrySize(), info, place));
    if (place.miss != ARCHIVE_MISS_NONE && place.miss != ARCHIVE_MISS_TOO_LARGE) extra++;
  }
  ArchiveClose();
  return reads;
}

Outcome CursorRead(ArchiveCursor* cursor) {
  const unsigned char* entry = ArchiveCursorNextEntry(cursor);
  ArchiveEntryInfo info{};
  ArchivePlace place{};
  ArchiveCursorLastEntryInfo(cursor, &info);
  ArchiveCursorWhere(cursor, &place);
  return Taken(entry, ArchiveCursorEntrySize(cursor), info, place);
}

class ArchiveObject : public ::testing::Test {
 protected:
  void SetUp() override { ProgramHeapCreate(); }
  void TearDown() override {
    ProgramHeapDestroy();
    PlatformFileCallsReset();
    PlatformFileDelete(ARCHIVE);
  }
};

// On archives that end in each way the reader knows, a cursor of a walked
// archive reads what the process-wide reader reads, with the same accounts
// and places, and ends where the walk said; passing entries costs no read.
TEST_F(ArchiveObject, WalkedCursorReadsWhatThePlainReaderReads) {
  Bytes data = Noise(3000, 1);
  struct Case {
    const char* name;
    Bytes tail;            // after three sound entries
    uint64_t refusedFrom;  // reads refused from here on (0: none)
    ArchiveMiss end;
  } cases[] = {
      {"sound", {}, 0, ARCHIVE_MISS_END},
      {"stray bytes", {1, 2, 3}, 0, ARCHIVE_MISS_STRAY},
      {"cut short", {0x10, 0, 0, 0, 0x10, 0, 0, 0, 'a'}, 0, ARCHIVE_MISS_CUT_SHORT},
      {"refused header", {4, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 'd'}, 1, ARCHIVE_MISS_UNREADABLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes archive = BuildArchive({StoredEntry(data), CompressedEntry(data), StoredEntry({})});
    uint64_t tailAt = archive.size();
    archive.insert(archive.end(), c.tail.begin(), c.tail.end());
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
    PlatformFileCallsReset();
    if (c.refusedFrom != 0) PlatformFileRefuseReadsOf(tailAt, tailAt + 1);
    std::vector<Outcome> plain = PlainReads();

    ArchiveFile* walked = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_HEADERS);
    ASSERT_NE(walked, nullptr);
    EXPECT_EQ(ArchiveFileEntryCount(walked), 3u);
    ArchiveEntryPlace place{};
    ASSERT_EQ(ArchiveFileEntryPlace(walked, 2, &place), 1);
    EXPECT_EQ(place.offset, tailAt - 8);
    EXPECT_EQ(ArchiveFileEntryPlace(walked, 3, &place), 0);
    ArchivePlace end{};
    ASSERT_EQ(ArchiveFileWalkEnd(walked, &end), 1);
    EXPECT_EQ(end.miss, c.end);

    ArchiveCursor* cursor = ArchiveCursorCreate(walked);
    ASSERT_NE(cursor, nullptr);
    for (size_t i = 0; i < plain.size(); i++) EXPECT_TRUE(CursorRead(cursor) == plain[i]) << "read " << i;
    // From the walk's end again, and past entries without a read.
    ASSERT_EQ(ArchiveCursorSeek(cursor, 3), 1);
    EXPECT_TRUE(CursorRead(cursor) == plain[3]);
    EXPECT_EQ(ArchiveCursorSeek(cursor, 4), 0);
    ASSERT_EQ(ArchiveCursorSeek(cursor, 0), 1);
    PlatformFileCallCounts before = PlatformFileCalls();
    for (int i = 0; i < 3; i++) EXPECT_EQ(ArchiveCursorSkipEntry(cursor), 1);
    EXPECT_EQ(ArchiveCursorSkipEntry(cursor), 0);
    EXPECT_EQ(PlatformFileCalls().positionedReads, before.positionedReads);
    ArchiveCursorFree(cursor);
    ArchiveFileClose(walked);
  }
}

TEST_F(ArchiveObject, OnlyAWalkedArchiveSeeks) {
  ASSERT_TRUE(WriteArchive(ARCHIVE, {StoredEntry(Noise(10, 2))}));
  ArchiveFile* archive = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_NONE);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ArchiveFileEntryCount(archive), 0u);
  ArchivePlace end{};
  EXPECT_EQ(ArchiveFileWalkEnd(archive, &end), 0);
  ArchiveCursor* cursor = ArchiveCursorCreate(archive);
  EXPECT_EQ(ArchiveCursorSeek(cursor, 0), 0);
  EXPECT_NE(ArchiveCursorNextEntry(cursor), nullptr);
  ArchiveCursorFree(cursor);
  ArchiveFileClose(archive);
  EXPECT_EQ(ArchiveFileOpen("pack_test_missing.zip", ARCHIVE_WALK_HEADERS), nullptr);
  EXPECT_EQ(ArchiveFileOpen(nullptr, ARCHIVE_WALK_NONE), nullptr);
}

// An entry's data read where it stands: any range, clipped to the entry,
// one positioned read each, nothing from the neighbours; a file cut or
// rewritten under the archive is told, not read as the old one.
TEST_F(ArchiveObject, ReadsAnEntrysDataInPlaceAndTellsAChangedFile) {
  Bytes first = Noise(5000, 3), second = Noise(70, 4);
  ASSERT_TRUE(WriteArchive(ARCHIVE, {StoredEntry(first), StoredEntry(second)}));
  ArchiveFile* archive = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_HEADERS);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ArchiveFileChanged(archive), 0);
  struct Case {
    uint32_t entry;
    uint64_t from;
    uint32_t length;
    int result;
    uint32_t done;
  } cases[] = {
      {0, 0, 5000, 1, 5000}, {0, 4990, 100, 1, 10},  {0, 1234, 1, 1, 1}, {0, 5000, 10, 1, 0},
      {1, 60, 4096, 1, 10},  {1, 1u << 31, 4, 1, 0}, {2, 0, 4, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.entry) + " at " + std::to_string(c.from));
    const Bytes& data = c.entry == 0 ? first : second;
    Bytes got(c.length + 1, 0xEE);
    uint32_t done = 99;
    PlatformFileCallCounts before = PlatformFileCalls();
    EXPECT_EQ(ArchiveFileReadEntryData(archive, c.entry, c.from, got.data(), c.length, &done), c.result);
    EXPECT_EQ(done, c.done);
    EXPECT_LE(PlatformFileCalls().positionedReads - before.positionedReads, 1u);
    if (c.done != 0) {
      EXPECT_EQ(Bytes(got.begin(), got.begin() + done), Bytes(data.begin() + c.from, data.begin() + c.from + done));
    }
    EXPECT_EQ(got[done], 0xEE);
  }
#ifndef _WIN32
  // Cut under the open archive: the read that reaches past the new end
  // fails. (Windows refuses to write a file the archive holds open.)
  Bytes cut = BuildArchive({StoredEntry(first)});
  cut.resize(cut.size() - 100);
  EXPECT_TRUE(WriteFileBytes(ARCHIVE, cut));
  EXPECT_EQ(ArchiveFileChanged(archive), 1);
  Bytes got(200);
  uint32_t done = 0;
  EXPECT_EQ(ArchiveFileReadEntryData(archive, 0, 4850, got.data(), 150, &done), 0);
#endif
  ArchiveFileClose(archive);
}

// Threads with a cursor each read different entries of one archive, each
// from the far end of its share: every entry as the process-wide reader
// gives it.
// A cursor uses its buffers again from entry to entry: what it gives after
// other entries is what a fresh cursor gives, and past a damaged entry's
// decoded bytes there are zeros, never the bytes of an entry before.
TEST_F(ArchiveObject, ACursorThatReadEntriesBeforeGivesWhatAFreshOneGives) {
  Bytes large = Noise(40000, 7), small = Noise(3000, 8), text = SampleProse(40000, 7);
  Bytes broken = EncodeCompressedStream(text.data(), text.size(), EncoderMode::Balanced, true);
  broken.resize(broken.size() / 2);  // its second half missing
  Bytes archive = BuildArchive({CompressedEntry(large), StoredEntry(large), CompressedEntry(small)});
  AppendRawEntry(archive, uint32_t(text.size()), uint32_t(broken.size()), broken);
  Bytes last = BuildArchive({CompressedEntry(small), StoredEntry(Noise(50000, 9))});
  archive.insert(archive.end(), last.begin(), last.end());
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
  ArchiveFile* file = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_HEADERS);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(ArchiveFileEntryCount(file), 6u);
  for (bool stopAtImplausible : {false, true}) {
    ArchiveCursor* reused = ArchiveCursorCreate(file);
    if (stopAtImplausible) ArchiveCursorStopAtImplausible(reused);
    for (uint32_t entry = 0; entry < 6; entry++) {
      SCOPED_TRACE(entry);
      const unsigned char* bytes = ArchiveCursorNextEntry(reused);
      ArchiveEntryInfo info{};
      ArchivePlace place{};
      ArchiveCursorLastEntryInfo(reused, &info);
      ArchiveCursorWhere(reused, &place);
      Outcome again = Taken(bytes, ArchiveCursorEntrySize(reused), info, place);
      // Letting the kept buffers go leaves the entry delivered as it was.
      if (stopAtImplausible) ArchiveCursorKeepOnlyTheEntry(reused);
      if (bytes != nullptr) {
        EXPECT_TRUE(again.bytes == Bytes(bytes, bytes + again.bytes.size()));
      }
      ArchiveCursor* fresh = ArchiveCursorCreate(file);
      if (stopAtImplausible) ArchiveCursorStopAtImplausible(fresh);
      ASSERT_EQ(ArchiveCursorSeek(fresh, entry), 1);
      Outcome first = CursorRead(fresh);
      ArchiveCursorFree(fresh);
      EXPECT_TRUE(again == first);
      if (entry == 3) {
        ASSERT_TRUE(again.delivered);
        EXPECT_NE(again.info.damaged, 0);
        ASSERT_LT(again.info.decoded, text.size());
        EXPECT_TRUE(
            std::all_of(again.bytes.begin() + again.info.decoded, again.bytes.end(), [](uint8_t b) { return b == 0; }));
      }
    }
    ArchiveCursorFree(reused);
  }
  ArchiveFileClose(file);
}

// A cursor that stops at implausible headers reads a header and the two
// bytes after it in one read; where those two cannot be read (a failing
// disk), it reads the header alone, and judges the same.
TEST_F(ArchiveObject, ACursorThatStopsAtImplausibleHeadersReadsEachHeaderOnce) {
  Bytes data = Noise(3000, 5);
  const uint64_t second = 8 + data.size();  // where the second header starts
  struct Case {
    const char* name;
    bool noStream;  // the second entry compressed by its sizes, its data no stream
    bool refuseStreamStart;
    ArchiveMiss end;
    uint32_t reads;
  } cases[] = {
      {"sound", false, false, ARCHIVE_MISS_END, 2},
      {"not a stream", true, false, ARCHIVE_MISS_IMPLAUSIBLE, 2},
      // Header and magic refused: the header alone, then the magic alone.
      {"start unreadable", false, true, ARCHIVE_MISS_END, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes archive = BuildArchive({StoredEntry(data)});
    if (c.noStream) {
      AppendRawEntry(archive, 5000, 4, {'a', 'b', 'c', 'd'});
    } else {
      Bytes more = BuildArchive({CompressedEntry(data)});
      archive.insert(archive.end(), more.begin(), more.end());
    }
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
    ArchiveFile* file = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_NONE);
    ASSERT_NE(file, nullptr);
    ArchiveCursor* cursor = ArchiveCursorCreate(file);
    ArchiveCursorStopAtImplausible(cursor);
    PlatformFileCallsReset();
    if (c.refuseStreamStart) PlatformFileRefuseReadsOf(second + 8, second + 10);
    uint32_t passed = 0;
    while (ArchiveCursorSkipEntry(cursor) != 0) passed++;
    ArchivePlace place{};
    ArchiveCursorWhere(cursor, &place);
    EXPECT_EQ(passed, c.end == ARCHIVE_MISS_END ? 2u : 1u);
    EXPECT_EQ(place.miss, c.end);
    EXPECT_EQ(PlatformFileCalls().positionedReads, c.reads);
    ArchiveCursorFree(cursor);
    ArchiveFileClose(file);

    // A walk that stops there too makes those reads once, at the open; its
    // cursors then pass the same entries to the same end with none.
    PlatformFileCallsReset();
    if (c.refuseStreamStart) PlatformFileRefuseReadsOf(second + 8, second + 10);
    ArchiveFile* walked = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_PLAUSIBLE);
    ASSERT_NE(walked, nullptr);
    EXPECT_EQ(PlatformFileCalls().positionedReads, c.reads);
    EXPECT_EQ(ArchiveFileEntryCount(walked), passed);
    cursor = ArchiveCursorCreate(walked);
    ArchiveCursorStopAtImplausible(cursor);
    uint32_t passedAgain = 0;
    while (ArchiveCursorSkipEntry(cursor) != 0) passedAgain++;
    ArchiveCursorWhere(cursor, &place);
    EXPECT_EQ(passedAgain, passed);
    EXPECT_EQ(place.miss, c.end);
    EXPECT_EQ(PlatformFileCalls().positionedReads, c.reads) << "no read after the walk";
    // A place learned from the walk's own offsets seeks; another does not.
    EXPECT_EQ(ArchiveCursorSeekOffset(cursor, second, 1), 1);
    EXPECT_EQ(ArchiveCursorSeekOffset(cursor, second + 1, 1), 0);
    ArchiveCursorFree(cursor);
    ArchiveFileClose(walked);
  }
}

TEST_F(ArchiveObject, ThreadsReadDifferentEntriesOfOneArchive) {
  std::vector<PackEntry> entries;
  for (uint32_t i = 0; i < 48; i++) {
    Bytes data = Noise(500 + i * 731, 10 + i);
    entries.push_back(i % 3 == 0 ? StoredEntry(data) : CompressedEntry(data));
  }
  ASSERT_TRUE(WriteArchive(ARCHIVE, entries));
  std::vector<Outcome> plain = PlainReads();
  ArchiveFile* archive = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_HEADERS);
  ASSERT_NE(archive, nullptr);
  ASSERT_EQ(ArchiveFileEntryCount(archive), entries.size());

  const uint32_t threads = 4;
  std::vector<int> wrong(threads, 0);
  std::vector<std::thread> readers;
  for (uint32_t t = 0; t < threads; t++) {
    readers.emplace_back([&, t] {
      ArchiveCursor* cursor = ArchiveCursorCreate(archive);
      for (uint32_t i = uint32_t(entries.size()) - threads + t; i < entries.size(); i -= threads) {
        bool same = cursor != nullptr && ArchiveCursorSeek(cursor, i) == 1 && CursorRead(cursor) == plain[i];
        wrong[t] += same ? 0 : 1;
      }
      ArchiveCursorFree(cursor);
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (uint32_t t = 0; t < threads; t++) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  ArchiveFileClose(archive);
}

// Where a large entry goes: the pieces of a stored one, the room for a
// compressed one; a sink may refuse.
struct MemorySink : ArchiveEntrySink {
  bool refuse = false;
  Bytes taken;
  Bytes room;
  size_t pieces = 0;
  bool Take(const unsigned char* bytes, uint32_t size) override {
    pieces++;
    EXPECT_LE(size, ARCHIVE_STREAM_PIECE);
    taken.insert(taken.end(), bytes, bytes + size);
    return !refuse;
  }
  unsigned char* Room(uint32_t size, uint32_t packedSize) override {
    room.assign(size_t(size) + packedSize, 0);
    return refuse ? nullptr : room.data();
  }
};

// Entries from ARCHIVE_STREAMED_FROM on go to the sink with the account a
// buffer would have had; smaller ones come in a buffer as ever. A sink that
// refuses passes the entry over, and the next one still comes; a read the
// system refuses partway ends the archive there.
TEST_F(ArchiveObject, LargeEntriesGoToASinkInPieces) {
  const uint32_t large = ARCHIVE_STREAMED_FROM + 4321;
  Bytes stored = Noise(large, 5), small = Noise(3000, 6);
  Bytes repeated;
  while (repeated.size() < large) repeated.insert(repeated.end(), small.begin(), small.end());
  repeated.resize(large);
  Bytes archive = BuildArchive({StoredEntry(stored), CompressedEntry(repeated)});
  // A header that claims far more than its stream gives: damaged, its
  // decoded bytes counted.
  Bytes stream = EncodeCompressedStream(small.data(), small.size(), EncoderMode::Balanced, true);
  AppendRawEntry(archive, large, uint32_t(stream.size()), stream);
  Bytes tail = BuildArchive({CompressedEntry(small)});
  archive.insert(archive.end(), tail.begin(), tail.end());
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));

  struct Case {
    const char* name;
    bool refuse;
    uint64_t refusedAt;  // a read refused at this offset (0: none)
    std::vector<int> misses;
  } cases[] = {
      {"taken", false, 0, {ARCHIVE_MISS_NONE, ARCHIVE_MISS_NONE, ARCHIVE_MISS_NONE, ARCHIVE_MISS_NONE}},
      {"refused by the sink",
       true,
       0,
       {ARCHIVE_MISS_TOO_LARGE, ARCHIVE_MISS_TOO_LARGE, ARCHIVE_MISS_TOO_LARGE, ARCHIVE_MISS_NONE}},
      {"read refused partway", false, 8 + 5 * ARCHIVE_STREAM_PIECE, {ARCHIVE_MISS_UNREADABLE, ARCHIVE_MISS_END}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    PlatformFileCallsReset();
    if (test.refusedAt != 0) PlatformFileRefuseReadsOf(test.refusedAt, test.refusedAt + 1);
    ArchiveFile* file = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_NONE);
    ASSERT_NE(file, nullptr);
    ArchiveCursor* cursor = ArchiveCursorCreate(file);
    for (size_t entry = 0; entry < test.misses.size(); entry++) {
      MemorySink sink;
      sink.refuse = test.refuse;
      int streamed = -1;
      const unsigned char* bytes = ArchiveCursorNextEntryTo(cursor, &sink, &streamed);
      ArchivePlace place{};
      ArchiveEntryInfo info{};
      ArchiveCursorWhere(cursor, &place);
      ArchiveCursorLastEntryInfo(cursor, &info);
      EXPECT_EQ(place.miss, test.misses[entry]) << entry;
      EXPECT_EQ(streamed, entry < 3 && place.miss != ARCHIVE_MISS_END ? 1 : 0) << entry;
      if (place.miss != ARCHIVE_MISS_NONE) continue;
      if (entry == 0) {
        EXPECT_TRUE(sink.taken == stored && sink.pieces == 17);
      } else if (entry == 1) {
        EXPECT_TRUE(Bytes(sink.room.begin(), sink.room.begin() + large) == repeated);
      }
      if (entry == 2) {
        EXPECT_EQ(info.damaged, 1);
        EXPECT_EQ(info.decoded, small.size());
        EXPECT_TRUE(Bytes(sink.room.begin(), sink.room.begin() + small.size()) == small);
        EXPECT_EQ(std::count(sink.room.begin() + small.size(), sink.room.begin() + large, 0), large - small.size());
      }
      if (entry < 3) {
        EXPECT_EQ(bytes, nullptr);
      } else {
        EXPECT_TRUE(bytes != nullptr && Bytes(bytes, bytes + small.size()) == small);
      }
    }
    ArchiveCursorFree(cursor);
    ArchiveFileClose(file);
  }
}

}  // namespace
