// Decode speed, in MB/s of output (1 MB = 10^6 bytes), on the same original
// data for every codec: our decoder on streams from the test encoder, zlib's
// inflate and libdeflate on raw deflate (level 6) made by themselves, and
// memcpy of the original as the ceiling. A measurement, not a test.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench/bench_corpus.h"

namespace {

std::vector<BenchEntry> entries;
Bytes output;
size_t totalBytes;

using Decode = size_t (*)(const Bytes&, uint8_t*, size_t);

void DecodeAll(benchmark::State& state, Decode decode, Bytes BenchEntry::*packed) {
  for (auto _ : state) {
    for (const BenchEntry& e : entries) benchmark::DoNotOptimize(decode(e.*packed, output.data(), e.original.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(totalBytes));
}

void CopyAll(benchmark::State& state) {
  for (auto _ : state) {
    for (const BenchEntry& e : entries) memcpy(output.data(), e.original.data(), e.original.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(totalBytes));
}

// The console output as usual, and each benchmark's rate for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.real_accumulated_time <= 0) continue;
      double bytes = double(totalBytes) * double(run.iterations);
      rates[run.run_name.function_name] = bytes / 1e6 / run.real_accumulated_time;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  auto start = std::chrono::steady_clock::now();
  entries = GatherBenchEntries(DataFolderArgument(argc, argv));
  CompressBenchEntries(entries);
  double prepared = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  totalBytes = TotalOriginalBytes(entries);
  output.resize(LargestEntry(entries));
  printf("data gathered and compressed in %.1f s\n", prepared);
  PrintRatios(entries);
  if (!CheckBenchEntries(entries)) return 1;

  const double minTime = 1.0;
  benchmark::RegisterBenchmark("decode/ours", DecodeAll, DecodeOurs, &BenchEntry::ours)->MinTime(minTime);
  benchmark::RegisterBenchmark("decode/zlib", DecodeAll, DecodeZlib, &BenchEntry::zlib)->MinTime(minTime);
  benchmark::RegisterBenchmark("decode/libdeflate", DecodeAll, DecodeLibdeflate, &BenchEntry::libdeflate)
      ->MinTime(minTime);
  benchmark::RegisterBenchmark("decode/memcpy", CopyAll)->MinTime(minTime);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printf("decode MB/s: ours %.0f, zlib %.0f, libdeflate %.0f, memcpy %.0f\n", reporter.rates["decode/ours"],
         reporter.rates["decode/zlib"], reporter.rates["decode/libdeflate"], reporter.rates["decode/memcpy"]);
  return 0;
}
