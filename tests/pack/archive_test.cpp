// The archive reader, on real files written by the test archive writer.
#include "pack/archive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/memory.h"
#include "platform/platform.h"
#include "tests/support/counted_seam.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const ARCHIVE = "pack_test_archive.zip";
const char* const OTHER = "pack_test_other.zip";

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = uint8_t(random() % 7 == 0 ? 'a' + random() % 3 : random());
  return bytes;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class Archive : public ::testing::Test {
 protected:
  void SetUp() override { ProgramHeapCreate(); }
  void TearDown() override {
    ArchiveClose();
    ProgramHeapDestroy();
    PlatformFileDelete(ARCHIVE);
    PlatformFileDelete(OTHER);
  }

  // The next entry as bytes; fails the test when there is none.
  static Bytes Next() {
    const unsigned char* entry = ArchiveNextEntry();
    EXPECT_NE(entry, nullptr);
    int32_t size = ArchiveEntrySize();
    EXPECT_GE(size, 0);
    if (entry == nullptr || size < 0) return {};
    return Bytes(entry, entry + size);
  }

  static void ExpectEnd() {
    EXPECT_EQ(ArchiveNextEntry(), nullptr);
    EXPECT_EQ(ArchiveEntrySize(), -1);
  }

  static ArchiveEntryInfo Info() {
    ArchiveEntryInfo info{};
    EXPECT_EQ(ArchiveLastEntryInfo(&info), 1);
    return info;
  }

  static ArchivePlace Place() {
    ArchivePlace place{};
    EXPECT_EQ(ArchiveWhere(&place), 1);
    return place;
  }
};

TEST_F(Archive, EmptyFileOpensAndEnds) {
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, {}));
  ArchivePlace place{};
  EXPECT_EQ(ArchiveWhere(&place), 0) << "no archive open";
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_EQ(ArchiveEntrySize(), -1);
  EXPECT_EQ(Place().miss, ARCHIVE_MISS_NONE);
  ExpectEnd();
  EXPECT_EQ(Place().miss, ARCHIVE_MISS_END);
  ArchiveEntryInfo info;
  EXPECT_EQ(ArchiveLastEntryInfo(&info), 0);
}

TEST_F(Archive, OpenFailures) {
  EXPECT_EQ(ArchiveOpen(nullptr), 0);
  EXPECT_EQ(ArchiveOpen("pack_test_missing.zip"), 0);
  EXPECT_EQ(ArchiveEntrySize(), -1);
  EXPECT_EQ(ArchiveNextEntry(), nullptr);
  EXPECT_EQ(ArchiveSkipEntry(), 0);
  ArchiveClose();
  ArchiveClose();  // twice, with nothing open
}

TEST_F(Archive, EntriesComeInOrderByteForByte) {
  std::vector<PackEntry> entries = {
      StoredEntry(Text("index line 1\nindex line 2\n")),
      CompressedEntry(Noise(50000, 1)),
      StoredEntry({}),  // 0 and 0: a valid empty buffer
      CompressedEntry({}),
      CompressedEntry(Text("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"), EncoderMode::RepeatMatches,
                      false),
      StoredEntry(Noise(3000, 2)),
  };
  const EncoderMode modes[] = {EncoderMode::Literals7, EncoderMode::RawBlocks, EncoderMode::ShortMatches,
                               EncoderMode::OneByteCodes, EncoderMode::IndexBits};
  for (EncoderMode mode : modes) entries.push_back(CompressedEntry(Noise(4000, 3), mode));
  ASSERT_TRUE(WriteArchive(ARCHIVE, entries));

  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  for (size_t i = 0; i < entries.size(); i++) {
    SCOPED_TRACE(i);
    const unsigned char* entry = ArchiveNextEntry();
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(ArchiveEntrySize(), int32_t(entries[i].data.size()));
    EXPECT_TRUE(std::equal(entries[i].data.begin(), entries[i].data.end(), entry));
    ArchiveEntryInfo info = Info();
    EXPECT_EQ(info.unpackedSize, entries[i].data.size());
    EXPECT_EQ(info.packedSize, EntryBytes(entries[i]).size());
    EXPECT_EQ(info.stored, entries[i].compressed ? 0 : 1);
    EXPECT_EQ(info.damaged, 0);
  }
  ExpectEnd();
  ExpectEnd();  // and stays there

  // Opening again starts at entry 0.
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_EQ(Next(), entries[0].data);
  ArchiveClose();
  EXPECT_EQ(ArchiveEntrySize(), -1);
}

