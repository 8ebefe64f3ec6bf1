// What did I lose? A backup held against the folder it was made of, the
// restore of only what is missing, and two monthly backups compared.
#include <string>
#include <vector>

#include "tests/tools/packtool_fixture.h"
#include "tools/rows/backup_part.h"

namespace {

#ifdef _WIN32
const char* const SEP = "\\";
const char* const MUELLER = "M\xFCller";  // a file name in the ANSI code page
#else
const char* const SEP = "/";
const char* const MUELLER = "M\xC3\xBCller";
#endif

std::vector<std::string> Texts(const JsonDocument& rows) {
  std::vector<std::string> texts;
  for (const JsonDocument& row : rows)
    texts.push_back(row.is_string() ? row.get<std::string>() : row["text"].get<std::string>());
  return texts;
}

// The backup of C:\Daten a month ago, and the folder Daten as it is now:
// Bank.doc changed in one byte (same size), Plan.txt grew, Urlaub.jpg and the
// folder Alt were deleted, Neu.txt is new.
class PackToolCompare : public PackToolCli {
 protected:
  void SetUp() override {
    PackToolCli::SetUp();
    bank_ = SampleData(6000, 1);
    plan_ = SampleData(2000, 2);
    photo_ = SampleData(9000, 3);
    old_ = B("alte Notiz\r\n");
    letter_ = SampleData(3000, 4);
    std::vector<std::string> rows{
        "C:\\Sicherung\\Index.txt", "C:\\Daten\\Briefe\\Bank.doc",   "C:\\Daten\\Briefe\\Brief an Müller.txt",
        "C:\\Daten\\Plan.txt",      "C:\\Daten\\Bilder\\Urlaub.jpg", "C:\\Daten\\Alt\\Notiz.txt",
        "C:\\Windows\\win.ini"};
    for (std::string& row : rows) row = Latin1(row);
    WriteEntries("backup.zip", {StoredEntry(B(Index(rows))), CompressedEntry(bank_), CompressedEntry(letter_),
                                StoredEntry(plan_), CompressedEntry(photo_), StoredEntry(old_), StoredEntry(B("[x]"))});
    fs::create_directories(base_ / "work" / "Daten" / "Briefe");
    Bytes bank = bank_;
    bank[3000] ^= 1;
    Write("Daten/Briefe/Bank.doc", bank);
    // Not through a path object, which may take the name for UTF-8.
    ASSERT_TRUE(WriteFileBytes(Path("Daten") + SEP + "Briefe" + SEP + "Brief an " + MUELLER + ".txt", letter_));
    Bytes plan = plan_;
    plan.push_back('!');
    Write("Daten/Plan.txt", plan);
    Write("Daten/Neu.txt", B("neu"));
  }

  // The UTF-8 source's "ü" as the index holds it (Windows-1252).
  static std::string Latin1(const std::string& utf8) {
    std::string text;
    for (size_t i = 0; i < utf8.size(); i++) {
      if (static_cast<unsigned char>(utf8[i]) == 0xC3) {
        text += static_cast<char>(static_cast<unsigned char>(utf8[++i]) + 0x40);
      } else {
        text += utf8[i];
      }
    }
    return text;
  }

