// packtool on a large archive of many entries, as a user runs it (the built
// binary, a process per run): extract of the last entry against extract of
// the first (skipping the entries in between reads only their headers, so
// the two should cost alike), list (headers only), and verify's throughput
// against the decoder alone on the same streams in the same run.
//
//   packtool_bench [MEGABYTES [FOLDER [ENTRY_KIB]]]   (defaults: 1024, packtool_bench_data, 64)
//
// The archive is written first, so every run finds it in the page cache.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/packtool/child_run.h"
#include "pack/decoder.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr double MEGABYTE = 1e6;
// Distinct entry contents (about this many bytes of them), encoded once and
// repeated through the archive: the test encoder is slow, the decoder is not.
constexpr size_t DISTINCT_BYTES = 4 << 20;
constexpr int DISTINCT_MIN = 8;
// Every STORED_EVERY-th entry is stored, the others compressed.
constexpr int STORED_EVERY = 8;
constexpr int EXTRACT_RUNS = 9;
constexpr int VERIFY_RUNS = 3;

// Text-like contents with near and far repeats and some noise.
Bytes EntryData(uint32_t seed, size_t size) {
  static const char* WORDS[] = {"Sicherung ",         "Datei ",      "exportieren ",
                                "\xE4nderung ",       "C:\\Daten\\", "\r\n",
                                "Wiederherstellung ", "2024-05-17 ", "Bericht_"};
  Bytes data;
  uint32_t state = seed * 2654435761u + 7;
  while (data.size() < size) {
    state = state * 1103515245u + 12345u;
    uint32_t pick = (state >> 16) % 12;
    if (pick < 9) {
      for (const char* at = WORDS[pick]; *at != 0 && data.size() < size; at++) data.push_back(uint8_t(*at));
    } else {
      data.push_back(uint8_t(state >> 8));
    }
  }
  return data;
}

struct Archive {
  std::string path;
  size_t entrySize = 0;
  uint32_t count = 0;  // entries after the index; 0: as many as fill the size asked for
  int distinct = 0;
  uint32_t entries = 0;  // the index included
  uint64_t packedBytes = 0;
  uint64_t unpackedBytes = 0;
  std::vector<Bytes> streams;  // `distinct` compressed streams
  std::vector<Bytes> originals;
};

void Append(FILE* out, uint32_t unpacked, const Bytes& data, Archive& archive) {
  Bytes header;
  AppendRawEntry(header, unpacked, uint32_t(data.size()), {});
  fwrite(header.data(), 1, header.size(), out);
  fwrite(data.data(), 1, data.size(), out);
  archive.packedBytes += header.size() + data.size();
  archive.unpackedBytes += unpacked;
  archive.entries++;
}

// Entry 0 is the index: one row per entry, the index's own row first.
bool MakeArchive(Archive& archive, uint64_t targetBytes) {
  archive.distinct = std::max(DISTINCT_MIN, int(DISTINCT_BYTES / archive.entrySize));
  for (int i = 0; i < archive.distinct; i++) {
    archive.originals.push_back(EntryData(uint32_t(i), archive.entrySize));
    const Bytes& data = archive.originals.back();
    archive.streams.push_back(EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true));
  }
  uint64_t averagePacked = 0;
  for (int i = 0; i < archive.distinct; i++) {
    averagePacked += i % STORED_EVERY == 0 ? archive.entrySize : archive.streams[i].size();
  }
  averagePacked = averagePacked / archive.distinct + 8;
  uint32_t count = archive.count != 0 ? archive.count : uint32_t(targetBytes / averagePacked);

  std::string index = "C:\\Sicherung\\Index.txt\r\n";
  for (uint32_t entry = 1; entry <= count; entry++) {
    index += "C:\\Daten\\Ordner" + std::to_string(entry / 100) + "\\Datei" + std::to_string(entry) + ".txt\r\n";
  }
  FILE* out = fopen(archive.path.c_str(), "wb");
  if (out == nullptr) return false;
  setvbuf(out, nullptr, _IOFBF, 1 << 20);
  Append(out, uint32_t(index.size()), Bytes(index.begin(), index.end()), archive);
  for (uint32_t entry = 1; entry <= count; entry++) {
    int kind = int(entry % archive.distinct);
    uint32_t size = uint32_t(archive.entrySize);
    Append(out, size, kind % STORED_EVERY == 0 ? archive.originals[kind] : archive.streams[kind], archive);
  }
  return fclose(out) == 0;
}

