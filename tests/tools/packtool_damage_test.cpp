// packtool on the damage a disk gives: zeros over a tail or a block, a header
// with one byte changed, a cut archive, names in the way, and another kind
// of archive. Zeros are never files, and no bad header hides the files
// behind it.
#include "tests/tools/packtool_fixture.h"

namespace {

class PackToolDamage : public PackToolCli {};

// The rows each command is expected to bring out whole, the rows rescue
// reports lost, and a phrase each says.
TEST_F(PackToolDamage, ZerosAndABadHeaderNeitherMakeFilesNorHideThem) {
  RowArchive eight(8), eighteen(18), empty(8, {3, 4, 7});
  Bytes cut = eighteen.CutInside(14, 100);
  struct Case {
    const char* what;
    const RowArchive& sound;
    Bytes archive;
    std::vector<size_t> whole;  // rows whose files come out whole, every other row but 0 is not written
    std::vector<size_t> lost;   // rows rescue reports lost
    int code;                   // of every command
    int listCode;               // list reads no entry's data: it sees what the headers show
    const char* says;           // by list
  } cases[] = {
      {"zeroed tail", eight, eight.ZeroedFrom(5), {1, 2, 3, 4}, {5, 6, 7}, 4, 4, "index has only 8 rows"},
      {"zeroed block",
       eight,
       eight.ZeroedBlock(2),
       {3, 4, 5, 6, 7},
       {2},
       4,
       4,
       "entry 2 (\"C:\\Fotos\\bild-2.txt\"): lost"},
      {"zeros inside", eight, eight.ZeroedInside(4, 300, 64), {1, 2, 3, 5, 6, 7}, {}, 4, 0, ""},
      {"empty files", empty, empty.bytes, {1, 2, 3, 4, 5, 6, 7}, {}, 0, 0, ""},
      {"bad header",
       eighteen,
       eighteen.BadPackedSize(8),
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17},
       {},
       4,
       4,
       "entry 8's header claims 5903927 bytes; 112853 remain; the entries past it were found by looking past"},
      {"cut", eighteen, cut, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, {15, 16, 17}, 4, 4, "rows 15 to 17 have no"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("damaged.zip", c.archive);
    std::error_code ignored;
    fs::remove_all(base_ / "work" / "out", ignored);
    fs::remove_all(base_ / "work" / "x", ignored);

    ToolRun run = Run({"rescue", "damaged.zip", "-d", "out", "--json"});
    EXPECT_EQ(run.exitCode, c.code) << run.err;
    JsonDocument rescued = Document(run.out);
    ASSERT_EQ(rescued["entries"].size(), c.sound.rows.size()) << "no entry past the rows, every row said";
    std::vector<size_t> lost;
    bool allSound = true;
    for (const JsonDocument& entry : rescued["entries"]) {
      if (entry["state"] == "lost") lost.push_back(entry["entry"].get<size_t>());
      allSound = allSound && (entry["state"] == "sound" || entry["state"] == "unchecked");
    }
    EXPECT_EQ(lost, c.lost);
    EXPECT_EQ(Exists("out/rescue-report.txt"), !allSound) << "a report beside files that are not whole";

    run = Run({"list", "damaged.zip", "--json"});
    EXPECT_EQ(run.exitCode, c.listCode) << run.err;
    EXPECT_EQ(Document(run.out)["complete"], c.listCode == 0);
    EXPECT_CONTAINS(run.err, c.says);

    run = Run({"extract", "damaged.zip", "--all", "-d", "x"});
    EXPECT_EQ(run.exitCode, c.code) << run.err;
    for (size_t row = 1; row < c.sound.rows.size(); row++) {
      std::string name = "bild-" + std::to_string(row) + ".txt";
      bool whole = std::find(c.whole.begin(), c.whole.end(), row) != c.whole.end();
      EXPECT_EQ(Exists("x/Fotos/" + name), whole) << row;
      if (whole) {
        EXPECT_TRUE(Read("x/Fotos/" + name) == c.sound.data[row]) << row;
        EXPECT_TRUE(Read("out/Fotos/" + name) == c.sound.data[row]) << row;
      }
    }
  }
}

// One byte of entry 8's packed size changed: the rows behind it are reached
// past the damage by every reading command, which say what was wrong.
TEST_F(PackToolDamage, ARowBehindABadHeaderIsReached) {
  RowArchive eighteen(18);
  Write("damaged.zip", eighteen.BadPackedSize(8));
  ToolRun run = Run({"extract", "damaged.zip", "11", "-o", "eleven"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "entry 8's header claims 5903927 bytes");
  EXPECT_TRUE(Read("eleven") == eighteen.data[11]);
  run = Run({"cat", "damaged.zip", "11"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(B(run.out) == eighteen.data[11]);
  run = Run({"verify", "damaged.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "18 entries, 18 rows: 1 problem");
}

// One bit flipped in a compressed entry's packed size, so that it claims
// more or fewer bytes than its stream holds but still lies inside the file:
// the header after it is then looked for in the wrong place, and the entry
// blamed is the one whose header is wrong, not the next.
TEST_F(PackToolDamage, ABadPackedSizeBlamesItsOwnEntry) {
  RowArchive backup = LargeBackup(400);
  size_t entry = 200;
  auto packedAt = [&](size_t e) { return backup.offsets[e] + 4; };
  auto le32 = [&](size_t at) {
    return uint32_t(backup.bytes[at]) | uint32_t(backup.bytes[at + 1]) << 8 | uint32_t(backup.bytes[at + 2]) << 16 |
           uint32_t(backup.bytes[at + 3]) << 24;
  };
  while (backup.data[entry].empty() || le32(packedAt(entry)) == le32(backup.offsets[entry])) entry++;
  const uint32_t packed = le32(packedAt(entry));
  struct Case {
    const char* what;
    bool larger;  // the flipped bit was 0: the claim grows
  } cases[] = {{"larger", true}, {"smaller", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The lowest bit of the right kind above a last word's fill.
    unsigned bit = 2;
    while (((packed >> bit) & 1) == (c.larger ? 1u : 0u)) bit++;
    uint32_t claimed = packed ^ (1u << bit);
    Bytes damaged = backup.bytes;
    damaged[packedAt(entry) + bit / 8] ^= uint8_t(1u << (bit % 8));
    Write("flipped.zip", damaged);
    std::string blamed = "entry " + std::to_string(entry);
    std::string said =
        "its header claims " + std::to_string(claimed) + " bytes, but its stream ends after " + std::to_string(packed);
    std::string next = "entry " + std::to_string(entry + 1) + "'s header";
    for (std::vector<std::string> command : {std::vector<std::string>{"list", "flipped.zip"},
                                             {"verify", "flipped.zip"},
                                             {"extract", "flipped.zip", "--all", "-d", std::string("x-") + c.what},
                                             {"rescue", "flipped.zip", "-d", std::string("r-") + c.what}}) {
      SCOPED_TRACE(command[0]);
      ToolRun run = Run(command);
      EXPECT_EQ(run.exitCode, 4) << run.err;
      std::string all = run.out + run.err;
      size_t at = all.find(said);
      ASSERT_NE(at, std::string::npos) << all;
      EXPECT_EQ(all.rfind(blamed, at), all.rfind("entry ", at)) << "the entry named right before it is that entry";
      EXPECT_EQ((run.out + run.err).find(next), std::string::npos) << run.err;
    }
  }
}

TEST_F(PackToolDamage, WhatWasWrittenIsCountedAndNamed) {
  // Row 1 takes the name that row 2's entry would fall back to: row 2's goes
  // to the next free name.
  Bytes two = B("the second file");
  WriteEntries("names.zip", {StoredEntry(B(Index({"C:\\Index.txt", "C:\\entry-2.bin", "C:\\a\\..\\..\\x"}))),
                             StoredEntry(B("first")), StoredEntry(two)});
  ToolRun run = Run({"rescue", "names.zip", "-d", "out"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.err, "written as entry-2-2.bin instead");
  EXPECT_TRUE(Read("out/entry-2-2.bin") == two);
  EXPECT_EQ(S(Read("out/entry-2.bin")), "first");

  // A damaged entry written with --force is a file written.
  Bytes archive = BuildArchive({StoredEntry(B(Index({"C:\\Index.txt", "C:\\bad.txt"})))});
  AppendSpoiltEntry(archive, SampleData(5000, 3), 6, 0x10);  // its checksum field
  Write("spoilt.zip", archive);
  run = Run({"extract", "spoilt.zip", "1", "--force"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "1 file written (5000 bytes), 1 damaged");
  EXPECT_CONTAINS(run.err, "may be wrong too");

  // Of a damaged index, --all goes on past an entry too large to hold.
  Bytes index = B(Index({"C:\\Index.txt", "C:\\one.txt"}));
  Bytes stream = EncodeCompressedStream(index.data(), index.size(), EncoderMode::Balanced, true);
  stream[6] ^= 0x01;  // its checksum field
  Bytes large;
  AppendRawEntry(large, uint32_t(index.size()), uint32_t(stream.size()), stream);
  Bytes rest = BuildArchive({StoredEntry(B("one")), CompressedEntry(B("two two two two")), StoredEntry(B("three"))});
  size_t second = large.size() + 8 + 3;  // entry 2's header, after entry 1's 3 bytes
  large.insert(large.end(), rest.begin(), rest.end());
  large[second + 3] = 0x80;  // it claims 2 GiB
  Write("large.zip", large);
  run = Run({"extract", "large.zip", "--all", "-d", "big", "--json"});
  EXPECT_EQ(run.exitCode, 4) << run.err;
  JsonDocument extracted = Document(run.out);
  EXPECT_EQ(extracted["failed"][0]["row"], 2);
  EXPECT_EQ(extracted["failed"][0]["reason"], "too large to hold in memory");
  EXPECT_EQ(S(Read("big/entry-3.bin")), "three");

  // Entries that no row of a sound index names are reported, not written.
  WriteEntries("extra.zip", {StoredEntry(B(Index({"C:\\Index.txt", "C:\\a.txt"}))), StoredEntry(B("a")),
                             StoredEntry(B("stray")), StoredEntry(B("more"))});
  run = Run({"extract", "extra.zip", "--all", "-d", "extra"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "entries 2 to 3 have no row and are not extracted");
  EXPECT_EQ(Files().count("extra/entry-2.bin"), 0u);

  // A real zip file beside the backups is named for what it is.
  Bytes zip = B(std::string("PK\x03\x04\x14\x00\x00\x00\x08\x00", 10) + std::string(300, 'z'));
  Write("photos.zip", zip);
  for (const char* command : {"list", "rescue"}) {
    run = Run({command, "photos.zip", "-d", "out2"});
    if (std::string(command) == "list") run = Run({command, "photos.zip"});
    EXPECT_EQ(run.exitCode, 2) << command;
    EXPECT_CONTAINS(run.err, "is a zip archive, not a pack archive");
  }
  EXPECT_FALSE(Exists("out2"));
}

}  // namespace

namespace {

// An index that fails its checksum, with a line that is no path (a control
// byte, as garbage after a flipped bit has): that line and those after it
// name no file; their entries come out as entry-N.bin.
TEST_F(PackToolDamage, ASpoiltIndexLineThatIsNoPathNamesNoFile) {
  Bytes index = B(Index({"C:\\Index.txt", "C:\\a.txt", std::string("C:\\b\x01.txt"), "C:\\c.txt"}));
  Bytes stream = EncodeCompressedStream(index.data(), index.size(), EncoderMode::Balanced, true);
  stream[6] ^= 0x01;  // its checksum field: every byte decodes, nothing proves them
  Bytes archive;
  AppendRawEntry(archive, uint32_t(index.size()), uint32_t(stream.size()), stream);
  Bytes rest = BuildArchive({StoredEntry(B("one")), StoredEntry(B("two")), StoredEntry(B("three"))});
  archive.insert(archive.end(), rest.begin(), rest.end());
  Write("spoilt.zip", archive);

  ToolRun run = Run({"rescue", "spoilt.zip", "-d", "out"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "line 2 and those after it are no plausible paths");
  EXPECT_EQ(S(Read("out/a.txt")), "one");
  EXPECT_EQ(S(Read("out/entry-2.bin")), "two");
  EXPECT_EQ(S(Read("out/entry-3.bin")), "three");

  run = Run({"extract", "spoilt.zip", "--all", "-d", "x"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "line 2 and those after it are no plausible paths");
  EXPECT_EQ(S(Read("x/a.txt")), "one");
  EXPECT_EQ(S(Read("x/entry-2.bin")), "two");
  EXPECT_EQ(S(Read("x/entry-3.bin")), "three");
}

}  // namespace
