#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

void Require(bool condition) {
  if (!condition) abort();
}

const std::string& ScratchPath(const char* role) {
  static std::map<std::string, std::string> paths;
  std::string& path = paths[role];
  if (path.empty()) {
    path = (std::filesystem::temp_directory_path() /
            ("fuzz_" + std::string(role) + "_" + std::to_string(getpid()) + ".bin"))
               .string();
  }
  return path;
}

uint64_t ResidentBytes() {
#ifdef __linux__
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long long total = 0, resident = 0;
  int fields = fscanf(statm, "%llu %llu", &total, &resident);
  fclose(statm);
  return fields == 2 ? resident * uint64_t(sysconf(_SC_PAGESIZE)) : 0;
#else
  return 0;
#endif
}

void RequireResidentGrowth(uint64_t before, uint64_t allowed) {
  uint64_t now = ResidentBytes();
  if (now > before && now - before > allowed + RESIDENT_SLACK) {
    fprintf(stderr, "cost: resident memory grew by %llu bytes, allowed %llu + %llu\n",
            static_cast<unsigned long long>(now - before), static_cast<unsigned long long>(allowed),
            static_cast<unsigned long long>(RESIDENT_SLACK));
    abort();
  }
}
