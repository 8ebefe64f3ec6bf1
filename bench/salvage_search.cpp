// The salvage walk's search on its worst input against random data of the
// same size: bytes read from the file (the platform's counters), reads and
// time. The worst input is a 16-byte block repeated whose every 16th offset
// is a plausible header claiming just over the search's 1 MiB window. A
// measurement that prints figures, not a test; natively from the
// native-release build, in the win32 build under Wine:
//
//   build/native-release/bench/salvage_search [MEBIBYTES...]      (default: 1.5 and 8)
//   scripts/wine-run build/win32/bench/salvage_search.exe [MEBIBYTES...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/memory.h"
#include "pack/salvage.h"
#include "platform/platform.h"
#include "tests/support/counted_seam.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

namespace {

class Count : public SalvageVisitor {
 public:
  bool Entry(const SalvagedEntry&) override {
    entries++;
    return true;
  }
  void Skipped(const SalvageRange&) override {}
  uint64_t entries = 0;
};

std::vector<uint8_t> RandomBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = 2463534242u;
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x);
  }
  return bytes;
}

void Measure(const char* what, const std::vector<uint8_t>& archive) {
  const char* const path = "salvage_search.bin";
  if (!WriteFileBytes(path, archive)) {
    fprintf(stderr, "cannot write %s\n", path);
    exit(1);
  }
  ProgramHeapCreate();
  PlatformFileCallsReset();
  Count count;
  auto start = std::chrono::steady_clock::now();
  ArchiveSalvage(path, count);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  PlatformFileCallCounts calls = PlatformFileCalls();
  printf("%-7s %6.2f MiB: %12llu bytes read (%.2f times the file) in %8llu reads, %7.3f s, %llu entries\n", what,
         double(archive.size()) / (1 << 20), static_cast<unsigned long long>(calls.bytesRead),
         double(calls.bytesRead) / double(archive.size()), static_cast<unsigned long long>(calls.positionedReads),
         seconds, static_cast<unsigned long long>(count.entries));
  PlatformFileCallsReset();
  ProgramHeapDestroy();
  PlatformFileDelete(path);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<double> sizes;
  for (int i = 1; i < argc; i++) sizes.push_back(atof(argv[i]));
  if (sizes.empty()) sizes = {1.5, 8};
  for (double mebibytes : sizes) {
    size_t size = size_t(mebibytes * (1 << 20));
    Measure("thrash", ThrashArchive(size));
    Measure("random", RandomBytes(size));
  }
  return 0;
}