TEST_F(Archive, LargeEntries) {
  Bytes big = Noise((1 << 20) + 333, 4);
  ASSERT_TRUE(WriteArchive(ARCHIVE, {StoredEntry(big), CompressedEntry(big)}));
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_TRUE(Next() == big);
  EXPECT_TRUE(Next() == big);
  ExpectEnd();
}

TEST_F(Archive, TrailingPartialHeaderIsTheEnd) {
  Bytes first = Text("first entry");
  for (size_t extra = 1; extra <= 7; extra++) {
    SCOPED_TRACE(extra);
    Bytes archive = BuildArchive({StoredEntry(first)});
    archive.insert(archive.end(), extra, 0x01);
    ArchiveClose();  // the open archive is shared for reading only
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    const unsigned char* entry = ArchiveNextEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(Place().miss, ARCHIVE_MISS_NONE);
    ExpectEnd();
    ArchivePlace place = Place();
    EXPECT_EQ(place.miss, ARCHIVE_MISS_STRAY);
    EXPECT_EQ(place.size - place.offset, extra) << "the stray bytes are where the reader stands";
    // The entry delivered before the end stays valid.
    EXPECT_EQ(Bytes(entry, entry + first.size()), first);
    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    EXPECT_EQ(ArchiveSkipEntry(), 1);
    EXPECT_EQ(ArchiveSkipEntry(), 0);
    EXPECT_EQ(Place().miss, ARCHIVE_MISS_STRAY);
  }
}

TEST_F(Archive, ShortDataPartIsADamagedLastEntry) {
  Bytes data = Noise(5000, 5);
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed);
    PackEntry last = compressed ? CompressedEntry(data) : StoredEntry(data);
    Bytes archive = BuildArchive({StoredEntry(Text("ok")), last});
    archive.pop_back();  // one data byte missing
    ArchiveClose();
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));

    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    EXPECT_EQ(Next(), Text("ok"));
    ExpectEnd();
    EXPECT_EQ(Info().unpackedSize, 2u);  // still the last entry that was read whole
    ArchivePlace place = Place();
    EXPECT_EQ(place.miss, ARCHIVE_MISS_CUT_SHORT);
    EXPECT_EQ(place.cutUnpackedSize, data.size());
    EXPECT_EQ(place.cutPackedSize, archive.size() + 1 - 18) << "one byte short of its data";
    EXPECT_EQ(place.cutOffset, 10u) << "after the 8-byte header and 2 bytes of entry 0";
    EXPECT_EQ(place.offset, place.size);
    ExpectEnd();
    EXPECT_EQ(Place().miss, ARCHIVE_MISS_END);

    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    EXPECT_EQ(ArchiveSkipEntry(), 1);
    PlatformFileCallsReset();
    EXPECT_EQ(ArchiveSkipEntry(), 0);
    EXPECT_EQ(PlatformFileCalls().bytesRead, 8u) << "the header tells, with the file's size";
    EXPECT_EQ(Info().unpackedSize, 2u);
    EXPECT_EQ(Place().miss, ARCHIVE_MISS_CUT_SHORT);
    EXPECT_EQ(ArchiveSkipEntry(), 0);
    EXPECT_EQ(ArchiveNextEntry(), nullptr);
  }
}

TEST_F(Archive, HeaderClaimingMoreThanTheFileHoldsIsTheEndBeforeAnyBuffer) {
  // Data that fits a small heap, so that a reader that allocated first and
  // read to find out would get as far as reading what little is there.
  ArchiveClose();
  ProgramHeapDestroy();
  ProgramHeapCreate(256 * 1024);
  struct Claim {
    uint32_t unpacked, packed;
  };
  for (Claim claim :
       {Claim{100000, 100000}, Claim{100000, 60000}, Claim{0x7FFFFFFF, 0x7FFFFFFF}, Claim{1000, 0xFFFFFFFF}}) {
    SCOPED_TRACE(claim.packed);
    Bytes archive = BuildArchive({StoredEntry(Text("zero"))});
    AppendRawEntry(archive, claim.unpacked, claim.packed, Noise(5000, 11));
    ArchiveClose();
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    EXPECT_EQ(Next(), Text("zero"));
    PlatformFileCallsReset();
    ExpectEnd();
    PlatformFileCallCounts calls = PlatformFileCalls();
    EXPECT_EQ(calls.positionedReads + calls.reads, 1u);
    EXPECT_EQ(calls.bytesRead, 8u);
    EXPECT_EQ(Info().unpackedSize, 4u) << "an entry cut short leaves the info alone";
    EXPECT_EQ(Place().cutUnpackedSize, claim.unpacked);
    EXPECT_EQ(Place().cutPackedSize, claim.packed);
    ExpectEnd();
  }
}

