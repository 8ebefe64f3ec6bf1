// packtool in this process, on archives whose reads the system refuses in one
// place, as on a failing disk: the platform layer refuses them on cue, which
// a separate process cannot be told to do.
#include <cstdio>

#include "core/startup.h"
#include "file/file.h"
#include "pack/archive.h"
#include "platform/platform.h"
#include "tests/tools/packtool_fixture.h"
#include "tools/command_line.h"
#include "tools/commands.h"
#include "tools/exit_codes.h"

namespace {

class PackToolReadError : public PackToolCli {
 protected:
  // Runs the command with the reads of the bytes [from, to) of any file
  // refused; its exit code, and in *said what it printed (both streams).
  static int RunHere(const PackToolRequest& request, uint64_t from, uint64_t to, std::string* said) {
    LibrarySteps steps{};
    steps.fileInit = FileLibraryInit;
    steps.archiveClose = ArchiveClose;
    steps.fileEnd = FileLibraryEnd;
    RuntimeStartUp(steps);
    PlatformFileRefuseReadsOf(from, to);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int code = EXIT_USAGE;
    switch (request.command) {
      case PackToolCommand::List:
        code = RunList(request);
        break;
      case PackToolCommand::Verify:
        code = RunVerify(request);
        break;
      case PackToolCommand::Extract:
        code = RunExtract(request);
        break;
      default:
        code = RunRescue(request);
        break;
    }
    fflush(stdout);
    *said = testing::internal::GetCapturedStdout();
    *said += testing::internal::GetCapturedStderr();
    PlatformFileCallsReset();
    RuntimeShutDown(steps);
    return code;
  }

  PackToolRequest Request(PackToolCommand command) {
    PackToolRequest request;
    request.command = command;
    request.archive = Path("backup.zip");
    request.all = true;
    request.hasOutputFolder = true;
    request.outputFolder = Path("out");
    return request;
  }

  // backup.zip: an index of rows a to d, entries 1 to 3 of `size` bytes
  // (stored, compressed, stored); the entries' data, and in *headers where
  // each entry's header starts.
  std::vector<Bytes> WriteBackup(size_t size, std::vector<uint64_t>* headers) {
    std::vector<Bytes> data = {SampleData(size, 1), SampleData(size, 2), SampleData(size, 3)};
    WriteEntries("backup.zip", {StoredEntry(B(Index({"C:\\a.txt", "C:\\b.txt", "C:\\c.txt", "C:\\d.txt"}))),
                                StoredEntry(data[0]), CompressedEntry(data[1]), StoredEntry(data[2])});
    Bytes archive = Read("backup.zip");
    headers->clear();
    for (uint64_t at = 0; at + 8 <= archive.size(); at += 8 + (archive[at + 4] | archive[at + 5] << 8)) {
      headers->push_back(at);
    }
    return data;
  }
};

// A read error is not a short file: the commands that stop at it say so.
TEST_F(PackToolReadError, CommandsSayTheArchiveCouldNotBeRead) {
  std::vector<uint64_t> headers;
  WriteBackup(3000, &headers);
  uint64_t second = headers[2];
  struct Case {
    PackToolCommand command;
    uint64_t refused;
  } cases[] = {{PackToolCommand::List, second},
               {PackToolCommand::Verify, second},
               {PackToolCommand::Verify, second + 100},  // its data
               {PackToolCommand::Extract, second + 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.command) << " refused at " << c.refused);
    std::string err;
    EXPECT_EQ(RunHere(Request(c.command), c.refused, c.refused + 1, &err), EXIT_DAMAGED);
    EXPECT_CONTAINS(err, "the system refused to read the archive file there");
    EXPECT_EQ(err.find("cut short"), std::string::npos) << err;
  }
  std::string err;
  EXPECT_EQ(RunHere(Request(PackToolCommand::List), 3, 4, &err), EXIT_DAMAGED);
  EXPECT_CONTAINS(err, "the index (entry 0) cannot be read");
}

// Rescue reads on past a bad sector: the entry it hits keeps what came
// before it, the entries after it come out whole.
TEST_F(PackToolReadError, RescueReadsOnPastABadSector) {
  std::vector<uint64_t> headers;
  std::vector<Bytes> data = WriteBackup(12000, &headers);
  uint64_t sector = (headers[1] + 8 + 6000) / 512 * 512;  // in entry 1's data
  std::string err;
  EXPECT_EQ(RunHere(Request(PackToolCommand::Rescue), sector, sector + 512, &err), EXIT_DAMAGED);
  EXPECT_CONTAINS(err, "entry 1 (\"C:\\b.txt\"): partial");
  EXPECT_CONTAINS(err, "the archive file could not be read there");
  EXPECT_CONTAINS(err, "3 sound, 0 damaged, 1 partial, 0 lost");
  Bytes partial = Read("out/b.txt");
  EXPECT_TRUE(partial.size() > 0 && partial.size() < data[0].size());
  EXPECT_TRUE(std::equal(partial.begin(), partial.end(), data[0].begin()));
  EXPECT_TRUE(Read("out/c.txt") == data[1]);
  EXPECT_TRUE(Read("out/d.txt") == data[2]);
}

}  // namespace
