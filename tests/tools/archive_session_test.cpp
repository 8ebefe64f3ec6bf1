// Sessions of packtool's commands each read with a cursor of their own:
// two at once keep their places, and neither touches the restore tool's
// process-wide reader nor closes it when it ends.
#include "tools/rows/archive_session.h"

#include <cstring>
#include <memory>

#include "core/startup.h"
#include "file/file.h"
#include "pack/archive.h"
#include "tests/tools/packtool_fixture.h"

namespace {

TEST_F(PackToolCli, SessionsAndTheProcessWideReaderKeepTheirOwnPlaces) {
  LibrarySteps steps{};
  steps.fileInit = FileLibraryInit;
  steps.archiveClose = ArchiveClose;
  steps.fileEnd = FileLibraryEnd;
  RuntimeStartUp(steps);
  // Three archives whose entries differ in every byte, so that an entry read
  // from the wrong one or at the wrong place shows.
  std::vector<Bytes> data[3];
  for (uint32_t a = 0; a < 3; a++) {
    std::vector<PackEntry> entries{StoredEntry(B(Index({"C:\\a", "C:\\b", "C:\\c"})))};
    for (uint32_t e = 1; e <= 3; e++) {
      data[a].push_back(SampleData(3000 + 100 * e, 10 * a + e));
      entries.push_back(e == 2 ? StoredEntry(data[a].back()) : CompressedEntry(data[a].back()));
    }
    WriteEntries("a" + std::to_string(a) + ".zip", entries);
  }
  auto session = [&](int a) {
    auto opened = std::make_unique<ArchiveSession>();
    std::string error;
    EXPECT_TRUE(opened->Open(Path("a" + std::to_string(a) + ".zip"), &error)) << error;
    EntryOutcome outcome;
    EntryFacts facts;
    opened->ReadIndex(&outcome, &facts);
    EXPECT_EQ(outcome, EntryOutcome::Read);
    return opened;
  };
  auto first = session(0);
  ASSERT_EQ(ArchiveOpen(Path("a2.zip").c_str()), 1);
  ASSERT_NE(ArchiveNextEntry(), nullptr);  // the process-wide reader past its index
  auto second = session(1);
  auto next = [&](ArchiveSession& reading, int a, uint32_t entry) {
    SCOPED_TRACE("archive " + std::to_string(a) + ", entry " + std::to_string(entry));
    EntryFacts facts;
    const unsigned char* bytes = nullptr;
    ASSERT_EQ(reading.Next(&facts, &bytes), EntryOutcome::Read);
    const Bytes& want = data[a][entry - 1];
    ASSERT_EQ(facts.decoded, want.size());
    EXPECT_EQ(memcmp(bytes, want.data(), want.size()), 0);
  };
  next(*first, 0, 1);
  next(*second, 1, 1);
  EntryFacts skipped;
  EXPECT_EQ(first->Skip(&skipped), EntryOutcome::Skipped);
  next(*second, 1, 2);
  next(*first, 0, 3);
  EXPECT_EQ(first->Skip(&skipped), EntryOutcome::End);
  first.reset();  // ending a session leaves the others and the process-wide reader open
  next(*second, 1, 3);
  const unsigned char* bytes = ArchiveNextEntry();
  ASSERT_NE(bytes, nullptr);
  ASSERT_EQ(ArchiveEntrySize(), int32_t(data[2][0].size()));
  EXPECT_EQ(memcmp(bytes, data[2][0].data(), data[2][0].size()), 0);
  second.reset();
  RuntimeShutDown(steps);
}

}  // namespace
