// Decode speed, in MB/s of output (1 MB = 10^6 bytes), on the same original
// data for every codec: our decoder on streams from the test encoder, zlib's
// inflate and libdeflate on raw deflate (level 6) made by themselves, and
// memcpy of the original as the ceiling. Two data sets: the few big streams,
// and ENTRY_COUNT entries of 4 to 64 KiB decoded one by one (the restore
// path). A measurement, not a test.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench/bench_corpus.h"

namespace {

std::vector<const BenchEntry*> streams;
EntrySet entrySet;
Bytes output;

using Decode = size_t (*)(const Bytes&, uint8_t*, size_t);

size_t TotalBytes(const std::vector<const BenchEntry*>& set) {
  size_t total = 0;
  for (const BenchEntry* e : set) total += e->original.size();
  return total;
}

void DecodeAll(benchmark::State& state, const std::vector<const BenchEntry*>* set, Decode decode,
               Bytes BenchEntry::*packed) {
  for (auto _ : state) {
    for (const BenchEntry* e : *set) benchmark::DoNotOptimize(decode(e->*packed, output.data(), e->original.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(TotalBytes(*set)));
}

void CopyAll(benchmark::State& state, const std::vector<const BenchEntry*>* set) {
  for (auto _ : state) {
    for (const BenchEntry* e : *set) memcpy(output.data(), e->original.data(), e->original.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(TotalBytes(*set)));
}

// The console output as usual, without colour codes (so the summary lines
// stand at the start of their lines in a pipe too), and each benchmark's
// rate (by wall clock) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.real_accumulated_time <= 0) continue;
      auto bytes = run.counters.find("bytes_per_second");
      if (bytes == run.counters.end()) continue;
      // The counter is per CPU second; scaled back to bytes, then per wall-clock second.
      double total = bytes->second.value * run.cpu_accumulated_time;
      rates[run.run_name.function_name] = total / 1e6 / run.real_accumulated_time;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

void PrintSummary(const char* set, std::map<std::string, double>& rates) {
  std::string prefix = std::string("decode/") + set + "/";
  double ours = rates[prefix + "ours"];
  double libdeflate = rates[prefix + "libdeflate"];
  printf("decode MB/s (%s): ours %.0f, zlib %.0f, libdeflate %.0f, memcpy %.0f; ours/libdeflate %.2f\n", set, ours,
         rates[prefix + "zlib"], libdeflate, rates[prefix + "memcpy"], libdeflate > 0 ? ours / libdeflate : 0.0);
  // Where the rest of the difference lies: the same streams decoded without
  // the checksum test (the field set to 0), which raw deflate does not have.
  double unchecked = rates[prefix + "ours-unchecked"];
  printf("decode MB/s (%s), ours without its checksum test: %.0f; /libdeflate %.2f\n", set, unchecked,
         libdeflate > 0 ? unchecked / libdeflate : 0.0);
  // The checksum on a second core beside the decoding (streams of 4 MiB and more), by wall time.
  double beside = rates[prefix + "ours-beside"];
  printf("decode MB/s (%s), ours with the checksum beside the decoding: %.0f; /libdeflate %.2f (wall time)\n", set,
         beside, libdeflate > 0 ? beside / libdeflate : 0.0);
  double checked = rates[prefix + "libdeflate+adler32"];
  printf("decode MB/s (%s), both checking a checksum: ours %.0f, libdeflate+adler32 %.0f; ratio %.2f\n", set, ours,
         checked, checked > 0 ? ours / checked : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  auto start = std::chrono::steady_clock::now();
  static std::vector<BenchEntry> entries = GatherBenchEntries(DataFolderArgument(argc, argv));
  CompressBenchEntries(entries);
  entrySet = CutIntoEntries(entries);
  double prepared = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const BenchEntry& e : entries) streams.push_back(&e);
  output.resize(LargestEntry(entries));
  printf("data gathered and compressed in %.1f s; %zu entries of 4 to 64 KiB, %zu bytes\n", prepared,
         entrySet.entries.size(), entrySet.totalBytes);
  printf("our decoder's fast loop: %s\n", OursFastLoop());
  PrintRatios(entries);
  if (!CheckBenchEntries(entries) || !CheckBenchEntries(entrySet.slices)) return 1;

  const double minTime = 1.0;
  struct {
    const char* name;
    const std::vector<const BenchEntry*>* set;
  } sets[] = {{"streams", &streams}, {"entries", &entrySet.entries}};
  for (const auto& s : sets) {
    std::string prefix = std::string("decode/") + s.name + "/";
    benchmark::RegisterBenchmark((prefix + "ours").c_str(), DecodeAll, s.set, DecodeOurs, &BenchEntry::ours)
        ->MinTime(minTime);
    benchmark::RegisterBenchmark((prefix + "ours-beside").c_str(), DecodeAll, s.set, DecodeOursBeside,
                                 &BenchEntry::ours)
        ->MinTime(minTime);
    benchmark::RegisterBenchmark((prefix + "ours-unchecked").c_str(), DecodeAll, s.set, DecodeOurs,
                                 &BenchEntry::oursUnchecked)
        ->MinTime(minTime);
    benchmark::RegisterBenchmark((prefix + "zlib").c_str(), DecodeAll, s.set, DecodeZlib, &BenchEntry::zlib)
        ->MinTime(minTime);
    benchmark::RegisterBenchmark((prefix + "libdeflate").c_str(), DecodeAll, s.set, DecodeLibdeflate,
                                 &BenchEntry::libdeflate)
        ->MinTime(minTime);
    benchmark::RegisterBenchmark((prefix + "libdeflate+adler32").c_str(), DecodeAll, s.set, DecodeLibdeflateAdler32,
                                 &BenchEntry::libdeflate)
        ->MinTime(minTime);
    benchmark::RegisterBenchmark((prefix + "memcpy").c_str(), CopyAll, s.set)->MinTime(minTime);
  }
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const auto& s : sets) PrintSummary(s.name, reporter.rates);
  return 0;
}
