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
  double prepared = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  size_t total = TotalOriginalBytes(entries);
  Bytes output(LargestEntry(entries));
  printf("data gathered and compressed in %.1f s\n", prepared);
  PrintRatios(entries);
  if (!CheckBenchEntries(entries)) return 1;

  volatile size_t sink = 0;
  auto decodeAll = [&](size_t (*decode)(const Bytes&, uint8_t*, size_t), Bytes BenchEntry::*packed) {
    return MegabytesPerSecond(total, [&] {
      for (const BenchEntry& e : entries) sink = sink + decode(e.*packed, output.data(), e.original.size());
    });
  };
  double ours = decodeAll(DecodeOurs, &BenchEntry::ours);
  double zlib = decodeAll(DecodeZlib, &BenchEntry::zlib);
  double copy = MegabytesPerSecond(total, [&] {
    for (const BenchEntry& e : entries) memcpy(output.data(), e.original.data(), e.original.size());
    sink = sink + output[0];
  });
  printf("decode MB/s: ours %.0f, zlib %.0f, libdeflate n/a, memcpy %.0f\n", ours, zlib, copy);
  return 0;
}
