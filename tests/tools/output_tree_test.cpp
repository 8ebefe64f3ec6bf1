// Files staged in batches: nothing is under a target's name before its batch
// is placed, the batch is placed in order, and what stands at a target by
// then is checked again.
#include "tests/support/counted_seam.h"
#include "tools/output/output_tree.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(OutputTreeBatch, StagedFilesTakeTheirPlacesInOrderWhenTheBatchIsPlaced) {
  const fs::path folder = "output_tree_batch";
  fs::remove_all(folder);
  fs::create_directories(folder / "sub");
  { std::ofstream(folder / "kept.txt") << "the user's"; }
  OutputTree tree(folder.string());
  struct Case {
    std::vector<std::string> folders;
    std::string name;
    std::string bytes;
    bool replace;
    TreeOutcome staged;  // what Stage says
    TreeOutcome placed;  // what Flush says of it
    bool lookFirst = true;
  } cases[] = {
      {{}, "a.txt", "alpha", false, TreeOutcome::Written, TreeOutcome::Written},
      {{"sub", "new"}, "b.txt", "beta", false, TreeOutcome::Written, TreeOutcome::Written},
      {{}, "kept.txt", "never", false, TreeOutcome::Exists, TreeOutcome::Exists},
      {{"sub"}, "late.txt", "made meanwhile", false, TreeOutcome::Written, TreeOutcome::Exists},
      {{}, "replaced.txt", "gamma", true, TreeOutcome::Written, TreeOutcome::Written},
      // Staged without a look: the move still leaves what stands there.
      {{}, "kept.txt", "never either", false, TreeOutcome::Written, TreeOutcome::Exists, false},
      {{}, "folder.txt", "not over a folder", true, TreeOutcome::Written, TreeOutcome::NotAFile, false},
  };
  std::vector<TreeOutcome> expected;
  for (const Case& test : cases) {
    OutputTree::Fill fill = [&](PlatformStagedFile& file, std::string*) {
      return file.Write(test.bytes.data(), test.bytes.size());
    };
    TreeResult result = tree.Stage(test.folders, test.name, fill, test.bytes.size(), test.replace, 1, test.lookFirst);
    EXPECT_EQ(result.outcome, test.staged) << test.name;
    if (result.outcome == TreeOutcome::Written) expected.push_back(test.placed);
  }
  EXPECT_EQ(tree.Staged(), expected.size());
  EXPECT_FALSE(tree.Full());
  // Before the batch is placed no target has a byte of it.
  EXPECT_FALSE(fs::exists(folder / "a.txt"));
  EXPECT_FALSE(fs::exists(folder / "sub" / "new" / "b.txt"));
  {
    std::ofstream(folder / "sub" / "late.txt") << "another's";
    std::ofstream(folder / "replaced.txt") << "old";
  }
  fs::create_directories(folder / "folder.txt");
  std::vector<TreeResult> placed = tree.Flush();
  ASSERT_EQ(placed.size(), expected.size());
  for (size_t i = 0; i < placed.size(); i++) EXPECT_EQ(placed[i].outcome, expected[i]) << placed[i].path;
  std::string error;
  EXPECT_TRUE(tree.Finish(&error)) << error;
  EXPECT_EQ(Contents(folder / "a.txt"), "alpha");
  EXPECT_EQ(Contents(folder / "sub" / "new" / "b.txt"), "beta");
  EXPECT_EQ(Contents(folder / "kept.txt"), "the user's");
  EXPECT_EQ(Contents(folder / "sub" / "late.txt"), "another's");
  EXPECT_EQ(Contents(folder / "replaced.txt"), "gamma");
  EXPECT_TRUE(fs::is_directory(folder / "folder.txt"));
  // No staged file is left, and a file of this run is not replaced later.
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    EXPECT_EQ(item.path().filename().string().rfind(".packtool-", 0), std::string::npos) << item.path();
  }
  EXPECT_EQ(tree.Check({}, "a.txt", true).outcome, TreeOutcome::OfThisRun);
  fs::remove_all(folder);
}

#ifndef _WIN32
// An interrupt leaves nothing of the run: not the files of the batch placed
// before (they stay, complete), but no staged file, and no folder the run
// made that holds nothing, -d included. The signal comes as a staged file is
// made, in folders made for it.
TEST(OutputTreeBatch, AnInterruptLeavesNoStagedFileAndNoEmptyFolderOfTheRun) {
  const fs::path folder = "output_tree_interrupt";
  fs::remove_all(folder);
  fs::create_directories(folder / "there");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PlatformConsoleSetUp();
    std::string error;
    if (!MakeFolders((folder / "out").string(), &error)) _exit(2);
    OutputTree tree((folder / "out").string());
    OutputTree::Fill fill = [](PlatformStagedFile& file, std::string*) { return file.Write("x", 1); };
    if (tree.Write({"placed"}, "a.txt", "a", 1, false, 1).outcome != TreeOutcome::Written) _exit(2);
    if (tree.Stage({"new", "deeper"}, "b.txt", fill, 1, false, 2).outcome != TreeOutcome::Written) _exit(2);
    PlatformFileAfterCreateBelow([] { raise(SIGINT); });
    tree.Stage({"new", "other"}, "c.txt", fill, 1, false, 3);
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  std::vector<std::string> left;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    left.push_back(fs::relative(item.path(), folder).generic_string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"out", "out/placed", "out/placed/a.txt", "there"}));

  // Nothing placed: -d goes too.
  fs::remove_all(folder / "out");
  child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PlatformConsoleSetUp();
    std::string error;
    if (!MakeFolders((folder / "out" / "d").string(), &error)) _exit(2);
    OutputTree tree((folder / "out" / "d").string());
    OutputTree::Fill fill = [](PlatformStagedFile& file, std::string*) { return file.Write("x", 1); };
    PlatformFileAfterCreateBelow([] { raise(SIGINT); });
    tree.Stage({"new"}, "c.txt", fill, 1, false, 3);
    _exit(3);
  }
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  left.clear();
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    left.push_back(fs::relative(item.path(), folder).generic_string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"there"});
  fs::remove_all(folder);
}
#endif

}  // namespace
