// packtool with another backup of the same files: --names-from proves the
// names past damage that the archive's own counts leave as guesses, the
// reports say where each came from, and a stored entry says whether the
// other backup holds it the same. Bytes after a whole backup: zeros are no
// damage, anything else a warning that says what it is.
#include <algorithm>

#include "tests/tools/packtool_fixture.h"

namespace {

class PackToolNamesFrom : public PackToolCli {};

std::string RowFile(size_t row) {
  return "Fotos/bild-" + std::to_string(row) + ".txt";
}

TEST_F(PackToolNamesFrom, TheMonthBeforeNamesTheFilesBetweenTwoDamagedRegions) {
  RowArchive backup(18);
  std::vector<std::pair<size_t, size_t>> spans{{backup.offsets[4], 16}, {backup.offsets[13], 16}};
  Write("damaged.zip", backup.Zeroed(spans));
  Write("month.zip", MonthBefore(backup));
  std::vector<bool> touched = backup.Touched(spans);
  struct Case {
    const char* what;
    std::vector<std::string> words;
    const char* list;  // where the files are said
  } cases[] = {
      {"rescue", {"rescue", "damaged.zip", "-d", "out", "--json", "--repair-time", "0"}, "entries"},
      {"extract", {"extract", "damaged.zip", "--all", "-d", "out", "--json"}, "written"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code ignored;
    fs::remove_all(base_ / "work" / "out", ignored);
    ToolRun alone = Run(c.words);
    EXPECT_CONTAINS(alone.err, "--names-from");
    fs::remove_all(base_ / "work" / "out", ignored);
    std::vector<std::string> words = c.words;
    words.insert(words.end(), {"--names-from", "month.zip"});
    ToolRun run = Run(words);
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_EQ(run.err.find("--names-from"), std::string::npos) << run.err;
    for (size_t row = 1; row < backup.rows.size(); row++) {
      if (touched[row]) continue;
      EXPECT_TRUE(Exists("out/" + RowFile(row)) && Read("out/" + RowFile(row)) == backup.data[row]) << row;
    }
    EXPECT_FALSE(Exists("out/names-unproven/" + RowFile(8)));
    size_t named = 0;
    JsonDocument said = Document(run.out);
    for (const JsonDocument& item : said[c.list]) {
      if (item["nameFrom"] != "other backup") continue;
      named++;
      // Row 7 holds other bytes in the month before, and row 11 was not
      // there yet: named by their places, as the damaged entries are.
      std::string from = item["namedFrom"].get<std::string>();
      size_t row = item["row"].get<size_t>();
      if (row == 7 || row == 11 || touched[row]) {
        EXPECT_CONTAINS(from, "by its place");
      } else {
        EXPECT_CONTAINS(from, "named from month.zip, row ");
      }
    }
    EXPECT_GE(named, 8u);
  }
}

TEST_F(PackToolNamesFrom, ASpoiltIndexTakesItsNamesFromTheOtherBackup) {
  RowArchive backup(18, {}, 20000, true);
  Write("spoilt.zip", SpoiltIndex(backup).bytes);
  Write("month.zip", MonthBefore(backup));
  for (const char* command : {"rescue", "extract"}) {
    SCOPED_TRACE(command);
    std::error_code ignored;
    fs::remove_all(base_ / "work" / "out", ignored);
    std::vector<std::string> words{command, "spoilt.zip", "-d", "out", "--names-from", "month.zip"};
    words.push_back(std::string(command) == "rescue" ? "--repair-time=0" : "--all");
    ToolRun run = Run(words);
    EXPECT_EQ(run.exitCode, 4) << run.err;
    size_t right = 0;
    for (size_t row = 1; row < backup.rows.size(); row++) {
      right += Exists("out/" + RowFile(row)) && Read("out/" + RowFile(row)) == backup.data[row] ? 1 : 0;
    }
    // Row 11 is not in the month before and row 7 is changed there: the
    // rows around 11 count differently, so it may stay unnamed.
    EXPECT_GE(right, 16u) << run.err;
  }
}

TEST_F(PackToolNamesFrom, AStoredEntryIsTheSameAsInTheOtherBackupOrNot) {
  RowArchive backup(18);
  Bytes damaged = backup.ZeroedBlock(10);
  damaged[backup.offsets[6] + 8 + 100] ^= 0x01;  // a stored entry changed: nothing in it proves it
  Write("damaged.zip", damaged);
  Write("month.zip", MonthBefore(backup));
  ToolRun run = Run({"rescue", "damaged.zip", "-d", "out", "--json", "--names-from", "month.zip"});
  JsonDocument said = Document(run.out);
  std::map<size_t, std::string> other;
  for (const JsonDocument& entry : said["entries"]) {
    if (entry.contains("other")) other[entry["entry"].get<size_t>()] = entry["other"];
  }
  EXPECT_CONTAINS(other[3], "the same as in month.zip");
  EXPECT_CONTAINS(other[6], "changed since, or damaged");
  EXPECT_CONTAINS(S(Read("out/rescue-report.txt")), "the same as in month.zip");
}

TEST_F(PackToolNamesFrom, BytesAfterAWholeBackupAreSaidForWhatTheyAre) {
  RowArchive backup(8);
  Bytes stray{0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x81, 0x82};  // a header claiming more
  struct Case {
    const char* what;
    Bytes trailing;
    const char* says;
  } cases[] = {
      {"zeros to a block", Bytes(512 - backup.bytes.size() % 512, 0), "pad the file to a block: no damage"},
      {"text", B("angehängt\r\n"), "warning: 12 bytes after the entry of the last row hold no entry: text"},
      {"bytes of no known kind", stray, "bytes of no known kind, appended (01 00 00 00 FF FF 00 00 ...)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes archive = backup.bytes;
    archive.insert(archive.end(), c.trailing.begin(), c.trailing.end());
    Write("padded.zip", archive);
    ToolRun run = Run({"verify", "padded.zip"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_CONTAINS(run.err, c.says);
    std::error_code ignored;
    fs::remove_all(base_ / "work" / "x", ignored);
    fs::remove_all(base_ / "work" / "out", ignored);
    EXPECT_EQ(Run({"extract", "padded.zip", "--all", "-d", "x"}).exitCode, 0);
    run = Run({"rescue", "padded.zip", "-d", "out"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_CONTAINS(run.err, "0 damaged, 0 partial, 0 lost");
    for (size_t row = 1; row < backup.rows.size(); row++) {
      EXPECT_TRUE(Read("x/" + RowFile(row)) == backup.data[row]) << row;
    }
  }
}

#ifndef _WIN32
// A row whose whole path is longer than the system's PATH_MAX (4096 on
// Linux) is written all the same: each folder is made and opened below the
// one before, so that no call names the whole path.
TEST_F(PackToolNamesFrom, AWholePathLongerThanTheSystemTakesIsWritten) {
  std::string row = "C:";
  for (int part = 0; part < 25; part++) row += "\\Ordner-" + std::to_string(part) + "-" + std::string(190, 'x');
  row += "\\Datei.txt";
  Bytes index = B(Index({"C:\\Index.txt", row, "C:\\kurz.txt"}));
  Write("long.zip", BuildArchive({StoredEntry(index), StoredEntry(B("eins")), StoredEntry(B("zwei"))}));
  std::string path = row.substr(3);
  std::replace(path.begin(), path.end(), '\\', '/');
  ASSERT_GT(path.size(), 4096u);
  // (A path that long is no path std::filesystem can open: the reports say.)
  ToolRun run = Run({"extract", "long.zip", "--all", "-d", "x", "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  JsonDocument extracted = Document(run.out);
  ASSERT_EQ(extracted["written"].size(), 3u);  // the index's row too
  EXPECT_EQ(extracted["written"][1]["size"], 4);
  run = Run({"rescue", "long.zip", "-d", "out", "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  JsonDocument rescued = Document(run.out);
  EXPECT_EQ(rescued["entries"][1]["written"], 4);
  EXPECT_EQ(rescued["entries"][1]["path"].get<std::string>().size(), path.size());
}
#else
// On Windows the calls take a whole path of MAX_PATH - 1 letters: a row whose
// path would be longer below the folder has its longest names shortened so
// that it fits, and the file is written there.
TEST_F(PackToolNamesFrom, AWholePathLongerThanWindowsTakesIsShortenedToFit) {
  std::string row = "C:";
  for (int part = 0; part < 4; part++) row += "\\Ordner-" + std::to_string(part) + "-" + std::string(80, 'x');
  row += "\\Datei.txt";
  Bytes index = B(Index({"C:\\Index.txt", row, "C:\\kurz.txt"}));
  Write("long.zip", BuildArchive({StoredEntry(index), StoredEntry(B("eins")), StoredEntry(B("zwei"))}));
  ASSERT_GT(row.size(), 300u);
  ToolRun run = Run({"extract", "long.zip", "--all", "-d", "x", "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  JsonDocument extracted = Document(run.out);
  ASSERT_EQ(extracted["written"].size(), 3u);
  EXPECT_EQ(extracted["written"][1]["size"], 4);
  std::string target = extracted["written"][1]["target"].get<std::string>();
  EXPECT_TRUE(target.ends_with(".txt")) << target;
  EXPECT_LT(Path(target).size(), 260u) << target;
  EXPECT_TRUE(Read(target) == B("eins")) << target;
}
#endif

}  // namespace
