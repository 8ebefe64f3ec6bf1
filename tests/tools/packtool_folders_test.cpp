// A folder of backups from several dates, read in one command: find, list
// and verify over it, and what a script gets when an archive is missing.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/tools/packtool_fixture.h"

namespace {

#ifdef _WIN32
const char* const SEP = "\\";
#else
const char* const SEP = "/";
#endif

// Sicherungen/ holds four backups and a note beside them. Brief.txt changes
// twice (the second time stored: same size, other bytes), Plan.txt never,
// Alt.txt is gone after February; notes.txt is no pack archive.
class PackToolFolders : public PackToolCli {
 protected:
  void SetUp() override {
    PackToolCli::SetUp();
    fs::create_directories(base_ / "work" / "Sicherungen");
    Bytes brief1 = SampleData(3000, 1), brief2 = SampleData(3200, 2), brief3 = SampleData(3200, 3);
    Bytes plan = SampleData(5000, 4);
    struct Backup {
      const char* date;
      std::vector<std::pair<const char*, PackEntry>> files;
    };
    const Backup BACKUPS[] = {
        {"2026-01-05",
         {{"Brief.txt", CompressedEntry(brief1)},
          {"Plan.txt", CompressedEntry(plan)},
          {"Alt.txt", StoredEntry(B("alt"))}}},
        {"2026-02-05",
         {{"Alt.txt", StoredEntry(B("alt"))},
          {"Brief.txt", CompressedEntry(brief1)},
          {"Plan.txt", CompressedEntry(plan)}}},
        {"2026-03-05", {{"Brief.txt", CompressedEntry(brief2)}, {"Plan.txt", CompressedEntry(plan)}}},
        {"2026-04-05", {{"Plan.txt", CompressedEntry(plan)}, {"Brief.txt", StoredEntry(brief3)}}},
    };
    for (const Backup& backup : BACKUPS) {
      std::vector<std::string> rows{"C:\\Sicherung\\Index.txt"};
      std::vector<PackEntry> entries{{}};
      for (const auto& [name, entry] : backup.files) {
        rows.push_back(std::string("C:\\Dokumente\\") + name);
        entries.push_back(entry);
      }
      entries[0] = StoredEntry(B(Index(rows)));
      WriteEntries(std::string("Sicherungen/") + backup.date + ".zip", entries);
    }
    Write("Sicherungen/notes.txt", B("Sicherungen von Hand, jeden Monat\r\n"));
  }

  static std::string Backup(const char* date) { return std::string("Sicherungen") + SEP + date + ".zip"; }
};

TEST_F(PackToolFolders, FindShowsEachFileInEveryBackupWithItsVersions) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::vector<std::string> lines;  // of standard output
  };
  std::string brief = "  C:\\Dokumente\\Brief.txt";
  std::vector<std::string> briefLines{
      Backup("2026-01-05") + ":  row 1  3000  version 1        " + brief,
      Backup("2026-02-05") + ":  row 2  3000  version 1        " + brief,
      Backup("2026-03-05") + ":  row 1  3200  version 2 (new)  " + brief,
      Backup("2026-04-05") + ":  row 2  3200  version 3 (new)  " + brief,
  };
  const Case CASES[] = {
      {{"find", "*\\brief.TXT", "Sicherungen"}, 0, briefLines},
      {{"find", "--verify", "*brief*", "Sicherungen"}, 0, briefLines},
      // Two patterns, "--" between patterns and places; the missing archive
      // is an error once the others are searched.
      {{"find", "*Alt*", "*Plan*", "--", "Sicherungen", "fehlt.zip"},
       2,
       {Backup("2026-01-05") + ":  row 2  5000  version 1  C:\\Dokumente\\Plan.txt",
        Backup("2026-02-05") + ":  row 3  5000  version 1  C:\\Dokumente\\Plan.txt",
        Backup("2026-03-05") + ":  row 2  5000  version 1  C:\\Dokumente\\Plan.txt",
        Backup("2026-04-05") + ":  row 1  5000  version 1  C:\\Dokumente\\Plan.txt",
        Backup("2026-01-05") + ":  row 3     3  version 1  C:\\Dokumente\\Alt.txt",
        Backup("2026-02-05") + ":  row 1     3  version 1  C:\\Dokumente\\Alt.txt"}},
      // One archive named: no names in front.
      {{"find", "*Alt*", "Sicherungen/2026-02-05.zip"}, 0, {"row 1  3  version 1          C:\\Dokumente\\Alt.txt"}},
      {{"find", "*Rechnung*", "Sicherungen"}, 3, {}},
      {{"find", "*Rechnung*", "*Alt*", "--", "Sicherungen"},
       3,
       {Backup("2026-01-05") + ":  row 3  3  version 1  C:\\Dokumente\\Alt.txt",
        Backup("2026-02-05") + ":  row 1  3  version 1  C:\\Dokumente\\Alt.txt"}},
      {{"find", "-q", "*Brief*", "Sicherungen"}, 0, {}},
  };
  for (const Case& c : CASES) {
    ToolRun run = Run(c.arguments);
    std::string expected;
    for (const std::string& line : c.lines) expected += line + "\n";
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments[1] << " " << run.err;
    // Columns are padded to the widest in the output: compare without the runs of spaces.
    auto squeezed = [](std::string text) {
      std::string out;
      for (char ch : text) {
        if (ch != ' ' || out.empty() || out.back() != ' ') out += ch;
      }
      return out;
    };
    EXPECT_EQ(squeezed(run.out), squeezed(expected)) << c.arguments[1];
    bool folder = std::find(c.arguments.begin(), c.arguments.end(), "Sicherungen") != c.arguments.end();
    if (folder) {
      EXPECT_CONTAINS(run.err, "notes.txt: passed over: not a pack archive");
    }
  }
}

