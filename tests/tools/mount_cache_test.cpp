// The mount's cache of decoded entries, in process: one decode for readers
// that ask at once, a bound in bytes with the least recently used out
// first, and an entry over the bound held in a temporary file.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/memory.h"
#include "tests/support/counted_seam.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"
#include "tools/mount/entry_cache.h"
#include "tools/mount/mount_tree.h"
#include "tools/rows/walk_names.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const ARCHIVE = "mount_cache_test.zip";

class MountCache : public testing::Test {
 protected:
  void SetUp() override {
    ProgramHeapCreate();
    for (uint32_t i = 0; i < 4; i++) data_.push_back(SampleProse(10000 + i * 5000, i));
    std::vector<PackEntry> entries;
    for (const Bytes& data : data_) entries.push_back(CompressedEntry(data));
    ASSERT_TRUE(WriteArchive(ARCHIVE, entries));
    archive_ = ArchiveFileOpen(ARCHIVE, ARCHIVE_WALK_HEADERS);
    ASSERT_NE(archive_, nullptr);
  }
  void TearDown() override {
    ArchiveFileClose(archive_);
    ProgramHeapDestroy();
    PlatformFileDelete(ARCHIVE);
  }

  // The entry's bytes as the cache gives them, in reads of 4 KiB.
  static Bytes Bytes4k(const DecodedEntry& entry) {
    Bytes all(entry.Decoded());
    uint32_t done = 0;
    for (uint32_t at = 0; at < all.size(); at += done) {
      if (!entry.Read(at, all.data() + at, 4096, &done) || done == 0) return {};
    }
    return all;
  }
  // Data reads (one per decode) since the last call.
  uint64_t Decodes() {
    uint64_t now = PlatformFileCalls().positionedReads, count = now - reads_;
    reads_ = now;
    return count;
  }

  std::vector<Bytes> data_;
  WorkAhead engine_{2};  // large entries are decoded on its workers
  ArchiveFile* archive_ = nullptr;
  uint64_t reads_ = 0;
};

TEST_F(MountCache, DecodesOnceKeepsWithinItsBoundAndSpillsLargerEntries) {
  // Entries 0 to 3 are 10,000 to 25,000 bytes.
  EntryCache cache(40000, engine_);
  Decodes();
  std::vector<std::shared_ptr<DecodedEntry>> got(8);
  std::vector<std::thread> readers;
  for (size_t t = 0; t < got.size(); t++) readers.emplace_back([&, t] { got[t] = cache.Get(archive_, 0, 1); });
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(Decodes(), 1u);
  for (const auto& entry : got) EXPECT_EQ(entry, got[0]);
  EXPECT_EQ(Bytes4k(*got[0]), data_[1]);
  got.clear();

  // Kept after its readers are gone; the least recently used goes first.
  EXPECT_NE(cache.Get(archive_, 0, 0), nullptr);
  EXPECT_NE(cache.Get(archive_, 0, 1), nullptr);
  EXPECT_EQ(Decodes(), 1u);
  EXPECT_EQ(cache.HeldBytes(), 25000u);
  EXPECT_NE(cache.Get(archive_, 0, 0), nullptr);  // entry 1 is now the least recently used
  EXPECT_NE(cache.Get(archive_, 0, 2), nullptr);  // 20,000 more: entry 1 goes
  EXPECT_EQ(Decodes(), 1u);
  EXPECT_EQ(cache.HeldBytes(), 30000u);
  EXPECT_NE(cache.Get(archive_, 0, 0), nullptr);
  EXPECT_EQ(Decodes(), 0u);
  EXPECT_NE(cache.Get(archive_, 0, 1), nullptr);
  EXPECT_EQ(Decodes(), 1u);
  EXPECT_LE(cache.HeldBytes(), 40000u);

  // Over the bound on its own: in a temporary file, read back the same,
  // gone when its last reader is.
  EntryCache small(20000, engine_);
  std::shared_ptr<DecodedEntry> large = small.Get(archive_, 0, 3);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(small.HeldBytes(), 0u);
  EXPECT_EQ(Bytes4k(*large), data_[3]);
  EXPECT_EQ(small.Get(archive_, 0, 3), large);
  large.reset();
  Decodes();
  EXPECT_NE(small.Get(archive_, 0, 3), nullptr);
  EXPECT_EQ(Decodes(), 1u);
}

