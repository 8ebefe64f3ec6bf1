// Writes the seed corpus of every fuzz target into the folder given (the
// seed-* files of fuzz/corpus were made by this program; the files named by
// their hash were found by the fuzzers and kept, minimized with -merge=1):
//   fuzz_make_corpus fuzz/corpus
// Decoder seeds: two bytes of output capacity and a stream; archive seeds: a
// plan byte and an archive; index and salvage seeds: an archive, sound and
// with each damage the rescue tests make; name seeds: a flag byte and a row
// text. Small inputs, every token kind among them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Sample(int which) {
  switch (which) {
    case 0:
      return Text("Sicherung 1\nSicherung 2\nDatei.txt\nDatei.txt\nDatei.txt\n");
    case 1: {
      Bytes runs(300, 'a');
      for (int i = 0; i < 200; i++) runs.push_back(i % 2 ? 'x' : 'y');
      runs.insert(runs.end(), 100, 0);
      return runs;
    }
    default: {
      Bytes mixed;
      uint32_t state = 12345;
      for (int i = 0; i < 700; i++) {
        state = state * 1103515245u + 12345u;
        mixed.push_back(i % 5 == 0 ? uint8_t(state >> 24) : uint8_t("abcabd"[i % 6]));
      }
      return mixed;
    }
  }
}

bool Write(const fs::path& path, const Bytes& bytes) {
  if (!WriteFileBytes(path.string(), bytes)) {
    fprintf(stderr, "cannot write %s\n", path.string().c_str());
    return false;
  }
  return true;
}