TEST_F(Archive, SkipCostsOneHeaderReadPerEntry) {
  std::vector<PackEntry> entries;
  for (int i = 0; i < 40; i++) {
    Bytes data = Noise(size_t(i) * 997, uint32_t(20 + i));
    entries.push_back(i % 2 ? CompressedEntry(data) : StoredEntry(data));
  }
  ASSERT_TRUE(WriteArchive(ARCHIVE, entries));
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  PlatformFileCallsReset();
  for (int i = 0; i < 39; i++) ASSERT_EQ(ArchiveSkipEntry(), 1) << i;
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.positionedReads, 39u);
  EXPECT_EQ(calls.reads, 0u);
  EXPECT_EQ(calls.seeks, 0u);
  EXPECT_EQ(calls.bytesRead, 39u * 8);
  EXPECT_EQ(Info().unpackedSize, 38u * 997);
  EXPECT_TRUE(Next() == Noise(39 * 997, 59));
  // The end is known from the size: no call at all.
  PlatformFileCallsReset();
  EXPECT_EQ(ArchiveSkipEntry(), 0);
  ExpectEnd();
  EXPECT_EQ(PlatformFileCalls().positionedReads, 0u);
  // Opening again starts at entry 0.
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_EQ(Next(), Bytes{});
  EXPECT_TRUE(Next() == Noise(997, 21));
}

// A stream that writes a few bytes and then ends or stops, in an entry that
// claims `unpacked` bytes.
Bytes DamagedArchive(const StreamBitWriter& bits, uint32_t unpacked, uint32_t checksum) {
  // The first entry leaves stale bytes in the heap, where the next buffer
  // is likely to be placed.
  Bytes archive = BuildArchive({StoredEntry(Bytes(unpacked, 0xCC))});
  Bytes stream = MakeStream(unpacked, checksum, bits);
  AppendRawEntry(archive, unpacked, uint32_t(stream.size()), stream);
  return archive;
}

TEST_F(Archive, DamagedStreamsAreDeliveredWithUnwrittenBytesZero) {
  struct Case {
    const char* name;
    void (*build)(StreamBitWriter&);
  };
  static const Case cases[] = {
      {"ends early",
       [](StreamBitWriter& b) {
         b.LiteralWidth(8, 0);
         for (char c : std::string("hello")) b.Literal(uint8_t(c), 8);
         b.EndCode();
       }},
      {"bad copy",
       [](StreamBitWriter& b) {
         b.LiteralWidth(8, 0);
         for (char c : std::string("hello")) b.Literal(uint8_t(c), 8);
         b.ShortMatch(100, 0);  // from before the start
         b.Literal('!', 8);
         b.EndCode();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamBitWriter bits;
    c.build(bits);
    ArchiveClose();
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, DamagedArchive(bits, 100, 0)));
    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    EXPECT_EQ(Next(), Bytes(100, 0xCC));
    Bytes expected = Text("hello");
    expected.resize(100, 0);
    EXPECT_EQ(Next(), expected);
    EXPECT_EQ(Info().damaged, 1);
    ExpectEnd();
  }
}

TEST_F(Archive, ChecksumMismatchIsDeliveredAndMarked) {
  Bytes data = Noise(2000, 6);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
  stream[7] ^= 0x10;
  Bytes archive;
  AppendRawEntry(archive, uint32_t(data.size()), uint32_t(stream.size()), stream);
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_TRUE(Next() == data);
  EXPECT_EQ(Info().damaged, 1);
}

TEST_F(Archive, EmptyCompressedEntriesAreCheckedToo) {
  Bytes archive = BuildArchive({CompressedEntry({})});
  Bytes garbage = Text("not a stream");
  AppendRawEntry(archive, 0, uint32_t(garbage.size()), garbage);
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_EQ(Next(), Bytes{});
  EXPECT_EQ(Info().damaged, 0);
  EXPECT_EQ(Next(), Bytes{});
  EXPECT_EQ(Info().damaged, 1);
}

