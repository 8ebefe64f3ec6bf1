// The repair by the checksum: one summary line per goal. A measurement that
// prints figures, not a test; from the native-release build:
//
//   build/native-release/bench/repair_bench [GOAL...]
//
// GOAL: entry64k (a 64 KiB packed entry, -j 2), entry1m (1 MiB packed),
// index (one flip in the index of a 3,000-file backup), flips (1,000 random
// flips in a mixed backup, each compared with the original), ideas (what
// the checkpoints, the meeting and a second thread each give). Default: all.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pack/decoder.h"
#include "pack/repair.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

uint32_t Random(uint64_t& state) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return uint32_t(state >> 33);
}

// Text that packs to about `packed` bytes, and its stream.
void PackedText(size_t packed, Bytes* data, Bytes* stream) {
  size_t size = packed * 3;
  for (int round = 0; round < 4; round++) {
    *data = SampleProse(size, 11);
    *stream = EncodeCompressedStream(data->data(), data->size(), EncoderMode::Balanced, true);
    size = size_t(double(size) * double(packed) / double(stream->size()));
  }
}

// One flip at a few places of a stream: the time of each repair.
void OneEntry(const char* goal, size_t packed, unsigned threads, int places) {
  Bytes data, stream;
  PackedText(packed, &data, &stream);
  uint64_t state = 5;
  double total = 0, worst = 0;
  int repaired = 0;
  std::string outcomes;
  for (int i = 0; i < places; i++) {
    Bytes spoilt = stream;
    uint32_t bit = uint32_t(STREAM_HEADER_SIZE * 8 + Random(state) % ((stream.size() - STREAM_HEADER_SIZE) * 8));
    spoilt[bit / 8] ^= uint8_t(1u << (bit % 8));
    Clock::time_point start = Clock::now();
    StreamRepair repair =
        RepairStream(spoilt.data(), uint32_t(spoilt.size()), uint32_t(data.size()), RepairOptions{threads, nullptr});
    double seconds = Seconds(start);
    total += seconds;
    worst = std::max(worst, seconds);
    repaired += repair.outcome == RepairOutcome::Repaired;
    outcomes += std::string(i == 0 ? "" : ", ") + RepairOutcomeName(repair.outcome);
  }
  printf(
      "%s: %zu bytes packed (%zu of text), -j %u, %d flips: %.2f s each on average, %.2f s the slowest; %d "
      "repaired (%s)\n",
      goal, stream.size(), data.size(), threads, places, total / places, worst, repaired, outcomes.c_str());
  fflush(stdout);
}

// The index of a backup of `rows` files, one flip at a time.
void Index(int flips) {
  std::string text;
  for (int row = 0; row < 3000; row++) {
    text += "C:\\Sicherung\\Ordner " + std::to_string(row / 40) + "\\Datei " + std::to_string(row * 7919 % 10007) +
            ".txt\r\n";
  }
  Bytes index(text.begin(), text.end());
  Bytes stream = EncodeCompressedStream(index.data(), index.size(), EncoderMode::Balanced, true);
  uint64_t state = 9;
  int counts[7] = {};
  int wrong = 0;
  double worst = 0;
  for (int i = 0; i < flips; i++) {
    Bytes spoilt = stream;
    uint32_t bit = Random(state) % uint32_t(stream.size() * 8);
    spoilt[bit / 8] ^= uint8_t(1u << (bit % 8));
    Clock::time_point start = Clock::now();
    StreamRepair repair =
        RepairStream(spoilt.data(), uint32_t(spoilt.size()), uint32_t(index.size()), RepairOptions{2, nullptr});
    worst = std::max(worst, Seconds(start));
    counts[int(repair.outcome)]++;
    if (repair.outcome == RepairOutcome::Repaired) {
      RepairApply(spoilt.data(), repair.places[0]);
      Bytes out(index.size());
      uint32_t written = 0;
      if (!DecodeCompressedStreamChecked(spoilt.data(), uint32_t(spoilt.size()), out.data(), uint32_t(index.size()),
                                         &written) ||
          out != index) {
        wrong++;
      }
    }
  }
  printf(
      "index: 3,000 rows, %zu bytes packed, %d single flips, -j 2: %d repaired (every name back), %d unproven, "
      "%d ambiguous, %d whole as they stood, %d other; %d wrong; %.2f s the slowest\n",
      stream.size(), flips, counts[int(RepairOutcome::Repaired)], counts[int(RepairOutcome::Unproven)],
      counts[int(RepairOutcome::Ambiguous)], counts[int(RepairOutcome::Whole)],
      flips - counts[int(RepairOutcome::Repaired)] - counts[int(RepairOutcome::Unproven)] -
          counts[int(RepairOutcome::Ambiguous)] - counts[int(RepairOutcome::Whole)],
      wrong, worst);
  fflush(stdout);
}

