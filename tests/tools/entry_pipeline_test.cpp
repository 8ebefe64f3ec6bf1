// The entry pipeline hands a session what it would read alone, in order,
// whatever the threads, the limit and the entries passed over; the bytes
// in flight stay within the limit.
#include "tools/rows/entry_pipeline.h"

#include "core/startup.h"
#include "tests/tools/packtool_fixture.h"
#include "tools/rows/rows.h"

namespace {

TEST_F(PackToolCli, PipelineDeliversWhatTheSessionReadsAloneWithinItsBudget) {
  LibrarySteps steps{};
  RuntimeStartUp(steps);
  // Entries of 2 to 9 KB, one of 200 KB (beyond the small limits), a
  // spoilt stream, a stored one; the last one cut short.
  Bytes index = B(Index({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}));
  Bytes archive;
  AppendRawEntry(archive, uint32_t(index.size()), uint32_t(index.size()), index);
  for (uint32_t e = 1; e <= 9; e++) {
    Bytes data = SampleData(e == 5 ? 200000 : 1000 * (e + 1), e);
    Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
    if (e == 3) stream[40] ^= 0x10;
    if (e == 7) stream = data;
    AppendRawEntry(archive, uint32_t(data.size()), uint32_t(stream.size()), stream);
  }
  archive.resize(archive.size() - 100);
  Write("a.pack", archive);

  // What a command sees: each outcome, the facts and bytes of each entry
  // read, and where the archive ended; entries not wanted are passed.
  auto read = [&](unsigned threads, uint64_t limit, uint32_t passEvery, uint64_t* peak) {
    OpenedArchive opened;
    EXPECT_EQ(OpenArchive(Path("a.pack"), ReadOn::Entries, &opened), 0);
    auto wanted = [&](uint32_t entry) { return entry % passEvery != 1; };
    opened.session.DecodeAhead(threads, PlanEntries(opened.plain, wanted), limit);
    std::string seen;
    for (uint32_t entry = 1;; entry++) {
      EntryFacts facts;
      const unsigned char* bytes = nullptr;
      EntryOutcome outcome = wanted(entry) ? opened.session.Next(&facts, &bytes) : opened.session.Skip(&facts);
      seen += std::to_string(int(outcome)) + " " + std::to_string(facts.unpackedSize) + " " +
              std::to_string(facts.damaged) + " " + std::to_string(facts.decoded) + " " +
              std::to_string(facts.checked) + " " + std::string(bytes, bytes + (bytes ? facts.decoded : 0)) + "\n";
      if (outcome != EntryOutcome::Read && outcome != EntryOutcome::Skipped) break;
    }
    const EntryPipeline* ahead = opened.session.Ahead();
    *peak = ahead != nullptr ? ahead->PeakBytesInFlight() : 0;
    return seen + "ended at " + std::to_string(opened.session.EndedAt());
  };
  for (uint32_t passEvery : {1000u, 3u}) {
    uint64_t peak = 0;
    std::string alone = read(1, EntryPipeline::LIMIT, passEvery, &peak);
    EXPECT_NE(alone.find("200000 0 200000 1"), std::string::npos);
    EXPECT_EQ(peak, 0u);
    for (auto [threads, limit] : {std::pair<unsigned, uint64_t>{4, EntryPipeline::LIMIT}, {4, 40000}, {2, 20000}}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, limit " << limit << ", passing every " << passEvery);
      EXPECT_EQ(read(threads, limit, passEvery, &peak), alone);
      EXPECT_GT(peak, 0u);
      EXPECT_LE(peak, limit);
    }
  }
  RuntimeShutDown(steps);
}

}  // namespace
