// packtool find over a folder of many backups, as a user runs it (the built
// binary, one process per run): the time and the peak resident memory of a
// search for one file in every backup, for every file in every backup, and
// the same with --verify (decoding the matching entries).
//
//   find_bench [ARCHIVES [ROWS [FOLDER]]]   (defaults: 1000, 1000, find_bench_data)
//
// The folder is made once and reused when it holds the archives already, so
// every run after the first finds them in the page cache.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/packtool/child_run.h"
#include "tests/support/pack_writer.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Distinct file contents, encoded once: the test encoder is slow. Each
// archive takes them in another rotation, so a file's content changes now
// and then from one backup to the next, as a file that is worked on does.
constexpr int CONTENTS = 61;
constexpr size_t CONTENT_SIZE = 300;
constexpr int RUNS = 3;

std::string RowText(uint32_t row) {
  return "C:\\Daten\\Ordner" + std::to_string(row / 50) + "\\Datei" + std::to_string(row) + ".txt";
}

Bytes Content(int kind) {
  std::string text;
  while (text.size() < CONTENT_SIZE) text += "Zeile " + std::to_string(text.size() * (kind + 3)) + " der Datei\r\n";
  return Bytes(text.begin(), text.begin() + CONTENT_SIZE);
}

std::string ArchiveName(uint32_t number) {
  char name[32];
  snprintf(name, sizeof name, "backup-%05u.zip", number);
  return name;
}

// The archives in folder, made where missing.
bool MakeFolder(const std::filesystem::path& folder, uint32_t archives, uint32_t rows) {
  std::filesystem::create_directories(folder);
  // Each entry as the archive holds it: header, then data.
  auto whole = [](const Bytes& content) {
    Bytes entry;
    Bytes data = EntryBytes(CompressedEntry(content));
    AppendRawEntry(entry, uint32_t(content.size()), uint32_t(data.size()), data);
    return entry;
  };
  std::vector<Bytes> entries;
  for (int kind = 0; kind < CONTENTS; kind++) entries.push_back(whole(Content(kind)));
  std::string index;
  for (uint32_t row = 0; row < rows; row++) index += RowText(row) + "\r\n";
  Bytes indexEntry = whole(Bytes(index.begin(), index.end()));
  for (uint32_t number = 0; number < archives; number++) {
    std::filesystem::path path = folder / ArchiveName(number);
    if (std::filesystem::exists(path)) continue;
    Bytes archive = indexEntry;
    for (uint32_t row = 1; row < rows; row++) {
      // A file changes every 100 backups, each at another one.
      const Bytes& entry = entries[(row + (number + row) / 100) % CONTENTS];
      archive.insert(archive.end(), entry.begin(), entry.end());
    }
    if (!WriteFileBytes(path.string(), archive)) return false;
  }
  return true;
}

// The median of RUNS runs, and the largest peak.
void Measure(const char* what, const std::string& tool, const std::vector<std::string>& arguments, uint32_t archives,
             uint32_t rows) {
  std::vector<double> times;
  long peak = 0;
  std::vector<std::string> words{tool};
  words.insert(words.end(), arguments.begin(), arguments.end());
  for (int i = 0; i < RUNS; i++) {
    ChildRun run = RunChild(words);
    if (run.seconds < 0) {
      printf("find %-28s FAILED (exit code %d)\n", what, run.exitCode);
      return;
    }
    times.push_back(run.seconds);
    peak = std::max(peak, run.peakKib);
  }
  printf("find %-28s over %u archives of %u rows: %7.2f s, peak resident %6.1f MB\n", what, archives, rows,
         Median(times), peak / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t archives = argc > 1 ? uint32_t(atoi(argv[1])) : 1000;
  uint32_t rows = argc > 2 ? uint32_t(atoi(argv[2])) : 1000;
  std::filesystem::path folder = argc > 3 ? argv[3] : "find_bench_data";
  if (archives == 0 || rows < 2) {
    fprintf(stderr, "find_bench [ARCHIVES [ROWS [FOLDER]]]\n");
    return 1;
  }
  folder /= std::to_string(archives) + "x" + std::to_string(rows);
  if (!MakeFolder(folder, archives, rows)) {
    fprintf(stderr, "find_bench: cannot write the archives into %s\n", folder.string().c_str());
    return 1;
  }
  std::string tool = PACKTOOL_PATH;
  std::string one = "*\\" + RowText(rows / 2).substr(RowText(rows / 2).rfind('\\') + 1);
  Measure("of one file", tool, {"find", one, folder.string()}, archives, rows);
  Measure("of one file --verify", tool, {"find", "--verify", one, folder.string()}, archives, rows);
  Measure("of every file (\"*\")", tool, {"find", "*", folder.string()}, archives, rows);
  return 0;
}
