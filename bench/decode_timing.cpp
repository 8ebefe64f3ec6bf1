// The decode benchmark for builds without Google Benchmark (the win32 build,
// run under Wine): the same data and codecs, timed with a steady clock, and
// the same summary line. libdeflate has no MinGW build here.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "bench/bench_corpus.h"

namespace {

constexpr double MIN_SECONDS = 1.0;
constexpr int MIN_ROUNDS = 3;

template <typename Body>
double MegabytesPerSecond(size_t bytesPerRound, Body body) {
  auto start = std::chrono::steady_clock::now();
  int rounds = 0;
  double elapsed = 0;
  while (rounds < MIN_ROUNDS || elapsed < MIN_SECONDS) {
    body();
    rounds++;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return double(bytesPerRound) * rounds / 1e6 / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  auto start = std::chrono::steady_clock::now();
  std::vector<BenchEntry> entries = GatherBenchEntries(DataFolderArgument(argc, argv));
  CompressBenchEntries(entries);
  EntrySet entrySet = CutIntoEntries(entries);
  double prepared = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Bytes output(LargestEntry(entries));
  printf("data gathered and compressed in %.1f s; %zu entries of 4 to 64 KiB, %zu bytes\n", prepared,
         entrySet.entries.size(), entrySet.totalBytes);
  PrintRatios(entries);
  if (!CheckBenchEntries(entries) || !CheckBenchEntries(entrySet.slices)) return 1;

  std::vector<const BenchEntry*> streams;
  for (const BenchEntry& e : entries) streams.push_back(&e);
  struct {
    const char* name;
    const std::vector<const BenchEntry*>* set;
    size_t total;
  } sets[] = {{"streams", &streams, TotalOriginalBytes(entries)},
              {"entries", &entrySet.entries, entrySet.totalBytes}};
  volatile size_t sink = 0;
  for (const auto& s : sets) {
    auto decodeAll = [&](size_t (*decode)(const Bytes&, uint8_t*, size_t), Bytes BenchEntry::*packed) {
      return MegabytesPerSecond(s.total, [&] {
        for (const BenchEntry* e : *s.set) sink = sink + decode(e->*packed, output.data(), e->original.size());
      });
    };
    double ours = decodeAll(DecodeOurs, &BenchEntry::ours);
    double zlib = decodeAll(DecodeZlib, &BenchEntry::zlib);
    double copy = MegabytesPerSecond(s.total, [&] {
      for (const BenchEntry* e : *s.set) memcpy(output.data(), e->original.data(), e->original.size());
      sink = sink + output[0];
    });
    printf("decode MB/s (%s): ours %.0f, zlib %.0f, libdeflate n/a, memcpy %.0f; ours/zlib %.2f\n", s.name, ours, zlib,
           copy, ours / zlib);
  }
  return 0;
}
