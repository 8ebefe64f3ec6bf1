// The exit code of a run with several failures is the most serious one:
// ranked on its own, and in one run of extract.
#include "tools/cli/exit_codes.h"

#include "tests/tools/packtool_fixture.h"

namespace {

TEST(PackToolExitCodes, DamageRanksAboveEveryOtherFailure) {
  struct Case {
    int a, b, worst;
  };
  static const Case CASES[] = {
      {EXIT_TARGET_REFUSED, EXIT_DAMAGED, EXIT_DAMAGED}, {EXIT_DAMAGED, EXIT_TARGET_REFUSED, EXIT_DAMAGED},
      {EXIT_WRITE, EXIT_DAMAGED, EXIT_DAMAGED},          {EXIT_MEMORY, EXIT_DAMAGED, EXIT_DAMAGED},
      {EXIT_TARGET_REFUSED, EXIT_WRITE, EXIT_WRITE},     {EXIT_ROW, EXIT_TARGET_REFUSED, EXIT_TARGET_REFUSED},
      {EXIT_OK, EXIT_ROW, EXIT_ROW},                     {EXIT_MEMORY, EXIT_WRITE, EXIT_WRITE},
  };
  for (const Case& c : CASES) EXPECT_EQ(ExitWorst(c.a, c.b), c.worst) << c.a << " " << c.b;
}

TEST_F(PackToolCli, DamageOutranksARefusalInOneRun) {
  std::vector<std::string> rows{"Index.txt", "C:\\a.txt", "C:\\b.txt"};
  Bytes archive = BuildArchive({StoredEntry(B(Index(rows))), StoredEntry(B("a"))});
  AppendSpoiltEntry(archive, SampleData(5000, 3), 20, 0x10);
  Write("mixed.zip", archive);
  Write("a.txt", B("there before"));
  ToolRun run = Run({"extract", "mixed.zip", "1", "2", "--json"});
  EXPECT_EQ(run.exitCode, 4) << run.err;
  JsonDocument report = Document(run.out);
  EXPECT_EQ(report["refused"][0]["row"], 1);
  EXPECT_EQ(report["damaged"][0]["row"], 2);
  EXPECT_EQ(report["exitCode"], 4);
  EXPECT_EQ(S(Read("a.txt")), "there before");
}

}  // namespace
