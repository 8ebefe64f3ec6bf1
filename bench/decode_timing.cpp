// The decode benchmark for builds without Google Benchmark (the win32 build,
// run under Wine): the same data and codecs, timed with a steady clock and
// by the process's CPU time, and the same summary line. On a shared machine
// the CPU time is the steadier figure; the summary gives both.
// libdeflate has no MinGW build here.
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "bench/bench_corpus.h"

namespace {

constexpr double TURN_SECONDS = 0.25;
constexpr int TURNS = 4;

// Seconds of CPU time the process has used (user and kernel).
double ProcessSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;  // 100 ns units
  };
  return seconds(kernel) + seconds(user);
#else
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
#endif
}

struct Rate {
  double wall = 0;  // MB/s by the steady clock
  double cpu = 0;   // MB/s by the process's CPU time
};

// Rates of `bodies` (each decodes bytesPerRound once), taken in turns of at
// least TURN_SECONDS each, so that a change in the machine's load while it
// runs falls on each of them alike: their ratio is what the benchmark is for.
// A turn is long against the tick of the process's CPU time.
template <size_t N, typename Body>
std::array<Rate, N> MegabytesPerSecond(size_t bytesPerRound, const std::array<Body, N>& bodies) {
  std::array<double, N> wall{}, cpu{};
  std::array<int, N> rounds{};
  for (int turn = 0; turn < TURNS; turn++) {
    for (size_t i = 0; i < N; i++) {
      auto start = std::chrono::steady_clock::now();
      double cpuStart = ProcessSeconds();
      double elapsed = 0;
      do {
        bodies[i]();
        rounds[i]++;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      } while (elapsed < TURN_SECONDS);
      wall[i] += elapsed;
      cpu[i] += ProcessSeconds() - cpuStart;
    }
  }
  std::array<Rate, N> rates;
  for (size_t i = 0; i < N; i++) {
    double megabytes = double(bytesPerRound) * rounds[i] / 1e6;
    rates[i] = Rate{megabytes / wall[i], cpu[i] > 0 ? megabytes / cpu[i] : 0};
  }
  return rates;
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
  printf("our decoder's fast loop: %s\n", OursFastLoop());
  PrintRatios(entries);
  if (!CheckBenchEntries(entries) || !CheckBenchEntries(entrySet.slices)) return 1;

  std::vector<const BenchEntry*> streams;
  for (const BenchEntry& e : entries) streams.push_back(&e);
  struct {
    const char* name;
    const std::vector<const BenchEntry*>* set;
    size_t total;
  } sets[] = {{"streams", &streams, TotalOriginalBytes(entries)}, {"entries", &entrySet.entries, entrySet.totalBytes}};
  volatile size_t sink = 0;
  for (const auto& s : sets) {
    auto decodeAll = [&](size_t (*decode)(const Bytes&, uint8_t*, size_t), Bytes BenchEntry::*packed) {
      return std::function<void()>([&, decode, packed] {
        for (const BenchEntry* e : *s.set) sink = sink + decode(e->*packed, output.data(), e->original.size());
      });
    };
    auto copyAll = std::function<void()>([&] {
      for (const BenchEntry* e : *s.set) memcpy(output.data(), e->original.data(), e->original.size());
      sink = sink + output[0];
    });
    auto [ours, zlib, copy] = MegabytesPerSecond(
        s.total, std::array{decodeAll(DecodeOurs, &BenchEntry::ours), decodeAll(DecodeZlib, &BenchEntry::zlib), copyAll});
    printf("decode MB/s (%s): ours %.0f, zlib %.0f, libdeflate n/a, memcpy %.0f; ours/zlib %.2f\n", s.name, ours.wall,
           zlib.wall, copy.wall, ours.wall / zlib.wall);
    printf("decode MB/s by CPU time (%s): ours %.0f, zlib %.0f, memcpy %.0f; ours/zlib %.2f\n", s.name, ours.cpu,
           zlib.cpu, copy.cpu, zlib.cpu > 0 ? ours.cpu / zlib.cpu : 0.0);
  }
  return 0;
}