// A mixed backup: compressed texts of 2 to 20 KB, every fourth entry
// stored. 1,000 flips, each on the sound archive, each repaired as rescue
// does and compared with the original.
void Flips(int flips) {
  std::vector<PackEntry> entries;
  std::vector<Bytes> originals;
  uint64_t state = 3;
  for (int i = 0; i < 60; i++) {
    Bytes data = SampleProse(2000 + Random(state) % 18000, uint32_t(i + 100));
    originals.push_back(data);
    entries.push_back(i % 4 == 3 ? StoredEntry(data) : CompressedEntry(data));
  }
  Bytes archive = BuildArchive(entries);
  std::vector<size_t> offsets;
  for (size_t at = 0; at + 8 <= archive.size();) {
    offsets.push_back(at);
    uint32_t packed =
        uint32_t(archive[at + 4] | archive[at + 5] << 8 | archive[at + 6] << 16 | uint32_t(archive[at + 7]) << 24);
    at += 8 + packed;
  }
  int header = 0, stored = 0, storedRepaired = 0, compressed = 0, repaired = 0, wrong = 0, whole = 0;
  int counts[7] = {};
  Clock::time_point start = Clock::now();
  for (int i = 0; i < flips; i++) {
    uint64_t bit = uint64_t(Random(state)) * archive.size() * 8 >> 32;
    size_t byte = size_t(bit / 8);
    size_t e = 0;
    while (e + 1 < offsets.size() && offsets[e + 1] <= byte) e++;
    if (byte < offsets[e] + 8) {  // the sizes: the salvage walk's to judge, not the repair's
      header++;
      continue;
    }
    const Bytes& original = originals[e];
    size_t from = offsets[e] + 8;
    size_t at = offsets[e];
    uint32_t packed =
        uint32_t(archive[at + 4] | archive[at + 5] << 8 | archive[at + 6] << 16 | uint32_t(archive[at + 7]) << 24);
    Bytes stream(archive.begin() + long(from), archive.begin() + long(from + packed));
    stream[byte - from] ^= uint8_t(1u << (bit % 8));
    if (!entries[e].compressed) {
      // Nothing proves a stored entry: rescue never tries one, and the
      // repair of its bytes as a stream finds nothing to stand on.
      stored++;
      StreamRepair repair = RepairStream(stream.data(), packed, uint32_t(original.size()), RepairOptions{2, nullptr});
      storedRepaired += repair.outcome == RepairOutcome::Repaired;
      continue;
    }
    compressed++;
    StreamRepair repair = RepairStream(stream.data(), packed, uint32_t(original.size()), RepairOptions{2, nullptr});
    counts[int(repair.outcome)]++;
    if (repair.outcome == RepairOutcome::Whole) whole++;
    if (repair.outcome != RepairOutcome::Repaired) continue;
    RepairApply(stream.data(), repair.places[0]);
    Bytes out(original.size());
    uint32_t written = 0;
    bool right = DecodeCompressedStreamChecked(stream.data(), packed, out.data(), uint32_t(out.size()), &written) &&
                 out == original;
    repaired += right;
    wrong += !right;
  }
  printf(
      "flips: %d in a backup of %zu entries (%zu bytes): %d in compressed entries: %d repaired, %d unproven, %d "
      "ambiguous, %d none, %d whole as they stood (flips past a stream's end code); %d in stored entries, %d "
      "called repaired; %d in headers; %d repairs wrong; %.1f s\n",
      flips, offsets.size(), archive.size(), compressed, repaired, counts[int(RepairOutcome::Unproven)],
      counts[int(RepairOutcome::Ambiguous)], counts[int(RepairOutcome::None)], whole, stored, storedRepaired, header,
      wrong, Seconds(start));
  fflush(stdout);
}

// What each idea gives on one entry of 8 KiB packed, at the same flips.
void Ideas() {
  Bytes data, stream;
  PackedText(8192, &data, &stream);
  struct Way {
    const char* what;
    RepairOptions options;
  } WAYS[] = {
      {"all ideas, -j 2", RepairOptions{2, nullptr, true, true}},
      {"all ideas, -j 1", RepairOptions{1, nullptr, true, true}},
      {"no meeting, -j 1", RepairOptions{1, nullptr, true, false}},
      {"no checkpoints, -j 1", RepairOptions{1, nullptr, false, true}},
  };
  for (const Way& way : WAYS) {
    uint64_t state = 5;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < 3; i++) {
      Bytes spoilt = stream;
      uint32_t bit = uint32_t(STREAM_HEADER_SIZE * 8 + Random(state) % ((stream.size() - STREAM_HEADER_SIZE) * 8));
      spoilt[bit / 8] ^= uint8_t(1u << (bit % 8));
      RepairStream(spoilt.data(), uint32_t(spoilt.size()), uint32_t(data.size()), way.options);
    }
    printf("ideas: %zu bytes packed, %s: %.3f s per repair\n", stream.size(), way.what, Seconds(start) / 3);
    fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> goals(argv + 1, argv + argc);
  if (goals.empty()) goals = {"entry64k", "entry1m", "index", "flips", "ideas"};
  for (const std::string& goal : goals) {
    if (goal == "entry64k") {
      OneEntry("entry64k", 65536, 2, 3);
    } else if (goal == "entry1m") {
      OneEntry("entry1m", 1 << 20, 2, 1);
    } else if (goal == "index") {
      Index(30);
    } else if (goal == "flips") {
      Flips(1000);
    } else if (goal == "ideas") {
      Ideas();
    } else {
      fprintf(stderr, "unknown goal %s\n", goal.c_str());
      return 2;
    }
  }
  return 0;
}
