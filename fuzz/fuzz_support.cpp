#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/support/pack_writer.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

void Require(bool condition) {
  if (!condition) abort();
}

const std::string& ScratchPath(const char* role) {
  static std::map<std::string, std::string> paths;
  std::string& path = paths[role];
  if (path.empty()) {
    // In memory where the system has a folder for it: a busy disk would
    // stall the writes past the fuzzer's time limit.
    std::error_code ignored;
    std::filesystem::path folder =
        std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : std::filesystem::temp_directory_path();
    path = (folder / ("fuzz_" + std::string(role) + "_" + std::to_string(getpid()) + ".bin")).string();
  }
  return path;
}

const std::string& InputFile(const char* role, const uint8_t* data, size_t size) {
#ifdef __linux__
  static std::map<std::string, std::string> paths;
  std::string& path = paths[role];
  static std::map<std::string, int> files;
  int& file = files[role];
  if (path.empty()) {
    file = memfd_create(role, MFD_CLOEXEC);
    Require(file >= 0);
    path = "/proc/self/fd/" + std::to_string(file);
  }
  Require(ftruncate(file, 0) == 0);
  for (size_t at = 0; at < size;) {
    ssize_t put = pwrite(file, data + at, size - at, off_t(at));
    Require(put > 0);
    at += size_t(put);
  }
  return path;
#else
  const std::string& path = ScratchPath(role);
  Require(WriteFileBytes(path, std::vector<uint8_t>(data, data + size)));
  return path;
#endif
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
