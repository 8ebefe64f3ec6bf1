// packtool writing to a disk: extract --all of many small files into a
// folder on the disk against tar -x, and bsdtar -x --safe-writes (which
// stages a file and moves it only where a file is there already: into a new
// folder it writes under each name itself, where extract stages every file),
// of the same files, each with a sync after it, in one run; and cat of a large stored and a large compressed entry, with
// the peak of the process's own memory (RssAnon: anonymous pages, not the
// file pages of the page cache or of mapped files; VmHWM counts those too);
// and the peak memory of verify and extract against tar -x and unzip.
//
//   disk_bench [FOLDER [FILES [ENTRY_MIB]]]   (defaults: disk_bench_data, 20000, 400;
//                                              ENTRY_MIB 0: the small files alone)
//
// FOLDER must be on the disk to measure (not a tmpfs): check with df.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/packtool/child_run.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int RUNS = 3;
// Rounds of the small files' sides: each writes 3 x FILES files that stay on
// the disk until the last round.
constexpr int SMALL_RUNS = 5;

// A child's run: wall seconds (negative when it did not end with expected)
// and the highest RssAnon seen, sampled every millisecond.
struct Child {
  double seconds = -1;
  long peakAnonKib = 0;
};

long StatusKib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return strtol(line.c_str() + field.size(), nullptr, 10);
  }
  return 0;
}

long RssAnonKib(pid_t pid) {
  return StatusKib(pid, "RssAnon:");
}

Child Run(const std::vector<std::string>& arguments, const std::string& output = "/dev/null", int expected = 0) {
  Child child;
  child.seconds = RunChild(arguments, expected, output.c_str(), [&](pid_t pid) {
                    child.peakAnonKib = std::max(child.peakAnonKib, RssAnonKib(pid));
                  }).seconds;
  return child;
}

// extract --all of `files` stored entries of 0.2-4 KB, against tar -x of
// the same files followed by sync, alternating, into folders on the disk.
void SmallFiles(const std::string& tool, const fs::path& folder, uint32_t files) {
  std::string index = "C:\\Sicherung\\Index.txt\r\n";
  for (uint32_t entry = 1; entry <= files; entry++) {
    index += "C:\\Daten\\Ordner" + std::to_string(entry / 500) + "\\Datei" + std::to_string(entry) + ".txt\r\n";
  }
  std::vector<PackEntry> entries{StoredEntry(Bytes(index.begin(), index.end()))};
  uint64_t bytes = 0;
  for (uint32_t entry = 1; entry <= files; entry++) {
    entries.push_back(StoredEntry(SampleProse(200 + (entry * 7919) % 3897, entry)));
    bytes += entries.back().data.size();
  }
  std::string archive = (folder / "small.zip").string();
  fs::path tarFile = folder / "small.tar", runs = folder / "runs";
  // Nothing is deleted while the runs go on: ext4 passes over the inodes
  // of files deleted in the last half minute one by one when it looks for
  // a free one, which then costs both sides most of their time.
  fs::remove_all(runs);
  if (!WriteArchive(archive, entries) ||
      Run({tool, "extract", archive, "--all", "-d", (runs / "made").string()}).seconds < 0 ||
      Run({"tar", "-cf", tarFile.string(), "-C", (runs / "made").string(), "."}).seconds < 0) {
    printf("small files: could not make the archive and the tar file (FAILED)\n");
    return;
  }
  // Each side runs once per round, in an order that turns with the round,
  // so that none always follows another side's writes.
  struct Side {
    const char* name;
    std::vector<std::string> words;  // the folder to write into is appended
    std::vector<double> times;
  };
  std::vector<Side> sides{
      {"extract --all", {tool, "extract", archive, "--all", "-q", "-d"}, {}},
      {"bsdtar -x --safe-writes + sync", {"bsdtar", "-x", "--safe-writes", "-f", tarFile.string(), "-C"}, {}},
      {"tar -x + sync", {"tar", "-xf", tarFile.string(), "-C"}, {}},
  };
  // Each round's pair of times gives a ratio: the machine's load changes
  // less within a round than between rounds, so the ratios are steadier
  // than the times.
  std::vector<double> againstBsdtar, againstTar;
  for (int round = 0; round < SMALL_RUNS; round++) {
    std::vector<double> times(sides.size());
    for (size_t turn = 0; turn < sides.size(); turn++) {
      size_t index = (turn + size_t(round)) % sides.size();
      Side& side = sides[index];
      fs::path out = runs / (std::to_string(round) + "-" + std::to_string(index));
      fs::create_directories(out);
      RunChild({"sync"});
      std::vector<std::string> words = side.words;
      words.push_back(out.string());
      // Not watched: sampling the child's memory every millisecond would
      // cost it time.
      auto start = Clock::now();
      bool ran = RunChild(words).seconds >= 0;
      bool synced = RunChild({"sync"}).seconds >= 0;
      times[index] = ran && synced ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
      side.times.push_back(times[index]);
    }
    againstBsdtar.push_back(times[0] / times[1]);
    againstTar.push_back(times[0] / times[2]);
  }
  fs::remove_all(runs);
  bool failed = false;
  for (const Side& side : sides) {
    failed = failed || *std::min_element(side.times.begin(), side.times.end()) < 0;
    printf("  %-32s median %.2f s (%.2f to %.2f)\n", side.name, Median(side.times),
           *std::min_element(side.times.begin(), side.times.end()),
           *std::max_element(side.times.begin(), side.times.end()));
  }
  auto spread = [](const std::vector<double>& ratios) {
    char text[64];
    snprintf(text, sizeof text, "%.2f (%.2f to %.2f)", Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
             *std::max_element(ratios.begin(), ratios.end()));
    return std::string(text);
  };
  printf(
      "extract --all of %u small files (%.1f MB) to disk, each + sync: extract/bsdtar-safe-writes %s (goal <= 1.0), "
      "extract/tar %s (goal <= 1.2) (median of %d rounds' pairs, order turning)%s\n",
      files, bytes / 1e6, spread(againstBsdtar).c_str(), spread(againstTar).c_str(), SMALL_RUNS,
      failed ? " (a run FAILED)" : "");
}