// Wall time of one packtool run, its output thrown away; negative when it
// failed (ended with another code than `expected`). *peakKib receives its
// peak resident memory.
double RunSeconds(const std::string& tool, const std::vector<std::string>& arguments, int expected = 0,
                  long* peakKib = nullptr, double* cpuSeconds = nullptr) {
  std::vector<std::string> words{tool};
  words.insert(words.end(), arguments.begin(), arguments.end());
  ChildRun run = RunChild(words, expected);
  if (peakKib != nullptr) *peakKib = run.peakKib;
  if (cpuSeconds != nullptr) *cpuSeconds = run.cpuSeconds;
  return run.seconds;
}

// Median of runs, or negative when any run failed.
double MedianSeconds(const std::string& tool, const std::vector<std::string>& arguments, int runs) {
  std::vector<double> times;
  for (int run = 0; run < runs; run++) {
    double seconds = RunSeconds(tool, arguments);
    if (seconds < 0) return -1;
    times.push_back(seconds);
  }
  return Median(times);
}

// The decoder alone over the archive's entries in order (stored ones copied).
double DecoderSeconds(const Archive& archive) {
  Bytes output(archive.entrySize);
  uint32_t size = uint32_t(archive.entrySize);
  auto start = Clock::now();
  for (uint32_t entry = 1; entry < archive.entries; entry++) {
    int kind = int(entry % archive.distinct);
    if (kind % STORED_EVERY == 0) {
      memcpy(output.data(), archive.originals[kind].data(), size);
      continue;
    }
    const Bytes& stream = archive.streams[kind];
    if (DecodeCompressedStream(stream.data(), uint32_t(stream.size()), output.data(), size) != size) {
      return -1;
    }
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A 26-byte archive whose index claims 2 GiB - 1 unpacked bytes and holds a
// stream of a few literals: it must cost what its bytes cost.
void HostileClaim(const std::string& tool, const std::filesystem::path& folder) {
  Bytes archive = HostileClaimArchive(0x7FFFFFFF);
  std::string path = (folder / "hostile.zip").string();
  WriteFileBytes(path, archive);
  for (const char* command : {"list", "verify"}) {
    long peak = 0;
    double seconds = RunSeconds(tool, {command, path}, 4, &peak);
    printf("%-6s of a %zu-byte archive claiming 2 GiB: %8.2f ms, peak resident %6.1f MB%s\n", command, archive.size(),
           seconds * 1e3, peak / 1024.0, seconds < 0 ? " (FAILED: not exit code 4)" : "");
  }
}

// The packed size of entry `entry`'s header gets a high byte: its data now
// runs far past the end of the file.
bool SpoilHeader(const std::string& path, uint32_t entry) {
  FILE* file = fopen(path.c_str(), "r+b");
  if (file == nullptr) return false;
  uint8_t header[8];
  uint64_t at = 0;
  for (uint32_t passed = 0; passed < entry; passed++) {
    fseek(file, long(at), SEEK_SET);
    if (fread(header, 1, 8, file) != 8) {
      fclose(file);
      return false;
    }
    at += 8 + (uint32_t(header[4]) | uint32_t(header[5]) << 8 | uint32_t(header[6]) << 16 | uint32_t(header[7]) << 24);
  }
  fseek(file, long(at + 7), SEEK_SET);
  fputc(0x7F, file);
  return fclose(file) == 0;
}

// For SoundAndSpoilt: the entry in the middle of the archive.
constexpr uint32_t MIDDLE_ENTRY = UINT32_MAX;

// A sound archive of 100 MB in entries of 64 KiB, made at `name`, and a
// copy of it beside with the header of entry `spoilt` corrupted; the
// copy's path, or "" when they could not be made.
std::string SoundAndSpoilt(const std::filesystem::path& folder, const std::string& name, uint32_t spoilt,
                           Archive* archive) {
  archive->entrySize = 64 << 10;
  archive->path = (folder / (name + ".zip")).string();
  if (!MakeArchive(*archive, 100ull << 20)) return "";
  std::string damaged = (folder / (name + "-damaged.zip")).string();
  std::filesystem::copy_file(archive->path, damaged, std::filesystem::copy_options::overwrite_existing);
  return SpoilHeader(damaged, spoilt == MIDDLE_ENTRY ? archive->entries / 2 : spoilt) ? damaged : "";
}

// A folder in memory for files written, so that the disk does not set the
// pace; the bench's own folder where there is none.
std::filesystem::path MemoryFolder(const std::filesystem::path& folder, const char* name) {
  std::filesystem::path memory = std::filesystem::exists("/dev/shm") ? "/dev/shm" : folder;
  return memory / (std::string(name) + "-" + std::to_string(getpid()));
}

// rescue -j 2 against -j 1, of a sound archive and of one with a corrupted
// header in the middle, alternating in one run; the files go to a
// memory-backed folder, so that the disk does not set the pace.
void RescueJobs(const std::string& tool, const std::filesystem::path& folder) {
  Archive archive;
  std::string damaged = SoundAndSpoilt(folder, "rescue-jobs", MIDDLE_ENTRY, &archive);
  if (damaged.empty()) return;
  std::filesystem::path out = MemoryFolder(folder, "packtool-bench-rescue");
  std::vector<double> runs[2][2];  // [sound, damaged][-j 1, -j 2]
  const char* jobs[2] = {"1", "2"};
  for (int run = 0; run < VERIFY_RUNS; run++) {
    for (int a = 0; a < 2; a++) {
      for (int j = 0; j < 2; j++) {
        std::filesystem::remove_all(out);
        runs[a][j].push_back(
            RunSeconds(tool, {"rescue", a == 0 ? archive.path : damaged, "-d", out.string(), "-q", "-j", jobs[j]},
                       a == 0 ? 0 : 4));
      }
    }
  }
  std::filesystem::remove_all(out);
  bool failed = false;
  double median[2][2];
  for (int a = 0; a < 2; a++) {
    for (int j = 0; j < 2; j++) {
      failed = failed || *std::min_element(runs[a][j].begin(), runs[a][j].end()) < 0;
      median[a][j] = Median(runs[a][j]);
    }
  }
  printf(
      "rescue, 100 MB into %s: sound -j 1 %.3f s, -j 2 %.3f s, %.2fx; a corrupted header in the middle -j 1 %.3f s, "
      "-j 2 %.3f s, %.2fx (median of %d)%s\n",
      out.parent_path().string().c_str(), median[0][0], median[0][1], median[0][0] / median[0][1], median[1][0], median[1][1],
      median[1][0] / median[1][1], VERIFY_RUNS, failed ? " (a run FAILED)" : "");
}

// rescue of an archive with one corrupted header early on, against verify
// of the sound archive: the search past the header must not cost much.
void RescueAgainstVerify(const std::string& tool, const std::filesystem::path& folder) {
  Archive archive;
  std::string damagedPath = SoundAndSpoilt(folder, "rescue-sound", 2, &archive);
  if (damagedPath.empty()) return;
  // Wall time counts the writing of every file through to the disk; CPU time
  // (user and system) is what the walk itself costs, and holds still on a
  // busy machine.
  std::filesystem::path out = folder / "rescued";
  std::vector<double> verifies, verifyCpu, rescues, rescueCpu;
  for (int run = 0; run < VERIFY_RUNS; run++) {
    double cpu = 0;
    verifies.push_back(RunSeconds(tool, {"verify", archive.path}, 0, nullptr, &cpu));
    verifyCpu.push_back(cpu);
    std::filesystem::remove_all(out);
    rescues.push_back(RunSeconds(tool, {"rescue", damagedPath, "-d", out.string()}, 4, nullptr, &cpu));
    rescueCpu.push_back(cpu);
  }
  std::filesystem::remove_all(out);
  double verify = Median(verifies), rescue = Median(rescues);
  double verifyCpuTime = Median(verifyCpu), rescueCpuTime = Median(rescueCpu);
  bool failed =
      *std::min_element(verifies.begin(), verifies.end()) < 0 || *std::min_element(rescues.begin(), rescues.end()) < 0;
  printf(
      "rescue, 100 MB, one corrupted header: wall %.2f s, cpu %.2f s; verify of the sound archive: wall %.2f s, "
      "cpu %.2f s; rescue/verify wall %.2f, cpu %.2f%s\n",
      rescue, rescueCpuTime, verify, verifyCpuTime, rescue / verify, rescueCpuTime / verifyCpuTime,
      failed ? " (a run FAILED)" : "");
}

// verify and extract --all of 10,000 entries on one thread and on two,
// alternating in one run so that both see the same load; extract writes
// into a memory-backed folder, so that the disk does not set the pace.
void JobsAgainstOne(const std::string& tool, const std::filesystem::path& folder) {
  Archive archive;
  archive.entrySize = 32 << 10;
  archive.count = 10000;
  archive.path = (folder / "jobs.zip").string();
  if (!MakeArchive(archive, 0)) return;
  std::filesystem::path out = MemoryFolder(folder, "packtool-bench-jobs");
  std::vector<double> verify[2], extract[2];
  const char* jobs[2] = {"1", "2"};
  for (int run = 0; run < VERIFY_RUNS; run++) {
    for (int j = 0; j < 2; j++) {
      verify[j].push_back(RunSeconds(tool, {"verify", archive.path, "-j", jobs[j]}));
      std::filesystem::remove_all(out);
      extract[j].push_back(
          RunSeconds(tool, {"extract", archive.path, "--all", "-d", out.string(), "-q", "-j", jobs[j]}));
    }
  }
  std::filesystem::remove_all(out);
  auto failed = [](const std::vector<double>& runs) { return *std::min_element(runs.begin(), runs.end()) < 0; };
  const char* note =
      failed(verify[0]) || failed(verify[1]) || failed(extract[0]) || failed(extract[1]) ? " (a run FAILED)" : "";
  double v1 = Median(verify[0]), v2 = Median(verify[1]), e1 = Median(extract[0]), e2 = Median(extract[1]);
  printf("verify, %u entries of %zu KiB: -j 1 %.3f s, -j 2 %.3f s; -j 2 against -j 1 %.2fx (median of %d)%s\n",
         archive.count, archive.entrySize >> 10, v1, v2, v1 / v2, VERIFY_RUNS, note);
  printf("extract --all into %s: -j 1 %.3f s, -j 2 %.3f s; -j 2 against -j 1 %.2fx (median of %d)%s\n",
         out.parent_path().string().c_str(), e1, e2, e1 / e2, VERIFY_RUNS, note);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t megabytes = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
  std::filesystem::path folder = argc > 2 ? argv[2] : "packtool_bench_data";
  std::filesystem::create_directories(folder);
  size_t entryKib = argc > 3 ? strtoull(argv[3], nullptr, 10) : 64;
  std::string tool = PACKTOOL_PATH;
  if (megabytes == 0 || entryKib == 0 || entryKib > (256 << 10)) {
    fprintf(stderr, "usage: packtool_bench [MEGABYTES [FOLDER [ENTRY_KIB]]]\n");
    return 2;
  }

  HostileClaim(tool, folder);
  JobsAgainstOne(tool, folder);
  RescueAgainstVerify(tool, folder);
  RescueJobs(tool, folder);

  Archive archive;
  archive.entrySize = entryKib << 10;
  archive.path = (folder / "bench.zip").string();
  auto start = Clock::now();
  if (!MakeArchive(archive, megabytes << 20)) {
    fprintf(stderr, "cannot write %s\n", archive.path.c_str());
    return 1;
  }
  printf(
      "archive: %.1f MB (%llu MiB asked), %u entries of %zu KiB (1 in %d stored), %.1f MB unpacked, made in %.1f s\n",
      archive.packedBytes / MEGABYTE, static_cast<unsigned long long>(megabytes), archive.entries,
      archive.entrySize >> 10, STORED_EVERY, archive.unpackedBytes / MEGABYTE,
      std::chrono::duration<double>(Clock::now() - start).count());

  std::string out = (folder / "extracted.bin").string();
  std::string last = std::to_string(archive.entries - 1);
  // One run first, to bring the archive into the page cache alike for all.
  double verify = MedianSeconds(tool, {"verify", archive.path}, VERIFY_RUNS);
  double first = MedianSeconds(tool, {"extract", archive.path, "1", "-o", out, "--force"}, EXTRACT_RUNS);
  double lastEntry = MedianSeconds(tool, {"extract", archive.path, last, "-o", out, "--force"}, EXTRACT_RUNS);
  double list = MedianSeconds(tool, {"list", archive.path}, EXTRACT_RUNS);
  std::vector<double> decoderRuns;
  for (int run = 0; run < VERIFY_RUNS; run++) decoderRuns.push_back(DecoderSeconds(archive));
  double decoder = *std::min_element(decoderRuns.begin(), decoderRuns.end()) < 0 ? -1 : Median(decoderRuns);
  std::filesystem::remove(out);
  if (verify < 0 || first < 0 || lastEntry < 0 || list < 0 || decoder < 0) {
    fprintf(stderr, "a run failed\n");
    return 1;
  }
  double unpacked = archive.unpackedBytes / MEGABYTE;
  printf("extract row 1 (first entry):   %8.2f ms   (median of %d runs)\n", first * 1e3, EXTRACT_RUNS);
  printf("extract row %s (last entry): %8.2f ms   last/first %.2f\n", last.c_str(), lastEntry * 1e3, lastEntry / first);
  printf("list (index + headers):        %8.2f ms\n", list * 1e3);
  printf("verify:                        %8.2f s    %7.1f MB/s of unpacked data (median of %d runs)\n", verify,
         unpacked / verify, VERIFY_RUNS);
  printf("decoder alone, same entries:   %8.2f s    %7.1f MB/s    verify/decoder %.2f (median of %d runs)\n", decoder,
         unpacked / decoder, (unpacked / verify) / (unpacked / decoder), VERIFY_RUNS);
  return 0;
}
