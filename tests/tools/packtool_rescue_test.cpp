// packtool rescue on damaged archives made by the test encoder: what it
// reports per entry in its JSON document, and the bytes it wrote.
#include "tests/support/damaged_archives.h"
#include "tests/tools/packtool_fixture.h"

namespace {

using Sample = RescueSample;
const std::vector<std::string> ROWS = RescueSample().rows;

struct Expected {
  int entry;
  const char* state;
  const char* path;                // null: nothing written
  const char* nameFrom = "index";  // "none" where row is ""
};

// An entry of rescue's document, every field in its order.
JsonDocument EntryJson(const Expected& e, const std::string& row, uint32_t size, size_t written) {
  return {{"entry", e.entry},
          {"row", row.empty() ? JsonDocument() : JsonDocument(e.entry)},
          {"text", row.empty() ? JsonDocument() : JsonDocument(row)},
          {"nameFrom", row.empty() ? "none" : e.nameFrom},
          {"state", e.state},
          {"unpackedSize", size},
          {"written", written},
          {"path", e.path == nullptr ? JsonDocument() : JsonDocument(e.path)},
          {"zeros", JsonDocument::array()}};
}

class PackToolRescue : public PackToolCli {
 protected:
  // Rescues the archive into folder; json_ is the document it printed.
  ToolRun Rescue(const Bytes& archive, const std::string& folder = "out", const std::string& repairTime = "120") {
    Write("damaged.zip", archive);
    ToolRun run = Run({"rescue", "damaged.zip", "-d", folder, "--json", "--repair-time", repairTime});
    json_ = JsonDocument();
    json_ = Document(run.out);
    if (json_.contains("error")) return run;  // refused before it began
    EXPECT_EQ(Keys(json_), (std::vector<std::string>{"archive", "entries", "skipped", "unread"}));
    EXPECT_EQ(json_["archive"], "damaged.zip");
    EXPECT_EQ(json_["unread"], 0) << "every byte of the file reads";
    return run;
  }
  // The file exists under the folder and holds `bytes`.
  void ExpectFile(const std::string& path, const Bytes& bytes) {
    ASSERT_TRUE(Exists("out/" + path)) << path;
    EXPECT_TRUE(Read("out/" + path) == bytes) << path;
  }
  JsonDocument json_;
};

TEST_F(PackToolRescue, ASoundArchiveComesOutWhole) {
  Sample sample;
  ToolRun run = Rescue(sample.Build(true, true));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.err, "4 sound, 1 unchecked, 0 damaged, 0 partial, 0 lost");
  EXPECT_EQ(json_["skipped"], JsonDocument::array());
  ExpectFile("entry-0.bin", sample.index);
  ExpectFile("Daten/brief.txt", sample.data[0]);
  ExpectFile("Bilder/bild.bmp", sample.data[2]);
  ExpectFile("notiz.txt", sample.data[3]);
}

TEST_F(PackToolRescue, ADamagedIndexStillNamesWhatItDecodedWhole) {
  Sample sample;
  // Checksum field spoilt, no repair tried: every byte decoded, every row trusted.
  Bytes archive = sample.Build(true, false);
  archive[sample.offsets[0] + 8 + 6] ^= 0x01;
  ToolRun run = Rescue(archive, "out", "0");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(json_["entries"][0],
            EntryJson({0, "damaged", "entry-0.bin"}, ROWS[0], uint32_t(sample.index.size()), sample.index.size()));
  EXPECT_EQ(json_["entries"][2], EntryJson({2, "sound", "Daten/tabelle.csv"}, ROWS[2], 3000, 3000));
  ExpectFile("Daten/tabelle.csv", sample.data[1]);

  // Its stream cut off mid-way (the header says so): the rows decoded whole
  // name their entries, the others are entry-N.bin.
  Bytes index = sample.index;
  Bytes cut = sample.BuildWithIndexCut();
  run = Rescue(cut, "out2");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(json_["entries"][0]["text"], "C:\\Index.txt");
  EXPECT_EQ(json_["entries"][0]["state"], "partial");
  EXPECT_EQ(json_["entries"][1], EntryJson({1, "unchecked", "Daten/brief.txt"}, ROWS[1], uint32_t(sample.data[0].size()),
                                           sample.data[0].size()));
  EXPECT_EQ(json_["entries"][3], EntryJson({3, "sound", "entry-3.bin"}, "", 5000, 5000));
  EXPECT_TRUE(Read("out2/entry-3.bin") == sample.data[2]);
  Bytes first = Read("out2/entry-0.bin");
  EXPECT_TRUE(first == Bytes(index.begin(), index.begin() + long(first.size())));
}