TEST_F(Archive, EntryThatCannotBeHeldIsPassedOver) {
  ArchiveClose();
  ProgramHeapDestroy();
  ProgramHeapCreate(256 * 1024);  // a heap that refuses big blocks
  Bytes big = Noise(400 * 1024, 7);
  Bytes archive =
      BuildArchive({StoredEntry(Text("zero")), StoredEntry(big), CompressedEntry(big), StoredEntry(Text("three"))});
  // An entry that claims more than a signed 32-bit size can say.
  Bytes stream = EncodeCompressedStream(big.data(), 10, EncoderMode::Balanced, false);
  AppendRawEntry(archive, 0x80000000u, uint32_t(stream.size()), stream);
  archive = [&] {
    Bytes tail = BuildArchive({StoredEntry(Text("five"))});
    archive.insert(archive.end(), tail.begin(), tail.end());
    return archive;
  }();
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));

  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_EQ(Next(), Text("zero"));
  EXPECT_EQ(ArchiveNextEntry(), nullptr);  // stored, too big
  EXPECT_EQ(ArchiveEntrySize(), -1);
  EXPECT_EQ(Info().unpackedSize, big.size());
  EXPECT_EQ(Place().miss, ARCHIVE_MISS_TOO_LARGE);
  EXPECT_EQ(Place().offset, 8 + 4 + 8 + big.size()) << "passed over";
  EXPECT_EQ(ArchiveNextEntry(), nullptr);  // compressed, too big
  EXPECT_EQ(Place().miss, ARCHIVE_MISS_TOO_LARGE);
  EXPECT_EQ(Next(), Text("three"));
  EXPECT_EQ(Place().miss, ARCHIVE_MISS_NONE);
  EXPECT_EQ(ArchiveNextEntry(), nullptr);  // 2 GiB
  EXPECT_EQ(Info().unpackedSize, 0x80000000u);
  EXPECT_EQ(Place().miss, ARCHIVE_MISS_TOO_LARGE);
  EXPECT_EQ(Next(), Text("five"));
  ExpectEnd();
  EXPECT_EQ(Place().miss, ARCHIVE_MISS_END);
}

// A read the system refuses, at an entry's header (by either call) or at its
// stored or compressed data: the archive ends there, and says where. An
// entry's buffer lasts until a header is read: a refused one leaves it.
TEST_F(Archive, RefusedReadEndsTheArchive) {
  Bytes data = Noise(3000, 11);
  struct Case {
    bool compressed;
    uint32_t readsBefore;  // bytes of the second entry read before the refusal: its header, or none
    bool skip;
  } cases[] = {{false, 0, false}, {false, 0, true}, {false, 8, false}, {true, 8, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "compressed " << c.compressed << ", read before " << c.readsBefore
                                    << (c.skip ? ", skipping" : ""));
    PackEntry second = c.compressed ? CompressedEntry(data) : StoredEntry(data);
    Bytes archive = BuildArchive({StoredEntry(Text("first")), second, StoredEntry(Text("third"))});
    ArchiveClose();
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));

    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    const unsigned char* first = ArchiveNextEntry();
    ASSERT_NE(first, nullptr);
    PlatformFileRefuseReadsOf(13 + c.readsBefore, UINT64_MAX);  // the second entry starts after 8 + 5 bytes
    EXPECT_EQ(c.skip ? ArchiveSkipEntry() != 0 : ArchiveNextEntry() != nullptr, false);
    PlatformFileCallsReset();
    ArchivePlace place = Place();
    EXPECT_EQ(place.miss, ARCHIVE_MISS_UNREADABLE);
    EXPECT_EQ(place.cutOffset, 13u) << "the second entry starts after 8 + 5 bytes";
    EXPECT_EQ(place.cutUnpackedSize, c.readsBefore != 0 ? data.size() : 0u);
    EXPECT_EQ(place.offset, place.size);
    if (c.readsBefore == 0) {
      EXPECT_EQ(Bytes(first, first + 5), Text("first"));
    }
    ExpectEnd();
    EXPECT_EQ(Place().miss, ARCHIVE_MISS_END);
  }
}

TEST_F(Archive, OpeningAnotherArchiveFreesTheEntry) {
  ArchiveClose();
  ProgramHeapDestroy();
  ProgramHeapCreate(256 * 1024);
  Bytes first = Noise(150 * 1024, 8);
  Bytes second = Noise(150 * 1024, 9);
  ASSERT_TRUE(WriteArchive(ARCHIVE, {StoredEntry(first)}));
  ASSERT_TRUE(WriteArchive(OTHER, {StoredEntry(second)}));
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_TRUE(Next() == first);
  // Both would not fit the heap at once.
  ASSERT_EQ(ArchiveOpen(OTHER), 1);
  EXPECT_TRUE(Next() == second);
}