  Bytes bank_, plan_, photo_, old_, letter_;
};

TEST_F(PackToolCompare, SaysWhatIsMissingAndChangedThenRestoresOnlyWhatIsMissing) {
  // The folder by a path of its own: its last name finds C:\Daten.
  ToolRun compared = Run({"compare", "backup.zip", Path("Daten"), "--json"});
  ASSERT_EQ(compared.exitCode, 8) << compared.err;
  JsonDocument report = Document(compared.out);
  EXPECT_EQ(report["part"], "C:\\Daten");
  EXPECT_EQ(report["same"], 1);
  EXPECT_EQ(Texts(report["missing"]),
            (std::vector<std::string>{"C:\\Daten\\Bilder\\Urlaub.jpg", "C:\\Daten\\Alt\\Notiz.txt"}));
  EXPECT_EQ(Texts(report["changed"]), (std::vector<std::string>{"C:\\Daten\\Briefe\\Bank.doc", "C:\\Daten\\Plan.txt"}));
  EXPECT_EQ(report["changed"][0]["reason"], "other bytes");
  EXPECT_EQ(Texts(report["onlyInFolder"]), (std::vector<std::string>{"Neu.txt"}));
  EXPECT_EQ(report["exitCode"], 8);

  // The same answer by content keys, and on one thread.
  for (const char* how : {"--quick", "-j1"}) {
    ToolRun again = Run({"compare", "backup.zip", "Daten", "--json", how});
    EXPECT_EQ(again.exitCode, 8) << how << again.err;
    JsonDocument other = Document(again.out);
    for (const char* key : {"same", "missing", "changed", "onlyInFolder"}) {
      EXPECT_EQ(Texts(other[key].is_number() ? JsonDocument::array() : other[key]),
                Texts(report[key].is_number() ? JsonDocument::array() : report[key]))
          << how << " " << key;
    }
    EXPECT_EQ(other["same"], report["same"]) << how;
  }

  // The text groups and counts them.
  ToolRun text = Run({"compare", "backup.zip", "Daten"});
  EXPECT_CONTAINS(text.out, "missing in the folder (2):\n  C:\\Daten\\Bilder\\Urlaub.jpg\n");
  EXPECT_CONTAINS(text.out, "changed (2):\n");
  EXPECT_CONTAINS(text.out, std::string("only in the folder (1):\n  Neu.txt\n"));
  EXPECT_CONTAINS(text.out, "1 same, 2 changed, 2 missing, 1 only in the folder\n");

  // Only what is missing comes back, into its place; the changed files stay.
  ToolRun restored = Run({"extract", "backup.zip", "--missing-in", "Daten"});
  EXPECT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_EQ(Read("Daten/Bilder/Urlaub.jpg"), photo_);
  EXPECT_EQ(Read("Daten/Alt/Notiz.txt"), old_);
  EXPECT_NE(Read("Daten/Plan.txt"), plan_);
  EXPECT_FALSE(Exists("Daten/Windows/win.ini"));
  EXPECT_FALSE(Exists("Daten/Daten"));

  // The changed ones are not replaced without --force, and then they are.
  ToolRun refused = Run({"extract", "backup.zip", "--missing-in", "Daten", "--changed"});
  EXPECT_EQ(refused.exitCode, 5) << refused.err;
  EXPECT_CONTAINS(refused.err, "exists (--force replaces it");
  EXPECT_NE(Read("Daten/Plan.txt"), plan_);
  ToolRun forced = Run({"extract", "backup.zip", "--missing-in", "Daten", "--changed", "--force", "--json"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(Document(forced.out)["written"].size(), 2u);
  EXPECT_EQ(Read("Daten/Briefe/Bank.doc"), bank_);
  EXPECT_EQ(Read("Daten/Plan.txt"), plan_);

  // Now only the new file differs; without it all is the same.
  ToolRun after = Run({"compare", "backup.zip", "Daten", "--json"});
  EXPECT_EQ(after.exitCode, 8);
  EXPECT_EQ(Document(after.out)["same"], 5);
  fs::remove(base_ / "work" / "Daten" / "Neu.txt");
  EXPECT_EQ(Run({"compare", "backup.zip", "Daten", "-q"}).exitCode, 0);
  ToolRun nothing = Run({"extract", "backup.zip", "--missing-in", "Daten"});
  EXPECT_EQ(nothing.exitCode, 0) << nothing.err;
  EXPECT_CONTAINS(nothing.err, "nothing of \"C:\\Daten\" is missing");
}

// The folder as this system writes paths (on Windows: a drive and
// backslashes, "packtool.exe compare backup.zip C:\Daten\Briefe").
TEST_F(PackToolCompare, TheFolderIsTypedAsTheSystemWritesPaths) {
  const std::string FOLDERS[] = {Path("Daten") + SEP + "Briefe", std::string("Daten") + SEP + "Briefe" + SEP,
                                 std::string(".") + SEP + "Daten" + SEP + "Briefe"};
  for (const std::string& folder : FOLDERS) {
    ToolRun run = Run({"compare", "backup.zip", folder, "--json"});
    EXPECT_EQ(run.exitCode, 8) << folder << run.err;
    JsonDocument report = Document(run.out);
    EXPECT_EQ(report["part"], "C:\\Daten\\Briefe") << folder;
    EXPECT_EQ(report["same"], 1) << folder;
    EXPECT_EQ(Texts(report["changed"]), (std::vector<std::string>{"C:\\Daten\\Briefe\\Bank.doc"})) << folder;
  }
  ToolRun restored = Run({"extract", "backup.zip", "--missing-in", Path("Daten") + SEP + "Bilder"});
  EXPECT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_EQ(Read("Daten/Bilder/Urlaub.jpg"), photo_);
}

TEST_F(PackToolCompare, AFolderThatIsGoneIsRestoredWhole) {
  ToolRun compared = Run({"compare", "backup.zip", "--as", "C:\\Daten\\Briefe", "Verloren", "--json"});
  EXPECT_EQ(compared.exitCode, 8) << compared.err;
  EXPECT_EQ(Document(compared.out)["missing"].size(), 2u);
  ToolRun restored = Run({"extract", "backup.zip", "--missing-in", "Verloren", "--as", "C:/Daten/Briefe"});
  EXPECT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_EQ(Read("Verloren/Bank.doc"), bank_);
  EXPECT_EQ(Files().count("Verloren/Plan.txt"), 0u);
}

TEST_F(PackToolCompare, ARestoreOfTheWholeBackupIsTheSame) {
  ASSERT_EQ(Run({"extract", "backup.zip", "--all", "-d", "Wieder"}).exitCode, 0);
  ToolRun compared = Run({"compare", "backup.zip", "Wieder"});
  EXPECT_EQ(compared.exitCode, 0) << compared.out << compared.err;
  EXPECT_CONTAINS(compared.out, "\"\\\" against the folder");
  EXPECT_CONTAINS(compared.out, "7 same, 0 changed, 0 missing, 0 only in the folder\n");
}

TEST_F(PackToolCompare, APartThatIsNotClearIsLeftToTheUser) {
  WriteEntries("two.zip", {StoredEntry(B(Index({"Index.txt", "C:\\Daten\\a.txt", "D:\\Daten\\a.txt"}))),
                           StoredEntry(B("a")), StoredEntry(B("a"))});
  ToolRun unclear = Run({"compare", "two.zip", "Daten"});
  EXPECT_EQ(unclear.exitCode, 1);
  EXPECT_CONTAINS(unclear.err, "could stand for \"C:\\Daten\", \"D:\\Daten\"");
  EXPECT_CONTAINS(unclear.err, "--as");
  EXPECT_EQ(Run({"compare", "two.zip", "Daten", "--as", "D:\\Daten", "-q"}).exitCode, 8);
  ToolRun nowhere = Run({"compare", "two.zip", "Daten", "--as", "E:\\Daten"});
  EXPECT_EQ(nowhere.exitCode, 3);
  EXPECT_CONTAINS(nowhere.err, "no row of");
}

TEST_F(PackToolCompare, ADamagedEntryIsSaidAndTheRestCompared) {
  Bytes archive = BuildArchive(
      {StoredEntry(B(Index({"Index.txt", "C:\\Daten\\gut.txt", "C:\\Daten\\kaputt.txt"}))), StoredEntry(B("gut"))});
  Bytes bad = SampleData(5000, 9);
  AppendSpoiltEntry(archive, bad, 20, 0x10);
  Write("damaged.zip", archive);
  Write("Daten/gut.txt", B("gut"));
  Write("Daten/kaputt.txt", bad);
  ToolRun compared = Run({"compare", "damaged.zip", "Daten", "--json"});
  EXPECT_EQ(compared.exitCode, 4) << compared.err;
  JsonDocument report = Document(compared.out);
  EXPECT_EQ(report["same"], 1);
  EXPECT_EQ(Texts(report["damaged"]), (std::vector<std::string>{"C:\\Daten\\kaputt.txt"}));
}

// Two monthly backups: Brief.txt changed, Alt.txt removed, Neu.txt added,
// Plan.txt the same (stored in one, compressed in the other).
TEST_F(PackToolCli, TwoMonthlyBackupsAreCompared) {
  Bytes plan = SampleData(4000, 5);
  WriteEntries(
      "2026-01.zip",
      {StoredEntry(B(Index({"Index.txt", "C:\\Daten\\Brief.txt", "C:\\Daten\\Plan.txt", "C:\\Daten\\Alt.txt"}))),
       CompressedEntry(SampleData(3000, 1)), StoredEntry(plan), StoredEntry(B("alt"))});
  WriteEntries(
      "2026-02.zip",
      {StoredEntry(B(Index({"Index.txt", "C:\\Daten\\plan.txt", "C:\\Daten\\Brief.txt", "C:\\Daten\\Neu.txt"}))),
       CompressedEntry(plan), CompressedEntry(SampleData(3000, 2)), StoredEntry(B("neu"))});
  for (bool verify : {false, true}) {
    std::vector<std::string> words{"compare", "2026-01.zip", "2026-02.zip", "--json"};
    if (verify) words.push_back("--verify");
    ToolRun run = Run(words);
    EXPECT_EQ(run.exitCode, 8) << run.err;
    JsonDocument report = Document(run.out);
    EXPECT_EQ(Texts(report["added"]), (std::vector<std::string>{"C:\\Daten\\Neu.txt"}));
    EXPECT_EQ(Texts(report["removed"]), (std::vector<std::string>{"C:\\Daten\\Alt.txt"}));
    EXPECT_EQ(Texts(report["changed"]), (std::vector<std::string>{"C:\\Daten\\Brief.txt"}));
    EXPECT_EQ(report["same"], 1);  // Plan.txt; the index, row 0, is left out
  }
  ToolRun text = Run({"compare", "2026-01.zip", "2026-02.zip"});
  EXPECT_CONTAINS(text.out, "added (1):\n  C:\\Daten\\Neu.txt\n");
  EXPECT_CONTAINS(text.out, "1 added, 1 removed, 1 changed, 1 same\n");
  EXPECT_EQ(Run({"compare", "2026-01.zip", "2026-01.zip", "-q"}).exitCode, 0);
}

// The folder's own names (its full path) against the rows' folders.
TEST(BackupPart, AFolderStandsForTheLongestRunOfItsNames) {
  const std::vector<std::string> ROWS = {"C:\\Daten\\Briefe\\a.txt", "C:\\Daten\\Bilder\\b.jpg",
                                         "C:\\Alt\\Daten\\c.txt", "D:\\Sicherung\\Index.txt", "frei.txt"};
  struct Case {
    std::vector<std::string> folder;
    std::vector<std::string> parts;  // as text; none: the whole backup
  } const CASES[] = {
      {{"home", "anna", "Daten"}, {"C:\\Daten"}},
      {{"C:", "Daten"}, {"C:\\Daten"}},
      {{"mnt", "alt", "daten", "briefe"}, {"C:\\Daten\\Briefe"}},
      {{"Alt", "Daten"}, {"C:\\Alt\\Daten"}},
      {{"Daten"}, {"C:\\Daten"}},  // nearer the root than C:\Alt\Daten
      {{"tmp", "wieder"}, {}},
      {{"Z:", "Sicherung"}, {"D:\\Sicherung"}},
      {{"x", "frei.txt"}, {}},  // a file name is no folder
      {{"a", "Bilder"}, {"C:\\Daten\\Bilder"}},
  };
  for (const Case& c : CASES) {
    std::vector<std::string> found;
    for (const BackupPart& part : PartsForFolder(c.folder, ROWS)) found.push_back(BackupPartText(part));
    EXPECT_EQ(found, c.parts) << c.folder.back();
  }
  // "Daten" alone ends two runs of the same length.
  EXPECT_EQ(PartsForFolder({"Daten"}, {"C:\\Daten\\a", "D:\\Daten\\a"}).size(), 2u);
}

TEST(BackupPart, RowsBelowAPartLeaveItsFoldersOut) {
  struct Case {
    const char* part;
    const char* row;
    size_t below;
  } const CASES[] = {
      {"C:\\Daten", "C:\\Daten\\Briefe\\a.txt", 1},
      {"c:/daten/", "C:\\Daten\\a.txt", 1},
      {"Daten", "C:\\Daten\\a.txt", 1},  // no drive: below any
      {"Daten\\Briefe", "D:\\Daten\\Briefe\\x\\a.txt", 2},
      {"C:\\Daten", "D:\\Daten\\a.txt", NOT_BELOW},
      {"C:\\Daten", "C:\\Daten", NOT_BELOW},  // the part itself is no row below it
      {"C:\\Daten", "C:\\Datenbank\\a.txt", NOT_BELOW},
      {"\\", "C:\\Daten\\a.txt", 0},
      {"C:", "C:\\a.txt", 0},
  };
  for (const Case& c : CASES) {
    BackupPart part{RowNames(c.part)};
    EXPECT_EQ(FoldersBelowPart(part, c.row), c.below) << c.part << " " << c.row;
  }
  EXPECT_EQ(FullPathNames("/home/anna/./x/../Daten/"), (std::vector<std::string>{"home", "anna", "Daten"}));
}

}  // namespace
