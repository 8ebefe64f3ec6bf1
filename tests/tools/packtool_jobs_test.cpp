// verify, extract and rescue say and write the same for one thread and for several,
// on sound and damaged archives; a write that fails in the middle of a
// parallel extract leaves the files before it whole and nothing of itself.
#include <map>

#include "tests/tools/packtool_fixture.h"

namespace {

class PackToolJobs : public PackToolCli {
 protected:
  // Every file below the folder with its bytes.
  std::map<std::string, Bytes> Tree(const std::string& folder) const {
    std::map<std::string, Bytes> tree;
    for (const std::string& file : Files()) {
      if (file.rfind(folder + "/", 0) == 0) tree[file] = Read(file);
    }
    return tree;
  }
};

TEST_F(PackToolJobs, OneThreadAndFourSayAndWriteTheSame) {
  RowArchive sound(30);
  const struct {
    const char* name;
    Bytes archive;
  } archives[] = {
      {"sound", sound.bytes},
      {"spoilt", sound.Spoilt(7)},  // entry 7 is compressed: its stream breaks
      {"cut", sound.CutInside(29, 20)},
      {"zeroed tail", sound.ZeroedFrom(20)},
      {"zeroed block", sound.ZeroedBlock(12)},
      {"bad size", sound.BadPackedSize(12)},
  };
  const std::vector<std::vector<std::string>> commands = {
      {"verify"},
      {"extract", "--all", "-d", "out", "--json"},
      {"rescue", "-d", "out", "--json"},
      {"verify", "--match", "*1*"},
      {"extract", "--all", "-d", "out", "--force"},
      {"extract", "2", "7", "9", "29", "-d", "out"},
  };
  // Under Wine, where each run costs a process start of its own, the first
  // archives and commands: the threads are what differs there.
#ifdef _WIN32
  const size_t archivesTried = 2, commandsTried = 3;
#else
  const size_t archivesTried = std::size(archives), commandsTried = commands.size();
#endif
  for (size_t a = 0; a < archivesTried; a++) {
    const auto& archive = archives[a];
    Write("a.pack", archive.archive);
    for (size_t c = 0; c < commandsTried; c++) {
      const auto& command = commands[c];
      SCOPED_TRACE(std::string(archive.name) + ", " + command[0] + " " + std::to_string(c));
      ToolRun runs[2];
      std::map<std::string, Bytes> trees[2];
      for (int i = 0; i < 2; i++) {
        std::vector<std::string> arguments = command;
        arguments.insert(arguments.begin() + 1, "a.pack");
        arguments.insert(arguments.end(), {"-j", i == 0 ? "1" : "4"});
        runs[i] = Run(arguments);
        trees[i] = Tree("out");
        fs::remove_all(base_ / "work" / "out");
      }
      EXPECT_EQ(runs[0].exitCode, runs[1].exitCode);
      EXPECT_EQ(runs[0].out, runs[1].out);
      EXPECT_EQ(runs[0].err, runs[1].err);
      EXPECT_TRUE(trees[0] == trees[1]);
      EXPECT_EQ(trees[0].empty(), command[0] == "verify");
    }
  }
}

#ifndef _WIN32
TEST_F(PackToolJobs, AFailedWriteInTheMiddleLeavesEarlierFilesWholeAndNothingOfItself) {
  // Entry 5 is larger than the file size limit: its write fails partway.
  std::vector<std::string> rows{"Index.txt"};
  std::vector<PackEntry> entries{StoredEntry({})};
  std::vector<Bytes> data;
  for (uint32_t e = 1; e <= 8; e++) {
    rows.push_back("f" + std::to_string(e) + ".txt");
    data.push_back(SampleData(e == 5 ? 300000 : 20000 + 1000 * e, e));
    entries.push_back(CompressedEntry(data.back()));
  }
  entries[0] = StoredEntry(B(Index(rows)));
  WriteEntries("a.pack", entries);
  ToolRun run = Run({"extract", "a.pack", "--all", "-d", "out", "-j", "4"}, "", 100000);
  EXPECT_EQ(run.exitCode, 6);
  EXPECT_CONTAINS(run.err, "cannot write \"out/f5.txt\"");
  std::map<std::string, Bytes> tree = Tree("out");
  EXPECT_EQ(tree.count("out/f5.txt"), 0u);
  for (uint32_t e = 1; e <= 8; e++) {
    if (e != 5) {
      EXPECT_TRUE(tree["out/f" + std::to_string(e) + ".txt"] == data[e - 1]) << e;
    }
  }
  EXPECT_EQ(tree.size(), 8u);  // the seven and the index
}
#endif

}  // namespace
