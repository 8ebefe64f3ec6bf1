// Files written in batches made durable together, and entries too large to
// hold in memory written as they are read.
#include "tests/tools/packtool_fixture.h"

namespace {

using PackToolDisk = PackToolCli;

// Whether a staged file of a run is left anywhere below the work folder.
bool AnyStaged(const std::set<std::string>& files) {
  for (const std::string& file : files) {
    if (file.find(".packtool-") != std::string::npos) return true;
  }
  return false;
}

#ifndef _WIN32
TEST_F(PackToolDisk, AFailureMidwayLeavesEarlierFilesCompleteAndNothingPartial) {
  // Row 3 is larger than the file size limit: its write fails partway, as
  // on a full disk, between files that fit. extract and rescue write alike.
  Bytes big = SampleData(300000, 7);
  WriteEntries(
      "mixed.zip",
      {StoredEntry(B(Index({"C:\\Index.txt", "C:\\a.txt", "C:\\s\\b.txt", "C:\\s\\big.bin", "C:\\d.txt"}))),
       StoredEntry(B("alpha")), CompressedEntry(SampleData(5000, 1)), CompressedEntry(big), StoredEntry(B("delta"))});
  const struct {
    std::vector<std::string> command;
    const char* index;  // the file the index goes to
  } commands[] = {
      {{"extract", "mixed.zip", "--all", "-d", "out", "--json"}, "out/Index.txt"},
      {{"rescue", "mixed.zip", "-d", "out", "--json"}, "out/entry-0.bin"},
  };
  for (const auto& c : commands) {
    SCOPED_TRACE(c.command[0]);
    fs::remove_all(base_ / "work" / "out");
    ToolRun run = Run(c.command, "", 100000);
    EXPECT_EQ(run.exitCode, 6) << run.err;
    EXPECT_CONTAINS(run.err, "cannot write \"out/s/big.bin\"");
    EXPECT_EQ(Files(), (std::set<std::string>{"mixed.zip", c.index, "out/a.txt", "out/s/b.txt", "out/d.txt"}));
    EXPECT_EQ(S(Read("out/a.txt")), "alpha");
    EXPECT_EQ(Read("out/s/b.txt"), SampleData(5000, 1));
    EXPECT_EQ(S(Read("out/d.txt")), "delta");
    // The report is in archive order and says what is on the disk.
    JsonDocument report = Document(run.out);
    std::vector<int> written;
    if (c.command[0] == "extract") {
      for (const auto& item : report["written"]) written.push_back(item["row"]);
      EXPECT_EQ(report["failed"].size(), 1u);
      EXPECT_EQ(report["failed"][0]["row"], 3);
    } else {
      for (const auto& item : report["entries"]) {
        if (item["written"] > 0) written.push_back(item["entry"]);
      }
    }
    EXPECT_EQ(written, (std::vector<int>{0, 1, 2, 4})) << run.out;
  }
}
#endif

TEST_F(PackToolDisk, EntriesTooLargeToHoldAreStreamedByteForByte) {
  // Past the size from which entries are not held in memory.
  const size_t size = (size_t(17) << 20) + 12345;
  Bytes stored = SampleData(size, 3);
  Bytes compressed = SampleData(size, 4);
  Bytes archive = BuildArchive(
      {StoredEntry(B(Index({"C:\\Index.txt", "C:\\stored.bin", "C:\\packed.bin", "C:\\spoilt.bin", "C:\\after.txt"}))),
       StoredEntry(stored)});
  Bytes stream = EncodeCompressedStream(compressed.data(), compressed.size(), EncoderMode::Balanced, true);
  AppendRawEntry(archive, uint32_t(size), uint32_t(stream.size()), stream);
  stream[stream.size() / 3] ^= 0x5A;
  AppendRawEntry(archive, uint32_t(size), uint32_t(stream.size()), stream);
  Bytes after = BuildArchive({StoredEntry(B("after"))});
  archive.insert(archive.end(), after.begin(), after.end());
  Write("big.zip", archive);

  ToolRun run = Run({"extract", "big.zip", "--all", "-d", "out", "--json"});
  EXPECT_EQ(run.exitCode, 4) << run.err;
  EXPECT_TRUE(Read("out/stored.bin") == stored);
  EXPECT_TRUE(Read("out/packed.bin") == compressed);
  EXPECT_EQ(S(Read("out/after.txt")), "after");
  EXPECT_FALSE(Exists("out/spoilt.bin")) << "a damaged entry is written only with --force";
  EXPECT_FALSE(AnyStaged(Files()));

  // Of a damaged one, only the bytes its stream gave, nothing of the stream.
  run = Run({"extract", "big.zip", "3", "-d", "forced", "--force", "--json"});
  EXPECT_EQ(run.exitCode, 4) << run.err;
  JsonDocument report = Document(run.out);
  ASSERT_EQ(report["damaged"].size(), 1u);
  uint64_t decoded = report["damaged"][0]["size"];
  EXPECT_GT(decoded, 0u);
  EXPECT_LT(decoded, size);
  Bytes partial = Read("forced/spoilt.bin");
  EXPECT_EQ(partial.size(), decoded);
  EXPECT_FALSE(AnyStaged(Files()));
  run = Run({"extract", "big.zip", "2", "-o", "one.bin"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(Read("one.bin") == compressed);

  // cat gives the same bytes.
  for (auto [row, bytes] : {std::pair{"1", &stored}, std::pair{"2", &compressed}}) {
    run = Run({"cat", "big.zip", row});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(B(run.out) == *bytes) << "row " << row;
  }
  run = Run({"cat", "big.zip", "3", "--force"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(B(run.out) == partial);

  // verify reads them in pieces too, with the same verdicts, on any -j.
  for (const char* jobs : {"1", "2"}) {
    run = Run({"verify", "big.zip", "--json", "-j", jobs, "--repair-time", "0"});
    EXPECT_EQ(run.exitCode, 4) << run.err;
    JsonDocument verified = Document(run.out);
    EXPECT_EQ(verified["checked"], 5u);
    ASSERT_EQ(verified["problems"].size(), 1u);
    EXPECT_NE(verified["problems"][0].get<std::string>().find("spoilt.bin"), std::string::npos) << run.out;
  }
}

}  // namespace
