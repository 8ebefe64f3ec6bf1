// One habit across the commands: a name, a folder's name and a path as the
// disk or the mount shows it choose the same rows wherever rows are chosen.
#include <chrono>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/tools/packtool_fixture.h"
#include "tools/cli/completion.h"
#include "tools/output/leftovers.h"
#include "tools/text/row_match.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const char* const ROW = "C:\\Daten\\Eigene Dateien\\Briefe\\Bank.doc";

TEST(PathForms, PatternsAsTheDiskAndTheMountShowRows) {
  struct Case {
    const char* pattern;
    bool chooses;
  } const CASES[] = {
      {"C:\\Daten\\Eigene Dateien\\Briefe\\*", true},
      {"Daten/Eigene Dateien/Briefe/*", true},  // no drive, "/": as on disk
      {"/Daten/Eigene Dateien/Briefe/", true},  // as below a mount point, a folder
      {"daten/eigene dateien", true},           // a folder, case as Windows compares
      {"Daten/Eigene Dateien/Briefe/Bank.doc", true},
      {"Eigene Dateien/Briefe/*", false},  // a path starts at the first folder
      {"D:\\Daten\\Eigene Dateien\\*", false},
      {"D:Daten/*", false},
      {"*\\Bank.doc", true},
      {"Bank.doc", false},  // a pattern is a whole path; names are for that
      {"Daten/Eigene", false},
  };
  for (const Case& c : CASES) EXPECT_EQ(PatternChoosesRow(c.pattern, ROW), c.chooses) << c.pattern;
}

TEST(PathForms, NamesTakeAFileOrTheRowsInsideAFolder) {
  struct Case {
    const char* name;
    bool chooses;
  } const CASES[] = {
      {"Bank.doc", true},
      {"Briefe\\Bank.doc", true},
      {"Briefe/Bank.doc", true},
      {"Eigene Dateien", true},  // a folder's name: the rows inside it
      {"Eigene Dateien/", true},
      {"eigene dateien/briefe", true},
      {"Daten/Eigene Dateien/Briefe/Bank.doc", true},
      {"C:\\Daten", true},
      {"Dateien", false},  // whole names only
      {"ank.doc", false},
      {"Briefe\\Bank", false},
      {"/", false},
  };
  for (const Case& c : CASES) EXPECT_EQ(NameChoosesRow(c.name, ROW), c.chooses) << c.name;
}

// The shells complete what the parser takes: every command and option.
TEST(Completion, EveryDeclaredCommandAndOptionIsOffered) {
  std::vector<DeclaredCommand> commands = Declarations();
  ASSERT_GE(commands.size(), 9u);
  for (const char* shell : {"bash", "zsh", "fish"}) {
    std::string script = CompletionScript(shell, commands);
    for (const DeclaredCommand& command : commands) {
      EXPECT_CONTAINS(script, " " + command.name);
      for (const DeclaredOption& option : command.options) {
        for (const std::string& name : option.names) {
          // fish writes "-l quiet" and "-s q"
          std::string word =
              std::string(shell) == "fish" ? (name[1] == '-' ? "-l " + name.substr(2) : "-s " + name.substr(1)) : name;
          EXPECT_CONTAINS(script, word);
        }
      }
    }
  }
  EXPECT_EQ(CompletionScript("csh", commands), "");
}

class PackToolHabits : public PackToolCli {
 protected:
  void SetUp() override {
    PackToolCli::SetUp();
    WriteEntries("backup.zip",
                 {StoredEntry(B(Index({"C:\\Index.txt", ROW, "C:\\Daten\\Eigene Dateien\\Plan.txt", "C:\\Alt\\Bank.doc",
                                       "C:\\Daten\\Bilder\\a.jpg"}))),
                  StoredEntry(B("bank")), StoredEntry(B("plan")), StoredEntry(B("alte bank")), StoredEntry(B("bild"))});
  }
};

TEST_F(PackToolHabits, FindTakesANameAsExtractDoes) {
  ToolRun found = Run({"find", "Bank.doc", "backup.zip"});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_CONTAINS(found.out, "C:\\Alt\\Bank.doc");
  EXPECT_CONTAINS(found.out, ROW);
  ToolRun none = Run({"find", "Konto", "backup.zip"});
  EXPECT_EQ(none.exitCode, 3);
  EXPECT_CONTAINS(none.err, "write a wildcard: \"*Konto*\"");
}