TEST_F(MountCache, OpenEntriesCountAgainstTheBound) {
  // Readers hold entries 1 and 2 (35,000 bytes); entry 0 (10,000) would
  // pass the 40,000 in memory, so it goes to a temporary file, and the
  // entries no reader holds make room before that.
  EntryCache cache(40000, engine_);
  EXPECT_NE(cache.Get(archive_, 0, 3), nullptr);  // kept, no reader
  std::shared_ptr<DecodedEntry> one = cache.Get(archive_, 0, 1);
  std::shared_ptr<DecodedEntry> two = cache.Get(archive_, 0, 2);
  EXPECT_EQ(cache.InMemoryBytes(), 35000u);
  std::shared_ptr<DecodedEntry> zero = cache.Get(archive_, 0, 0);
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(Bytes4k(*zero), data_[0]);
  EXPECT_EQ(cache.InMemoryBytes(), 35000u);
  two.reset();
  zero.reset();
  EXPECT_NE(cache.Get(archive_, 0, 0), nullptr);  // entry 2 is no longer held: it goes
  EXPECT_EQ(cache.InMemoryBytes(), 25000u);
  EXPECT_EQ(cache.HeldBytes(), 25000u);
}

// An entry far over the bound, read by several readers at once: decoded
// once, straight into its temporary file, so that the process's memory
// holds its stream and never its decoded bytes (the heap here is smaller
// than the entry).
TEST_F(MountCache, AnEntryOverTheBoundIsNeverDecodedInMemory) {
  ArchiveFileClose(archive_);
  ProgramHeapDestroy();
  ProgramHeapCreate(2u << 20);
  Bytes block = SampleProse(4096, 7), large;
  for (int i = 0; i < 2048; i++) large.insert(large.end(), block.begin(), block.end());  // 8 MiB
  const char* const name = "mount_cache_large.zip";
  ASSERT_TRUE(WriteArchive(name, {CompressedEntry(large)}));
  archive_ = ArchiveFileOpen(name, ARCHIVE_WALK_HEADERS);
  ASSERT_NE(archive_, nullptr);

  EntryCache cache(1u << 20, engine_);
  Decodes();
  std::vector<std::shared_ptr<DecodedEntry>> got(4);
  std::vector<std::thread> readers;
  for (size_t t = 0; t < got.size(); t++) readers.emplace_back([&, t] { got[t] = cache.Get(archive_, 0, 0); });
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(Decodes(), 1u);
  ASSERT_NE(got[0], nullptr);
  EXPECT_FALSE(got[0]->Damaged());
  EXPECT_EQ(Bytes4k(*got[0]), large);
  for (const auto& entry : got) EXPECT_EQ(entry, got[0]);
  EXPECT_EQ(cache.InMemoryBytes(), 0u);
  got.clear();
  PlatformFileDelete(name);
}

}  // namespace

namespace {

// Past damage, a file whose name is proven stands under its row's path, and
// one whose name is a guess below names-unproven, never at the row's path.
TEST(MountTreeNames, AGuessedNameStandsApart) {
  MountSource source;
  source.rows = {"C:\\Index.txt", "C:\\a.txt", "C:\\b.txt", "C:\\c.txt"};
  source.entries.assign(4, MountEntry{5, true});
  source.naming.given = true;
  source.naming.entries = {{NameFrom::Index, 0}, {NameFrom::Index, 1}, {NameFrom::Guess, 2}, {NameFrom::Position, 3}};
  MountTree tree;
  std::vector<std::string> refused;
  tree.AddArchive(MountTree::ROOT, 0, source, &refused);
  EXPECT_TRUE(refused.empty());
  EXPECT_NE(tree.Child(MountTree::ROOT, "a.txt"), MountTree::NONE);
  EXPECT_NE(tree.Child(MountTree::ROOT, "c.txt"), MountTree::NONE);
  EXPECT_EQ(tree.Child(MountTree::ROOT, "b.txt"), MountTree::NONE);
  uint32_t unproven = tree.Child(MountTree::ROOT, "names-unproven");
  ASSERT_NE(unproven, MountTree::NONE);
  uint32_t guessed = tree.Child(unproven, "b.txt");
  ASSERT_NE(guessed, MountTree::NONE);
  EXPECT_EQ(tree.Node(guessed).entry, 2u);
}

}  // namespace
