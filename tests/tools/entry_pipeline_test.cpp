// The entry pipeline hands a session the entries it would read alone, in
// order, whatever the threads, the budget and the entries the reader passes
// over; the bytes in flight stay within the budget.
#include "tools/rows/entry_pipeline.h"

#include <memory>

#include "core/startup.h"
#include "tests/tools/packtool_fixture.h"
#include "tools/rows/rows.h"

namespace {

struct Delivered {
  EntryOutcome outcome;
  EntryFacts facts;
  Bytes bytes;
};

bool operator==(const Delivered& a, const Delivered& b) {
  return a.outcome == b.outcome && a.bytes == b.bytes && a.facts.unpackedSize == b.facts.unpackedSize &&
         a.facts.packedSize == b.facts.packedSize && a.facts.damaged == b.facts.damaged &&
         a.facts.decoded == b.facts.decoded && a.facts.checked == b.facts.checked;
}

TEST_F(PackToolCli, PipelineDeliversWhatTheSessionReadsAloneWithinItsBudget) {
  // Entries of 2 to 9 KiB, one of 200,000 bytes (beyond the small budget),
  // one spoilt stream, one stored; the last one cut short.
  LibrarySteps steps{};
  RuntimeStartUp(steps);
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

  // Reads every entry the reader wants and passes the others, as a command does.
  auto read = [&](unsigned threads, uint64_t budget, const std::function<bool(uint32_t)>& wanted, uint64_t* peak) {
    OpenedArchive opened;
    EXPECT_EQ(OpenArchive(Path("a.pack"), ReadOn::Entries, &opened), 0);
    std::vector<Delivered> delivered;
    EntryPipeline ahead(opened.session, PlanEntries(opened.plain, wanted), threads, budget);
    for (uint32_t entry = 1;; entry++) {
      Delivered d{};
      const unsigned char* bytes = nullptr;
      d.outcome = wanted(entry) ? opened.session.Next(&d.facts, &bytes) : opened.session.Skip(&d.facts);
      if (bytes != nullptr) d.bytes.assign(bytes, bytes + d.facts.unpackedSize);
      delivered.push_back(d);
      if (d.outcome != EntryOutcome::Read && d.outcome != EntryOutcome::Skipped) break;
    }
    // Where the session says the archive ended.
    delivered.back().facts.decoded = uint32_t(opened.session.EndedAt());
    *peak = ahead.PeakBytesInFlight();
    return delivered;
  };
  const std::function<bool(uint32_t)> choices[] = {
      [](uint32_t) { return true; },
      [](uint32_t entry) { return entry % 3 != 1; },
  };
  struct Case {
    unsigned threads;
    uint64_t budget;
  };
  const Case cases[] = {{2, EntryPipeline::BUDGET}, {4, EntryPipeline::BUDGET}, {4, 40000}, {3, 20000}};
  for (const auto& wanted : choices) {
    uint64_t peak = 0;
    std::vector<Delivered> alone = read(1, EntryPipeline::BUDGET, wanted, &peak);
    ASSERT_EQ(alone.size(), 9u);
    EXPECT_EQ(alone[8].outcome, EntryOutcome::Truncated);
    EXPECT_EQ(peak, 0u);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.threads << " threads, budget " << c.budget);
      EXPECT_TRUE(read(c.threads, c.budget, wanted, &peak) == alone);
      EXPECT_GT(peak, 0u);
      EXPECT_LE(peak, c.budget);
    }
  }
  RuntimeShutDown(steps);
}

}  // namespace