// The archives of the rescue tests: an index and four entries, sound and
// with each kind of damage. Written for the index and salvage targets, and
// with a plan byte for the archive target.
int WriteDamagedArchives(const fs::path& root) {
  fs::create_directories(root / "index");
  fs::create_directories(root / "salvage");
  fs::create_directories(root / "name");
  RescueSample sample;
  std::vector<size_t>& offsets = sample.offsets;
  auto build = [&sample](bool compressIndex, bool lastCompressed) {
    return sample.Build(compressIndex, lastCompressed);
  };
  std::vector<std::pair<std::string, Bytes>> archives;
  archives.emplace_back("sound", build(true, true));
  Bytes checksum = build(true, false);
  checksum[offsets[0] + 8 + 6] ^= 0x01;  // the index's checksum field spoilt
  archives.emplace_back("index-checksum", checksum);
  archives.emplace_back("index-cut", sample.BuildWithIndexCut());
  Bytes header = build(false, false);
  header[offsets[2] + 7] = 0x7F;  // a packed size far past the end, in the middle
  archives.emplace_back("header-corrupt", header);
  Bytes shortStored = build(false, false);
  shortStored.resize(shortStored.size() - 4);  // inside a stored last entry
  archives.emplace_back("cut-stored", shortStored);
  Bytes shortStream = build(false, false);
  shortStream.resize(offsets[3] + 8 + 600);  // inside a compressed entry
  archives.emplace_back("cut-stream", shortStream);
  archives.emplace_back("hostile-claim", HostileClaimArchive(0x7FFFFFFF));
  archives.emplace_back("hostile-claim-40m", HostileClaimArchive(40u << 20));  // a claim the targets' heap still grants
  RowArchive rows(8, {}, 4000), many(18, {}, 1000), empty(8, {3, 4, 7}, 1000);  // within the fuzz inputs' 64 KiB
  archives.emplace_back("zeroed-tail", rows.ZeroedFrom(5));
  archives.emplace_back("zeroed-block", rows.ZeroedBlock(2));
  archives.emplace_back("zeroed-inside", rows.ZeroedInside(4, 300, 64));
  archives.emplace_back("empty-files", empty.bytes);
  archives.emplace_back("bad-packed-size", many.BadPackedSize(8));
  archives.emplace_back("thrash", ThrashArchive((64 << 10) - 16));  // within the fuzz inputs; the window is larger
  Bytes flipIndex = build(true, false);
  flipIndex[offsets[0] + 8 + 20] ^= 0x08;  // one flipped bit in the index's stream
  archives.emplace_back("flip-index", flipIndex);
  Bytes flipEntry = build(true, true);
  flipEntry[offsets[2] + 8 + 40] ^= 0x01;  // one flipped bit in a compressed entry's stream
  flipEntry[offsets[4] + 8 + 12] ^= 0x40;  // and one in the last
  archives.emplace_back("flip-entries", flipEntry);
  // The damages the tests try on backups of thousands of files, on as many
  // small files as the fuzz inputs' 64 KiB hold (the large backups do not).
  RowArchive small = LargeBackup(90);
  for (const LargeDamage& damage : LargeDamages(small)) {
    std::string name = std::string("many-files-") + damage.what;
    std::replace(name.begin(), name.end(), ' ', '-');
    if (damage.bytes.size() <= (64u << 10)) archives.emplace_back(name, damage.bytes);
  }
  // A spoilt compressed index of as many files, and the backup of the month
  // before them (read for names by --names-from).
  RowArchive compressed = LargeBackup(90, true);
  if (compressed.bytes.size() <= (64u << 10))
    archives.emplace_back("many-files-spoilt-index", SpoiltIndex(compressed).bytes);
  Bytes before = MonthBefore(compressed);
  if (before.size() <= (64u << 10)) archives.emplace_back("many-files-month-before", before);

  int count = 0;
  for (const auto& [name, archive] : archives) {
    for (const char* target : {"index", "salvage"}) {
      if (!Write(root / target / ("seed-" + name), archive)) return -1000;
      count++;
    }
    // The archive target's first byte is its plan; the archive follows.
    Bytes planned = archive;
    planned.insert(planned.begin(), uint8_t(0));
    if (!Write(root / "archive" / ("seed-" + name), planned)) return -1000;
    count++;
  }
  const char* names[] = {"C:\\Daten\\brief.txt",
                         "\\\\server\\share\\..\\..\\x",
                         "D:..\\a",
                         "a/./b//c",
                         "C:",
                         "CON.txt",
                         "Daten\\COM1 .log",
                         "x:\\\x01y",
                         ". \\..\\ ..",
                         "a\\b:c"};
  int which = 0;
  for (const char* name : names) {
    for (uint8_t flags : {0, 1}) {
      Bytes seed = Text(name);
      seed.insert(seed.begin(), flags);
      if (!Write(root / "name" / ("seed-" + std::to_string(which++)), seed)) return -1000;
      count++;
    }
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: fuzz_make_corpus FOLDER\n");
    return 2;
  }
  fs::path root(argv[1]);
  fs::create_directories(root / "decoder");
  fs::create_directories(root / "archive");
  const EncoderMode modes[] = {EncoderMode::Balanced,      EncoderMode::Literals8,     EncoderMode::Literals7,
                               EncoderMode::RawBlocks,     EncoderMode::ShortMatches,  EncoderMode::OneByteCodes,
                               EncoderMode::RepeatMatches, EncoderMode::NormalMatches, EncoderMode::IndexBits};
  int count = 0;
  for (int sample = 0; sample < 3; sample++) {
    Bytes data = Sample(sample);
    for (EncoderMode mode : modes) {
      Bytes stream = EncodeCompressedStream(data.data(), data.size(), mode, sample != 1);
      Bytes seed(2 + stream.size());
      seed[0] = uint8_t(data.size());
      seed[1] = uint8_t(data.size() >> 8);
      std::copy(stream.begin(), stream.end(), seed.begin() + 2);
      char name[64];
      snprintf(name, sizeof name, "seed-%d-mode%d", sample, int(mode));
      if (!Write(root / "decoder" / name, seed)) return 1;
      count++;
    }
  }
  for (int plan = 0; plan < 4; plan++) {
    std::vector<PackEntry> entries = {StoredEntry(Sample(0)), CompressedEntry(Sample(plan % 3), modes[plan * 2]),
                                      StoredEntry({}), CompressedEntry(Sample((plan + 1) % 3), modes[plan * 2 + 1])};
    Bytes archive = BuildArchive(entries);
    Bytes seed(1 + archive.size());
    seed[0] = uint8_t(0x55 * plan);
    std::copy(archive.begin(), archive.end(), seed.begin() + 1);
    if (plan == 3) seed.resize(seed.size() - 5);  // a damaged last entry
    if (!Write(root / "archive" / ("seed-" + std::to_string(plan)), seed)) return 1;
    count++;
  }
  count += WriteDamagedArchives(root);
  if (count < 0) return 1;
  printf("wrote %d seeds\n", count);
  return 0;
}