// One flipped bit in the index and one in an entry: both repaired, the
// index first so that every row names its file, each told with its place.
TEST_F(PackToolRescue, OneFlippedBitIsRepaired) {
  Sample sample;
  Bytes archive = sample.Build(true, false);
  size_t index = sample.offsets[0] + 8 + 6, entry = sample.offsets[2] + 8 + 40;
  archive[index] ^= 0x04;  // the index's checksum field
  archive[entry] ^= 0x01;  // entry 2's bits
  ToolRun run = Rescue(archive);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.err, "1 sound, 2 unchecked, 0 damaged, 0 partial, 0 lost, 2 repaired");
  EXPECT_CONTAINS(run.err, "entry 0 (the index): repaired: one flipped bit at archive byte " + std::to_string(index) +
                               ", bit 2 (in the stream's checksum field); proven by the checksum");
  EXPECT_CONTAINS(run.err, "repaired: one flipped bit at archive byte " + std::to_string(entry) + ", bit 0;");
  EXPECT_EQ(json_["entries"][2]["state"], "repaired");
  EXPECT_EQ(json_["entries"][2]["repair"]["outcome"], "repaired");
  EXPECT_EQ(json_["entries"][2]["repair"]["places"][0]["archiveByte"], entry);
  EXPECT_EQ(json_["entries"][0]["repair"]["places"][0]["field"], "checksum");
  ExpectFile("Daten/tabelle.csv", sample.data[1]);
  ExpectFile("Bilder/bild.bmp", sample.data[2]);
  Bytes report = Read("out/rescue-report.txt");
  EXPECT_CONTAINS(std::string(report.begin(), report.end()),
                  "Daten/tabelle.csv: entry 2 (\"C:\\Daten\\tabelle.csv\"): repaired");
  // verify says what rescue would do, and writes nothing.
  run = Run({"verify", "damaged.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "one flipped bit at archive byte " + std::to_string(entry) + ", bit 0;");
  EXPECT_CONTAINS(run.out, "packtool rescue repairs it");
  // Past the time allowed: not tried, and said so.
  run = Rescue(archive, "out2", "0.000001");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "repair not tried: the time for repairs (--repair-time) was spent");
  EXPECT_EQ(json_["entries"][2]["repair"]["outcome"], "not tried");
}

TEST_F(PackToolRescue, ACorruptedHeaderInTheMiddleIsPassedAndItsDataTaken) {
  Sample sample;
  Bytes archive = sample.Build(false, false);
  size_t header = sample.offsets[2];
  archive[header + 7] = 0x7F;  // its packed size now runs far past the end
  ToolRun run = Rescue(archive);
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(json_["skipped"][0], (JsonDocument{{"offset", header}, {"length", sample.offsets[3] - header}}));
  // The stream in the range decodes whole to its own size and its checksum
  // holds: the entry is sound, only its header was wrong.
  EXPECT_EQ(json_["entries"][2]["entry"], 2);
  EXPECT_EQ(json_["entries"][2]["text"], "C:\\Daten\\tabelle.csv");
  EXPECT_EQ(json_["entries"][2]["state"], "sound");
  EXPECT_CONTAINS(run.err, "sound, its header was wrong");
  ExpectFile("Daten/tabelle.csv", sample.data[1]);
  // The entries after it keep their numbers.
  EXPECT_EQ(json_["entries"][3], EntryJson({3, "sound", "Bilder/bild.bmp", "position"}, ROWS[3], 5000, 5000));
  ExpectFile("notiz.txt", sample.data[3]);
}

TEST_F(PackToolRescue, AnArchiveCutShortGivesWhatIsThere) {
  Sample sample;
  // Inside a stored last entry: the bytes that are there.
  Bytes archive = sample.Build(false, false);
  archive.resize(archive.size() - 4);
  ToolRun run = Rescue(archive);
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(json_["entries"][4], EntryJson({4, "partial", "notiz.txt"}, ROWS[4], 10, 6));
  ExpectFile("notiz.txt", B("eine N"));

  // Inside a compressed entry: the bytes decoded before the cut, a prefix.
  archive = sample.Build(false, false);
  archive.resize(sample.offsets[3] + 8 + 600);
  run = Rescue(archive, "out2");
  EXPECT_EQ(run.exitCode, 4);
  Bytes partial = Read("out2/Bilder/bild.bmp");
  EXPECT_GT(partial.size(), 0u);
  EXPECT_LT(partial.size(), sample.data[2].size());
  EXPECT_TRUE(partial == Bytes(sample.data[2].begin(), sample.data[2].begin() + long(partial.size())));
  EXPECT_EQ(json_["entries"][3], EntryJson({3, "partial", "Bilder/bild.bmp"}, ROWS[3], 5000, partial.size()));
}

