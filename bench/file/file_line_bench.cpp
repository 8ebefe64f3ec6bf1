// Reads a text of many short lines through FileAtEnd + FileReadLine and, in
// the same run, through fread + a split by the same line-end rules, and prints
// MB/s and system reads per MB for both.
//
//   file_line_bench [MEGABYTES [PATH]]     (defaults: 100, file_line_bench.txt)
//
// The text is written first, so both readers find it in the page cache.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "file/file.h"
#include "tests/support/counted_seam.h"

namespace {

constexpr double MEGABYTE = 1024.0 * 1024.0;

// Read system calls of this process so far, as the kernel counts them; -1
// where /proc/self/io cannot be read.
long long SystemReads() {
  FILE* io = fopen("/proc/self/io", "r");
  if (io == nullptr) return -1;
  char line[128];
  long long count = -1;
  while (fgets(line, sizeof line, io) != nullptr) {
    if (strncmp(line, "syscr:", 6) == 0) count = atoll(line + 6);
  }
  fclose(io);
  return count;
}

// Index-like rows of 4 to 60 bytes, ended by LF or CR LF.
bool WriteText(const char* path, size_t bytes) {
  FILE* out = fopen(path, "wb");
  if (out == nullptr) return false;
  std::string chunk;
  unsigned seed = 12345;
  size_t written = 0;
  while (written < bytes) {
    chunk.clear();
    while (chunk.size() < 1 << 20) {
      seed = seed * 1103515245u + 12345u;
      size_t length = 4 + (seed >> 16) % 57;
      chunk += "C:\\Daten\\";
      for (size_t i = 9; i < length; i++) chunk.push_back(char('a' + (seed >> (i % 16)) % 26));
      chunk += (seed & 0x100) != 0 ? "\r\n" : "\n";
    }
    size_t take = std::min(chunk.size(), bytes - written);
    if (fwrite(chunk.data(), 1, take, out) != take) break;
    written += take;
  }
  return fclose(out) == 0 && written == bytes;
}

struct Result {
  double seconds;
  size_t lines;
  size_t lineBytes;
  long long systemReads;
  long long libraryReads;  // reads through the seam (-1: not through it)
};

Result ReadWithFileLibrary(const char* path) {
  Result result{};
  long long before = SystemReads();
  PlatformFileCallsReset();
  auto start = std::chrono::steady_clock::now();
  if (FileOpenRead(1, path) == 0) return result;
  while (!FileAtEnd(1)) {
    String line = FileReadLine(1);
    result.lines++;
    result.lineBytes += line.Length();
  }
  FileClose(1);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.systemReads = SystemReads() - before;
  result.libraryReads = static_cast<long long>(PlatformFileCalls().reads);
  return result;
}

// The plain way: fread blocks, split them by LF, CR, CR LF and NUL, one
// owned string per line.
Result ReadWithFread(const char* path) {
  Result result{};
  result.libraryReads = -1;
  long long before = SystemReads();
  auto start = std::chrono::steady_clock::now();
  FILE* in = fopen(path, "rb");
  if (in == nullptr) return result;
  std::vector<char> block(64 * 1024);
  std::string pending;
  bool afterCr = false;
  size_t got;
  while ((got = fread(block.data(), 1, block.size(), in)) > 0) {
    const char* at = block.data();
    const char* end = at + got;
    if (afterCr && *at == '\n') at++;
    afterCr = false;
    while (at < end) {
      const char* stop = at;
      while (stop < end && *stop != '\n' && *stop != '\r' && *stop != '\0') stop++;
      if (stop == end) {
        pending.append(at, size_t(stop - at));
        break;
      }
      std::string line = pending.empty() ? std::string(at, size_t(stop - at)) : pending.append(at, size_t(stop - at));
      pending.clear();
      result.lines++;
      result.lineBytes += line.size();
      at = stop + 1;
      if (*stop == '\r') {
        if (at == end) {
          afterCr = true;
        } else if (*at == '\n') {
          at++;
        }
      }
    }
  }
  if (!pending.empty()) {
    result.lines++;
    result.lineBytes += pending.size();
  }
  fclose(in);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.systemReads = SystemReads() - before;
  return result;
}

void Print(const char* name, const Result& r, size_t bytes) {
  double megabytes = double(bytes) / MEGABYTE;
  printf("%-26s %8.1f MB/s  %10zu lines  %8.1f system reads/MB", name, megabytes / r.seconds, r.lines,
         double(r.systemReads) / megabytes);
  if (r.libraryReads >= 0) printf("  (%.1f reads/MB through the seam)", double(r.libraryReads) / megabytes);
  printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? size_t(atol(argv[1])) : 100;
  const char* path = argc > 2 ? argv[2] : "file_line_bench.txt";
  size_t bytes = megabytes * size_t(MEGABYTE);
  if (bytes == 0 || !WriteText(path, bytes)) {
    fprintf(stderr, "cannot write %zu bytes to %s\n", bytes, path);
    return 1;
  }
  ProgramHeapCreate();
  StringLibraryInit();
  MemoryLibraryInit();
  FileLibraryInit();

  printf("%zu MB of short lines in %s\n", megabytes, path);
  // Two rounds: the first also warms the caches; both are printed.
  int status = 0;
  for (int round = 1; round <= 2; round++) {
    Result library = ReadWithFileLibrary(path);
    Result plain = ReadWithFread(path);
    printf("round %d\n", round);
    Print("FileAtEnd + FileReadLine", library, bytes);
    Print("fread + split", plain, bytes);
    if (library.lines != plain.lines || library.lineBytes != plain.lineBytes) {
      fprintf(stderr, "the two readers disagree: %zu/%zu lines, %zu/%zu bytes\n", library.lines, plain.lines,
              library.lineBytes, plain.lineBytes);
      status = 1;
    }
  }
  FileLibraryEnd();
  ProgramHeapDestroy();
  remove(path);
  return status;
}