TEST_F(PackToolFolders, ListAndVerifyNameTheArchiveOnEveryLine) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    size_t lines;
  };
  const Case CASES[] = {
      {{"list", "Sicherungen"}, 0, 4 + 4 + 3 + 3},
      {{"list", "Sicherungen", "1"}, 0, 4},
      {{"verify", "Sicherungen"}, 0, 4 + 1},
      {{"verify", "Sicherungen/2026-01-05.zip", "fehlt.zip"}, 2, 1 + 1},
  };
  for (const Case& c : CASES) {
    ToolRun run = Run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments[0] << " " << run.err;
    std::istringstream out(run.out);
    size_t count = 0;
    for (std::string line; std::getline(out, line); count++) {
      // verify ends with its total
      if (line.rfind("total: ", 0) == 0 && c.arguments[0] == "verify") continue;
      EXPECT_EQ(line.rfind("Sicherungen", 0), 0u) << line;
    }
    EXPECT_EQ(count, c.lines) << run.out;
  }
}

TEST_F(PackToolFolders, VerifyOfAFolderEndsWithItsTotal) {
  Bytes cut = Read("Sicherungen/2026-01-05.zip");
  cut.resize(cut.size() - 7);
  Write("Sicherungen/kaputt.zip", cut);
  ToolRun run = Run({"verify", "Sicherungen", "fehlt.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(run.out.substr(run.out.rfind("total:")),
            "total: 6 archives, 4 sound, 1 with problems, 1 could not be read\n");
}

TEST_F(PackToolFolders, JsonNamesTheArchiveOfEveryRecordAndEveryFailure) {
  JsonDocument found = Document(Run({"find", "--json", "*Brief*", "Sicherungen", "fehlt.zip"}).out);
  ASSERT_EQ(found["texts"].size(), 1u);
  EXPECT_EQ(found["texts"][0]["text"], "C:\\Dokumente\\Brief.txt");
  EXPECT_EQ(found["texts"][0]["versions"], 3);
  EXPECT_EQ(found["texts"][0]["rows"][3], (JsonDocument{{"archive", Backup("2026-04-05")},
                                                        {"row", 2},
                                                        {"unpackedSize", 3200},
                                                        {"packedSize", 3200},
                                                        {"storage", "stored"},
                                                        {"version", 3},
                                                        {"newVersion", true}}));
  EXPECT_EQ(found["archives"][4]["passedOver"], "it does not start as a pack archive does");
  EXPECT_EQ(found["archives"][5]["archive"], "fehlt.zip");
  EXPECT_EQ(found["archives"][5]["exitCode"], 2);

  JsonDocument listed = Document(Run({"list", "--json", "Sicherungen", "1"}).out);
  EXPECT_EQ(listed["archives"][3]["rows"][0]["archive"], Backup("2026-04-05"));
  EXPECT_EQ(listed["archives"][3]["rows"][0]["text"], "C:\\Dokumente\\Plan.txt");

  // A missing archive, for every command that writes JSON: still a document.
  const std::vector<std::vector<std::string>> MISSING{
      {"list", "--json", "fehlt.zip"},
      {"verify", "--json", "fehlt.zip"},
      {"extract", "--json", "fehlt.zip", "1"},
      {"rescue", "--json", "fehlt.zip", "-d", "gerettet"},
  };
  for (const std::vector<std::string>& arguments : MISSING) {
    ToolRun run = Run(arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments[0];
    JsonDocument failed = Document(run.out);
    EXPECT_EQ(Keys(failed), (std::vector<std::string>{"archive", "error", "exitCode"})) << arguments[0];
    EXPECT_EQ(failed["archive"], "fehlt.zip");
    EXPECT_EQ(failed["error"], "fehlt.zip: no such file");
    EXPECT_EQ(failed["exitCode"], 2);
  }
}

}  // namespace