TEST_F(PackToolRescue, AHostileClaimCostsWhatItsBytesGive) {
  // 26 bytes whose index claims 2 GiB - 1: a stream of a few literals.
  Bytes archive = HostileClaimArchive(0x7FFFFFFF);
  ASSERT_EQ(archive.size(), 26u);
  ToolRun run = Rescue(archive, "out", "0");
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(json_["entries"][0], EntryJson({0, "partial", "entry-0.bin"}, "a", 0x7FFFFFFF, 4));
  ExpectFile("entry-0.bin", B("a\nb\n"));
  // list reads the index through the reader, which holds an entry whole: a
  // 64-bit process holds the claim as untouched pages, a 32-bit one cannot.
  run = Run({"list", "--raw", "damaged.zip"});
#ifdef _WIN32
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_CONTAINS(run.err, "too large");
#else
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(run.out, "a\nb\n");
#endif
}

TEST_F(PackToolRescue, NothingThereIsEverReplaced) {
  Sample sample;
  fs::create_directories(base_ / "work" / "out");
  Write("out/keep.txt", B("mine"));
  ToolRun run = Rescue(sample.Build(false, false));
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_CONTAINS(run.err, "holds files already");
  // With --force it writes beside what is there; a file in its way is kept
  // and the entry written as entry-N.bin.
  Write("out/notiz.txt", B("my own notes"));
  run = Run({"rescue", "damaged.zip", "-d", "out", "--force"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.err, "written as entry-4.bin instead");
  ExpectFile("entry-4.bin", sample.data[3]);
  EXPECT_TRUE(Read("out/notiz.txt") == B("my own notes"));
  EXPECT_TRUE(Read("out/keep.txt") == B("mine"));
  ExpectFile("Daten/brief.txt", sample.data[0]);
}

#ifndef _WIN32
// A rerun with --force into the folder of a rescue that was stopped part
// way (its later batches never placed) finishes the job: a file the first
// run placed that holds exactly its entry's bytes is kept as the entry's,
// not written again as entry-N.bin beside itself.
TEST_F(PackToolRescue, ARerunAfterAnInterruptedRescueFinishesTheJob) {
  RowArchive archive(2000, {}, 500);
  Write("many.zip", archive.bytes);
  ToolRun run = Run({"rescue", "many.zip", "-d", "out"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (size_t row = 800; row < archive.rows.size(); row++) {
    fs::remove(Path("out/Fotos/bild-" + std::to_string(row) + ".txt"));
  }
  run = Run({"rescue", "many.zip", "-d", "out", "--force", "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.err, "800 files already there with the same bytes kept");
  JsonDocument json = Document(run.out);
  size_t written = 0;
  for (const JsonDocument& entry : json["entries"]) {
    int number = entry["entry"].get<int>();
    std::string expected = number == 0 ? "entry-0.bin" : "Fotos/bild-" + std::to_string(number) + ".txt";
    EXPECT_EQ(entry["path"], expected);
    written += entry["written"] == archive.data[size_t(number)].size();
  }
  EXPECT_EQ(written, archive.rows.size());
  for (size_t row = 1; row < archive.rows.size(); row += 97) {
    EXPECT_TRUE(Read("out/Fotos/bild-" + std::to_string(row) + ".txt") == archive.data[row]) << row;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 2)
      << "entry-0.bin and Fotos only";
}

TEST_F(PackToolRescue, PathsThatAreNotUtf8StillGiveADocument) {
  // The shell hands over bytes as they are; the document has U+FFFD for a
  // byte that is not UTF-8.
  Write("\xFF.zip", Sample().Build(true, true));
  struct Case {
    std::vector<std::string> arguments;
    const char* field;
    std::string value;
  } cases[] = {
      {{"rescue", "\xFF.zip", "-d", "out", "--json"}, "/archive", "\xEF\xBF\xBD.zip"},
      {{"extract", "\xFF.zip", "1", "-d", "\xFE", "--json"}, "/written/0/target", "\xEF\xBF\xBD/Daten/brief.txt"},
  };
  for (const Case& c : cases) {
    ToolRun run = Run(c.arguments);
    EXPECT_EQ(run.exitCode, 0) << c.field << ": " << run.err;
    EXPECT_EQ(Document(run.out)[JsonDocument::json_pointer(c.field)], c.value);
  }
}
#endif

}  // namespace