// cat of a stored and a compressed entry of `mib` MiB each.
void LargeEntries(const std::string& tool, const fs::path& folder, size_t mib) {
  Bytes data = SampleProse(mib << 20, 1);
  std::string index = "C:\\Index.txt\r\nC:\\stored.bin\r\nC:\\packed.bin\r\n";
  auto start = Clock::now();
  std::vector<PackEntry> entries{StoredEntry(Bytes(index.begin(), index.end())), StoredEntry(data),
                                 CompressedEntry(data)};
  std::string archive = (folder / "large.zip").string();
  if (!WriteArchive(archive, entries)) {
    printf("large entries: cannot write the archive (FAILED)\n");
    return;
  }
  entries.clear();
  printf("large entries: archive of %zu MiB stored + %zu MiB compressed made in %.1f s\n", mib, mib,
         std::chrono::duration<double>(Clock::now() - start).count());
  std::string out = (folder / "cat.out").string();
  for (auto [row, kind] : {std::pair{"1", "stored"}, std::pair{"2", "compressed"}}) {
    std::vector<double> times;
    long peak = 0;
    bool same = true;
    for (int run = 0; run < RUNS; run++) {
      Child child = Run({tool, "cat", archive, row}, out);
      times.push_back(child.seconds);
      peak = std::max(peak, child.peakAnonKib);
      same = same && fs::file_size(out) == data.size();
    }
    std::ifstream written(out, std::ios::binary);
    Bytes back((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    same = same && back == data;
    bool failed = *std::min_element(times.begin(), times.end()) < 0 || !same;
    printf("cat of a %zu MiB %s entry: %.2f s, peak RssAnon %.1f MB (median time of %d)%s\n", mib, kind, Median(times),
           peak / 1024.0, RUNS, failed ? " (FAILED: a run failed or the bytes differ)" : "");
  }
  fs::remove(out);
}

// Peak memory of verify and extract --all (-j 1 and -j 2) on a backup of
// 8,000 small compressed files and one stored file of 200 MB, beside tar -x
// of a tar and unzip of a zip of the same files. Peak resident counts the
// pages of mapped files too; RssAnon only the process's own.
void PeakMemory(const std::string& tool, const fs::path& folder) {
  constexpr uint32_t FILES = 8000;
  constexpr int DISTINCT = 64;
  constexpr size_t LARGE = 200000000;
  std::vector<PackEntry> kinds;
  for (int kind = 0; kind < DISTINCT; kind++) kinds.push_back(CompressedEntry(SampleProse(1000 + kind * 150, kind)));
  std::string index = "C:\\Sicherung\\Index.txt\r\nC:\\Daten\\Film.mpg\r\n";
  for (uint32_t file = 1; file <= FILES; file++) {
    index += "C:\\Daten\\Ordner" + std::to_string(file / 200) + "\\Datei" + std::to_string(file) + ".txt\r\n";
  }
  std::vector<PackEntry> entries{StoredEntry(Bytes(index.begin(), index.end())), StoredEntry(SampleProse(LARGE, 9))};
  for (uint32_t file = 1; file <= FILES; file++) entries.push_back(kinds[file % DISTINCT]);
  std::string archive = (folder / "memory.zip").string();
  fs::path runs = folder / "memory-runs", tarFile = folder / "memory.tar", zipFile = folder / "memory-peer.zip";
  fs::remove_all(runs);
  fs::remove(zipFile);
  bool made = WriteArchive(archive, entries) &&
              Run({tool, "extract", archive, "--all", "-q", "-d", (runs / "made").string()}).seconds >= 0 &&
              Run({"sh", "-c",
                   "cd '" + (runs / "made").string() + "' && tar -cf '" + tarFile.string() + "' . && zip -q -r '" +
                       zipFile.string() + "' ."})
                      .seconds >= 0;
  entries.clear();
  if (!made) {
    printf("memory: could not make the archive and its peers (FAILED)\n");
    return;
  }
  int out = 0;
  auto next = [&] { return (runs / ("out-" + std::to_string(out++))).string(); };
  struct Measure {
    const char* name;
    std::vector<std::string> words;
  };
  std::vector<Measure> measures{
      {"packtool verify -j 1", {tool, "verify", "-q", "-j", "1", archive}},
      {"packtool verify -j 2", {tool, "verify", "-q", "-j", "2", archive}},
      {"packtool extract --all -j 1", {tool, "extract", "--all", "-q", "-j", "1", archive, "-d", next()}},
      {"packtool extract --all -j 2", {tool, "extract", "--all", "-q", "-j", "2", archive, "-d", next()}},
      {"tar -x", {"tar", "-xf", tarFile.string(), "-C", next()}},
      {"unzip", {"unzip", "-q", zipFile.string(), "-d", next()}},
  };
  printf("peak memory on %u files and a stored one of 200 MB (%.0f MB archive):\n", FILES,
         double(fs::file_size(archive)) / 1e6);
  for (Measure& measure : measures) {
    if (measure.words[0] == "tar") fs::create_directories(measure.words.back());
    // Sampled, not the child's ru_maxrss: Linux carries that over exec from
    // the process that spawned it, here this one with its archive in memory.
    long anon = 0, peak = 0;
    ChildRun run = RunChild(measure.words, 0, "/dev/null", [&](pid_t pid) {
      anon = std::max(anon, RssAnonKib(pid));
      peak = std::max(peak, StatusKib(pid, "VmHWM:"));
    });
    printf("  %-28s peak resident %6.1f MB, peak RssAnon %6.1f MB%s\n", measure.name, peak / 1024.0, anon / 1024.0,
           run.seconds < 0 ? " (FAILED)" : "");
  }
  fs::remove_all(runs);
}

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = argc > 1 ? argv[1] : "disk_bench_data";
  uint32_t files = argc > 2 ? uint32_t(strtoul(argv[2], nullptr, 10)) : 20000;
  size_t mib = argc > 3 ? strtoull(argv[3], nullptr, 10) : 400;
  if (files == 0 || mib > 2000) {
    fprintf(stderr, "usage: disk_bench [FOLDER [FILES [ENTRY_MIB]]]\n");
    return 2;
  }
  fs::create_directories(folder);
  std::string tool = PACKTOOL_PATH;
  SmallFiles(tool, folder, files);
  if (mib == 0) return 0;  // the small files alone
  LargeEntries(tool, folder, mib);
  PeakMemory(tool, folder);
  return 0;
}
