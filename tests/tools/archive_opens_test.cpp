// A command opens its archive once, and a sound one is read once through:
// its other kind, its headers, the walk past damage and the entries all
// come from the one open archive object. Counted by the tests' wrapper of
// the seam, in this process.
#include <cstdio>
#include <string>
#include <vector>

#include "core/startup.h"
#include "file/file.h"
#include "pack/archive.h"
#include "tests/support/counted_seam.h"
#include "tests/tools/packtool_fixture.h"
#include "tools/cli/exit_codes.h"
#include "tools/commands/commands.h"

namespace {

class ArchiveOpens : public PackToolCli {
 protected:
  // Runs the command on the archive; *said: what it said.
  PlatformFileCallCounts Counted(int (*run)(const PackToolRequest&), const std::string& archive,
                                 const std::string& folder, int* code, std::string* said) {
    LibrarySteps steps{};
    steps.fileInit = FileLibraryInit;
    steps.archiveClose = ArchiveClose;
    steps.fileEnd = FileLibraryEnd;
    RuntimeStartUp(steps);
    PackToolRequest request;
    request.archive = Path(archive);
    request.archives = {request.archive};
    request.all = true;
    request.hasOutputFolder = true;
    request.outputFolder = Path(folder);
    PlatformFileCallsReset();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    *code = run(request);
    fflush(stdout);
    *said = testing::internal::GetCapturedStdout();
    *said += testing::internal::GetCapturedStderr();
    PlatformFileCallCounts calls = PlatformFileCalls();
    RuntimeShutDown(steps);
    return calls;
  }

  // An index and 40 entries, every other one compressed; row 0 names the
  // index itself.
  void WriteBackup(const std::string& name) {
    std::vector<std::string> rows = {"C:\\Sicherung\\Inhalt.txt"};
    std::vector<PackEntry> entries = {StoredEntry({})};
    for (uint32_t i = 0; i < 40; i++) {
      rows.push_back("C:\\f" + std::to_string(i) + ".txt");
      Bytes data = SampleData(3000 + i * 50, i);
      entries.push_back(i % 2 == 0 ? CompressedEntry(data) : StoredEntry(data));
    }
    entries[0] = StoredEntry(B(Index(rows)));
    WriteEntries(name, entries);
  }
};

TEST_F(ArchiveOpens, VerifyAndExtractOpenTheArchiveOnceAndReadASoundOneOnce) {
  WriteBackup("sound.zip");
  uint64_t size = Read("sound.zip").size();
  Bytes damaged = Read("sound.zip");
  size_t entry1 = 8 + (damaged[4] | damaged[5] << 8 | damaged[6] << 16);
  damaged[entry1 + 8] ^= 0xFF;  // entry 1's stream magic: the plain reading stops there
  Write("damaged.zip", damaged);
  struct Case {
    const char* what;
    int (*run)(const PackToolRequest&);
    const char* archive;
    int code;
  } cases[] = {
      {"verify", RunVerify, "sound.zip", EXIT_OK},
      {"extract", RunExtract, "sound.zip", EXIT_OK},
      {"verify past damage", RunVerify, "damaged.zip", EXIT_DAMAGED},
      {"extract past damage", RunExtract, "damaged.zip", EXIT_DAMAGED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int code = -1;
    std::string said;
    PlatformFileCallCounts calls = Counted(c.run, c.archive, "out" + std::to_string(&c - cases), &code, &said);
    EXPECT_EQ(code, c.code) << said;
    EXPECT_EQ(calls.opens, 1u);
    EXPECT_EQ(calls.reads, 0u) << "the archive is read by offset only";
    if (c.code != EXIT_OK) continue;
    // Once through: beside it only the first bytes that tell another kind
    // of archive, and the two bytes after each compressed entry's header,
    // read with the header.
    EXPECT_LE(calls.bytesRead, size + 262 + 2 * 41);
  }
}

}  // namespace