TEST_F(PackToolHabits, AFolderNameAndADiskPathChooseTheRowsInside) {
  ToolRun folder = Run({"extract", "backup.zip", "Eigene Dateien", "-d", "out"});
  EXPECT_EQ(folder.exitCode, 0) << folder.err;
  EXPECT_EQ(Files(), (std::set<std::string>{"backup.zip", "out/Daten/Eigene Dateien/Briefe/Bank.doc",
                                            "out/Daten/Eigene Dateien/Plan.txt"}));
  ToolRun listed = Run({"list", "backup.zip", "--match", "Daten/Eigene Dateien/Briefe/*", "--raw"});
  EXPECT_EQ(listed.out, std::string(ROW) + "\n");
}

TEST_F(PackToolHabits, CatNamesTheRowsANameChooses) {
  ToolRun cat = Run({"cat", "backup.zip", "Bank.doc"});
  EXPECT_EQ(cat.exitCode, 1);
  EXPECT_CONTAINS(cat.err, "choose 2 rows");
  EXPECT_CONTAINS(cat.err, "\n  row 1 (\"C:\\Daten\\Eigene Dateien\\Briefe\\Bank.doc\")");
  EXPECT_CONTAINS(cat.err, "\n  row 3 (\"C:\\Alt\\Bank.doc\")");
  EXPECT_EQ(Run({"cat", "backup.zip", "Alt\\Bank.doc"}).out, "alte bank");
}

// Backups named against their dates: find takes a folder's by their time.
TEST_F(PackToolCli, FindOrdersAFoldersBackupsByTheirTime) {
  fs::create_directories(base_ / "work" / "Sicherungen" / "alt");
  const struct {
    const char* name;
    const char* content;
    int day;
  } BACKUPS[] = {
      {"Sicherungen/a-montag.zip", "drei", 3}, {"Sicherungen/alt/z.zip", "eins", 1}, {"Sicherungen/m.zip", "zwei", 2}};
  auto start = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
  for (const auto& backup : BACKUPS) {
    WriteEntries(backup.name, {StoredEntry(B(Index({"Index.txt", "C:\\Brief.txt"}))), StoredEntry(B(backup.content))});
    fs::last_write_time(base_ / "work" / fs::path(backup.name), start + std::chrono::hours(24 * backup.day));
  }
  ToolRun run = Run({"find", "-r", "Brief.txt", "Sicherungen", "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  JsonDocument rows = Document(run.out)["texts"][0]["rows"];
  ASSERT_EQ(rows.size(), 3u);
  std::vector<std::string> order;
  for (const JsonDocument& row : rows) order.push_back(fs::path(row["archive"].get<std::string>()).filename().string());
  EXPECT_EQ(order, (std::vector<std::string>{"z.zip", "m.zip", "a-montag.zip"}));
  EXPECT_EQ(rows[2]["version"], 3);
}

// The number of a process that has ended.
uint32_t EndedProcess() {
#ifdef _WIN32
  return 0xFFFFFFF1u;  // Windows numbers processes in fours: none has this one
#else
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return uint32_t(child);
#endif
}

TEST_F(PackToolHabits, StagedFilesOfEndedRunsAreRemovedAndSaid) {
  std::string dead = std::to_string(EndedProcess());
  fs::create_directories(base_ / "work" / "out" / "Alt");
  const std::string ENDED = StagedPrefix() + dead + "-0.tmp";
  const std::string KEPT[] = {
      StagedPrefix() + std::to_string(PlatformProcessId()) + "-0.tmp",  // a run that is still going
      ".packtool-AndereMaschine-" + dead + "-0.tmp",                    // another machine's, on a share
      StagedPrefix() + dead + "-x.tmp",
      "Bank.doc.tmp",
  };
  Write("out/Alt/" + ENDED, B("half"));
  for (const std::string& name : KEPT) Write("out/Alt/" + name, B("keep"));
  ToolRun run = Run({"extract", "backup.zip", "Alt\\Bank.doc", "-d", "out"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.err, "removed 1 file that a run which ended early had left half written: \"out");
  EXPECT_CONTAINS(run.err, ENDED);
  EXPECT_FALSE(Exists("out/Alt/" + ENDED));
  for (const std::string& name : KEPT) EXPECT_TRUE(Exists("out/Alt/" + name)) << name;
  EXPECT_EQ(S(Read("out/Alt/Bank.doc")), "alte bank");
}

}  // namespace