TEST_F(Archive, SkipPassesEntriesWithoutReadingThem) {
  Bytes damagedStream = EncodeCompressedStream(Text("xyz").data(), 3, EncoderMode::Balanced, true);
  damagedStream[0] = 'X';  // not even a stream: never looked at when skipped
  Bytes archive = BuildArchive({StoredEntry(Text("zero")), CompressedEntry(Noise(9000, 10))});
  AppendRawEntry(archive, 0xFFFFFFFFu, uint32_t(damagedStream.size()), damagedStream);  // no buffer needed either
  AppendRawEntry(archive, 0, 0, {});
  Bytes tail = BuildArchive({CompressedEntry(Text("last entry, compressed"))});
  archive.insert(archive.end(), tail.begin(), tail.end());
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));

  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  EXPECT_EQ(Next(), Text("zero"));
  PlatformFileCallsReset();
  EXPECT_EQ(ArchiveSkipEntry(), 1);
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.positionedReads, 1u);  // the header alone
  EXPECT_EQ(calls.bytesRead, 8u);
  EXPECT_EQ(ArchiveEntrySize(), -1);
  ArchiveEntryInfo info = Info();
  EXPECT_EQ(info.stored, 0);
  EXPECT_EQ(info.unpackedSize, 9000u);

  EXPECT_EQ(ArchiveSkipEntry(), 1);
  info = Info();
  EXPECT_EQ(info.unpackedSize, 0xFFFFFFFFu);
  EXPECT_EQ(info.damaged, 0);
  EXPECT_EQ(ArchiveSkipEntry(), 1);  // 0 and 0
  EXPECT_EQ(Info().packedSize, 0u);
  EXPECT_EQ(Next(), Text("last entry, compressed"));
  EXPECT_EQ(ArchiveSkipEntry(), 0);
  ExpectEnd();

  // Skipping to entry r and reading it gives what r + 1 reads give.
  for (int r = 0; r < 5; r++) {
    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    for (int i = 0; i < r; i++) ASSERT_EQ(ArchiveSkipEntry(), 1);
    const unsigned char* skipped = ArchiveNextEntry();
    int32_t skippedSize = ArchiveEntrySize();
    Bytes viaSkip = skipped != nullptr ? Bytes(skipped, skipped + skippedSize) : Bytes{};
    ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
    const unsigned char* read = nullptr;
    for (int i = 0; i <= r; i++) read = ArchiveNextEntry();
    EXPECT_EQ(read != nullptr, skipped != nullptr) << r;
    if (read != nullptr) {
      EXPECT_EQ(Bytes(read, read + ArchiveEntrySize()), viaSkip) << r;
    }
  }
}

}  // namespace

// A header that claims far more than its stream gives: delivered at the
// claimed size, the decoded bytes first and zeros after, with the count.
TEST_F(Archive, ClaimBeyondTheStreamReportsWhatWasDecoded) {
  Bytes data = Text("Zeile eins\nZeile zwei\n");
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, false);
  const uint32_t claim = 64u << 20;
  Bytes archive;
  AppendRawEntry(archive, claim, uint32_t(stream.size()), stream);
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
  ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
  const unsigned char* entry = ArchiveNextEntry();
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(ArchiveEntrySize(), int32_t(claim));
  EXPECT_EQ(Info().damaged, 1);
  EXPECT_EQ(Info().decoded, data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), entry));
  EXPECT_TRUE(std::all_of(entry + data.size(), entry + claim, [](unsigned char b) { return b == 0; }));
}

// A compressed entry whose data is not a stream: the restore tool's reading
// delivers it as damaged as it always did; asked to, the reader ends there
// and says why, passing and reading alike. A sound stream with a checksum
// is proven by it.
TEST_F(Archive, AnImplausibleHeaderEndsTheReadingOnlyWhenAskedTo) {
  Bytes data = Noise(3000, 5);
  Bytes archive = BuildArchive({CompressedEntry(data)});
  AppendRawEntry(archive, 50, 20, Bytes(20, 'x'));
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
  for (int stop = 0; stop < 2; stop++) {
    for (bool skip : {false, true}) {
      SCOPED_TRACE(stop * 2 + skip);
      ASSERT_EQ(ArchiveOpen(ARCHIVE), 1);
      if (stop) ArchiveStopAtImplausible();
      EXPECT_TRUE(Next() == data);
      EXPECT_EQ(Info().checked, 1);
      bool passed = skip ? ArchiveSkipEntry() != 0 : ArchiveNextEntry() != nullptr;
      EXPECT_EQ(passed, stop == 0);
      EXPECT_EQ(Place().miss, stop ? ARCHIVE_MISS_IMPLAUSIBLE : ARCHIVE_MISS_NONE);
      if (stop) {
        EXPECT_EQ(Place().cutOffset, archive.size() - 28);
        EXPECT_EQ(Place().cutUnpackedSize, 50u);
      }
    }
  }
}
