// packtool's commands in this process, on an archive whose reads the system
// refuses in one place (the platform layer refuses them on cue, which a
// separate process cannot be told to do): a read error is not a short file,
// and rescue reads on past it.
#include <cstdio>

#include "core/startup.h"
#include "file/file.h"
#include "pack/archive.h"
#include "platform/platform.h"
#include "tests/support/counted_seam.h"
#include "tests/tools/packtool_fixture.h"
#include "tools/cli/command_line.h"
#include "tools/cli/exit_codes.h"
#include "tools/commands/commands.h"
#include "tools/rows/entry_texts.h"

namespace {

// A command run in this process, and the reads the disk refused it.
struct InProcessRun : ToolRun {
  uint64_t refusedReads = 0;
};

class PackToolReadError : public PackToolCli {
 protected:
  // Runs the command with the reads of the ranges [from, to) refused.
  InProcessRun RunRefused(int (*run)(const PackToolRequest&), const PackToolRequest& request,
                          const std::vector<std::pair<uint64_t, uint64_t>>& refused) {
    LibrarySteps steps{};
    steps.fileInit = FileLibraryInit;
    steps.archiveClose = ArchiveClose;
    steps.fileEnd = FileLibraryEnd;
    RuntimeStartUp(steps);
    for (auto [from, to] : refused) PlatformFileRefuseReadsOf(from, to);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    InProcessRun result;
    result.exitCode = run(request);
    fflush(stdout);
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    result.refusedReads = PlatformFileCalls().refusedReads;
    PlatformFileCallsReset();
    RuntimeShutDown(steps);
    return result;
  }
};

TEST_F(PackToolReadError, CommandsSayTheArchiveCouldNotBeRead) {
  WriteEntries("backup.zip", {StoredEntry(B(Index({"C:\\a.txt", "C:\\b.txt", "C:\\c.txt"}))),
                              StoredEntry(SampleData(12000, 1)), CompressedEntry(SampleData(12000, 2))});
  Bytes archive = Read("backup.zip");
  uint64_t first = 8 + (archive[4] | archive[5] << 8);                           // entry 1's header
  uint64_t second = first + 8 + (archive[first + 4] | archive[first + 5] << 8);  // entry 2's
  uint64_t unit = (first + 8 + 6000) / 4096 * 4096 - (first + 8);                // in entry 1's bytes
  std::string zeros =
      "partial, 7904 of 12000 bytes, the archive file could not be read there (zeros in the file for bytes " +
      std::to_string(unit) + " to " + std::to_string(unit + 4095) + ")";
  JsonDocument zerosEntry{{"entry", 1},
                          {"state", "partial"},
                          {"unpackedSize", 12000},
                          {"written", 12000},
                          {"zeros", JsonDocument::array({JsonDocument::array({unit, 4096})})}};
  struct Case {
    int (*run)(const PackToolRequest&);
    uint64_t refused;
    const char* said;
    JsonDocument entry = {};  // with --json: fields of that entry in rescue's document
  } cases[] = {
      {RunList, second, "entry 2 (\"C:\\c.txt\"): damaged: the system refused to read the archive file there"},
      {RunVerify, second, "the system refused to read the archive file there"},
      {RunVerify, second + 100, "the system refused to read the archive file there"},  // its data
      {RunExtract, second + 100, "row 2 (\"C:\\c.txt\"): damaged entry: the system refused to read"},
      {RunList, 3, "the index (entry 0) cannot be read: the system refused"},
      // rescue reads on past it, losing the 4 KiB around it: zeros there in a stored entry's file
      {RunRescue, first + 8 + 6000, zeros.c_str(), zerosEntry},
      {RunRescue,
       second + 2,
       "(its size is not known)",
       {{"entry", 2}, {"state", "partial"}, {"unpackedSize", nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    PackToolRequest request;
    request.archive = Path("backup.zip");
    request.all = true;
    request.format = c.entry.is_null() ? ListFormat::Table : ListFormat::Json;
    request.hasOutputFolder = true;
    request.outputFolder = Path("out" + std::to_string(&c - cases));  // a fresh folder each
    InProcessRun run = RunRefused(c.run, request, {{c.refused, c.refused + 1}});
    std::string said = run.out + run.err;
    EXPECT_EQ(run.exitCode, EXIT_DAMAGED);
    EXPECT_CONTAINS(said, c.said);
    EXPECT_EQ(said.find("cut short"), std::string::npos) << said;
    if (c.entry.is_null()) continue;
    JsonDocument entry = Document(run.out)["entries"][c.entry["entry"].get<size_t>()];
    for (const auto& field : c.entry.items()) EXPECT_EQ(entry[field.key()], field.value()) << field.key();
  }
  // extract's document gives the read error as the reason, not a cut.
  PackToolRequest request;
  request.archive = Path("backup.zip");
  request.all = true;
  request.format = ListFormat::Json;
  request.hasOutputFolder = true;
  request.outputFolder = Path("json");
  InProcessRun run = RunRefused(RunExtract, request, {{second + 100, second + 101}});
  EXPECT_EQ(Document(run.out)["damaged"][0]["reason"], UNREADABLE);
  // The file rescue wrote for entry 1: all of its bytes but the unit's, zeros there.
  Bytes expected = SampleData(12000, 1);
  std::fill_n(expected.begin() + ptrdiff_t(unit), 4096, 0);
  EXPECT_TRUE(Read("out5/b.txt") == expected);
}

// A patchy bad area in a stored entry (4 KiB units 2 to 6 and 8 of the file
// refuse; 7 reads): rescue finds where the area ends (at 9) but gives up
// units 5 and 7 with it unread, and says so, unless --every-unit asks for
// each unit (at one refused read for each bad one).
TEST_F(PackToolReadError, RescueAskedForEveryUnitKeepsEachThatReads) {
  WriteEntries("patchy.zip", {StoredEntry(SampleData(16 * 4096, 3))});
  for (bool everyUnit : {false, true}) {
    SCOPED_TRACE(everyUnit);
    std::string archive = Path("patchy.zip"), folder = Path(everyUnit ? "every" : "stretches");
    std::vector<const char*> words = {"packtool", "rescue", archive.c_str(), "-d", folder.c_str(), "--json"};
    if (everyUnit) words.push_back("--every-unit");
    PackToolRequest request;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(int(words.size()), words.data(), &request, &error)) << error;
    InProcessRun run = RunRefused(RunRescue, request, {{2 * 4096, 7 * 4096}, {8 * 4096, 9 * 4096}});
    EXPECT_EQ(run.exitCode, EXIT_DAMAGED);
    if (everyUnit) {
      EXPECT_LE(run.refusedReads, 6u + 1) << "a slow read per bad unit, and one longer read into the area";
    }
    EXPECT_EQ(Document(run.out)["unread"], everyUnit ? 0 : 2 * 4096);
    EXPECT_EQ(run.err.find("8192 bytes of the archive file in bad areas were given up unread") != std::string::npos,
              !everyUnit)
        << run.err;
    Bytes expected = SampleData(16 * 4096, 3);
    size_t lost = everyUnit ? 5 * 4096 : 7 * 4096;  // from unit 2, as the entry's bytes start at 8
    std::fill_n(expected.begin() + 2 * 4096 - 8, lost, 0);
    if (everyUnit) std::fill_n(expected.begin() + 8 * 4096 - 8, 4096, 0);
    EXPECT_TRUE(Read(folder + "/entry-0.bin") == expected) << run.err;
  }
}

}  // namespace
