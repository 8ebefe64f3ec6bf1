// Telling versions of an entry apart without decoding it, and telling a
// pack archive from another file by its first entry.
#include "pack/content_key.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/memory.h"
#include "pack/other_kinds.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const ARCHIVE = "pack_test_content_key.zip";

Bytes Text(const std::string& text, size_t times) {
  Bytes bytes;
  for (size_t i = 0; i < times; i++) bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

// The walk keeps its places on the program heap.
class ContentKeys : public ::testing::Test {
 protected:
  void SetUp() override { ProgramHeapCreate(); }
  void TearDown() override {
    ProgramHeapDestroy();
    std::remove(ARCHIVE);
  }
};

TEST_F(ContentKeys, EqualContentGivesEqualKeysWithoutDecoding) {
  Bytes a = Text("Brief an Frau M\xFCller\r\n", 20);
  Bytes b = a;
  b[100] ^= 1;                                    // same size, one bit apart
  Bytes large = Text("0123456789abcdef", 20000);  // more than one piece of the hash
  Bytes notStream = Bytes(12, 'x');
  Bytes archive = BuildArchive({StoredEntry(a), StoredEntry(a), StoredEntry(b), CompressedEntry(a),
                                CompressedEntry(a, EncoderMode::Literals8), CompressedEntry(b),
                                CompressedEntry(a, EncoderMode::Balanced, false),
                                CompressedEntry(a, EncoderMode::Balanced, false), StoredEntry(large)});
  AppendRawEntry(archive, 10, uint32_t(notStream.size()), notStream);
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
  ArchiveFile* file = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_HEADERS);
  ASSERT_NE(file, nullptr);
  ContentKey keys[10];
  for (uint32_t entry = 0; entry < 9; entry++) ASSERT_EQ(ArchiveFileContentKey(file, entry, &keys[entry]), 1) << entry;
  EXPECT_EQ(ArchiveFileContentKey(file, 9, &keys[9]), 0) << "a compressed entry that starts no stream has no key";
  EXPECT_EQ(ArchiveFileContentKey(file, 10, &keys[9]), 0) << "no such entry";
  ArchiveFileClose(file);

  struct Case {
    uint32_t first, second;
    bool equal;
  };
  static const Case CASES[] = {
      {0, 1, true},   // stored, same bytes
      {0, 2, false},  // stored, one bit apart
      {3, 4, true},   // two streams of the same content carry the same checksum
      {3, 5, false},  // the checksum tells one bit apart
      {6, 7, true},   // without a checksum: the same packed bytes
      {0, 3, false},  // stored and compressed keys are of different kinds
      {3, 6, false},
  };
  for (const Case& c : CASES) {
    EXPECT_EQ(keys[c.first] == keys[c.second], c.equal) << c.first << " and " << c.second;
  }
  EXPECT_EQ(keys[3].kind, CONTENT_KEY_STREAM_CHECKSUM);
  EXPECT_EQ(keys[3].value, ReferenceChecksum(a.data(), a.size()));
  EXPECT_EQ(keys[6].kind, CONTENT_KEY_STREAM_BYTES);
  // Read in pieces, hashed as if whole: the same as the key of its decoded bytes.
  EXPECT_EQ(keys[8].value, DecodedContentKey(large.data(), uint32_t(large.size())).value);
  EXPECT_EQ(keys[8].unpackedSize, large.size());
}

TEST_F(ContentKeys, APackArchiveIsToldFromOtherFilesByItsFirstEntry) {
  Bytes noMagic;
  AppendRawEntry(noMagic, 100, 4, Bytes{'a', 'b', 'c', 'd'});
  struct Case {
    const char* name;
    Bytes bytes;
    int startsAsPack;
  };
  const Case CASES[] = {
      {"stored index", BuildArchive({StoredEntry(Text("C:\\a.txt\r\n", 1)), StoredEntry({})}), 1},
      {"compressed index", BuildArchive({CompressedEntry(Text("C:\\a.txt\r\n", 30))}), 1},
      {"a note", Text("Sicherungen jeden Monat\r\n", 1), 0},
      {"empty", {}, 0},
      {"compressed without the stream magic", noMagic, 0},
  };
  for (const Case& c : CASES) {
    ASSERT_TRUE(WriteFileBytes(ARCHIVE, c.bytes));
    EXPECT_EQ(ArchiveStartsAsPack(ARCHIVE), c.startsAsPack) << c.name;
  }
  std::remove(ARCHIVE);
  EXPECT_EQ(ArchiveStartsAsPack(ARCHIVE), -1);
}

}  // namespace
