// packtool.exe extract --all of many small files under Wine, against a plain
// program that creates, writes and closes the same files with the same calls
// and flags (this program itself, started with --plain), and the same plain
// program writing each file under a staged name and moving it onto its own
// (--staged: the promise extract makes, that no partial file is ever under
// a target's name). Each side is a process of its own, started the same way,
// in an order that turns from round to round; nothing is deleted (the last
// line names the folder to remove). One summary line, with the ratio of each round's pair.
//
//   wine_extract_bench.exe [FOLDER [FILES [PACKTOOL]]]
//     (defaults: wine_extract_bench_data, 10000, packtool.exe beside this program)
//
// Run under Wine: scripts/wine-run build/win32/bench/packtool/wine_extract_bench.exe 'Z:\tmp\web' 10000
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int RUNS = 5;
constexpr uint32_t FILES_A_FOLDER = 500;

// The rows the archive holds: the index itself, then file n in folder n/500,
// as extract --all names them below its folder (the drive left out).
std::string RowOf(uint32_t entry) {
  if (entry == 0) return "Sicherung\\Index.txt";
  return "Daten\\Ordner" + std::to_string(entry / FILES_A_FOLDER) + "\\Datei" + std::to_string(entry) + ".txt";
}

Bytes ContentOf(uint32_t entry) {
  return SampleProse(200 + (entry * 7919) % 3897, entry);
}

std::string IndexOf(uint32_t files) {
  std::string index;
  for (uint32_t entry = 0; entry <= files; entry++) index += "C:\\" + RowOf(entry) + "\r\n";
  return index;
}

// The plain program: each file made new with the flags extract's staged
// files have (written through, so that no flush of each is needed), written
// in one call and closed; folders made as they are first needed. With
// staged, each is written as "<name>.tmp" and moved onto its name, written
// through, as extract places its files; with known, each file's facts
// (GetFileInformationByHandle) are asked before it is closed, the way
// extract asked each file's identity until it took the volume's number from
// the folder: that call asks Wine's mount manager, another process.
enum class Plain { Direct, Staged, StagedKnown };

int WritePlain(const std::string& folder, uint32_t files, Plain how) {
  bool staged = how != Plain::Direct;
  std::vector<std::pair<std::string, Bytes>> all;
  std::string index = IndexOf(files);
  all.emplace_back(RowOf(0), Bytes(index.begin(), index.end()));
  for (uint32_t entry = 1; entry <= files; entry++) all.emplace_back(RowOf(entry), ContentOf(entry));
  std::string made;  // the last folder made
  for (const auto& [row, data] : all) {
    std::string path = folder + "\\" + row;
    std::string parent = path.substr(0, path.find_last_of('\\'));
    if (parent != made) {
      // Each level of the path, as a program that makes its folders does.
      for (size_t at = folder.size() + 1; at != std::string::npos; at = parent.find('\\', at + 1)) {
        CreateDirectoryA(parent.substr(0, at).c_str(), nullptr);
      }
      CreateDirectoryA(parent.c_str(), nullptr);
      made = parent;
    }
    std::string written = staged ? path + ".tmp" : path;
    HANDLE file = CreateFileA(written.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD count = 0;
    bool wrote = WriteFile(file, data.data(), DWORD(data.size()), &count, nullptr) && count == data.size();
    BY_HANDLE_FILE_INFORMATION facts;
    if (how == Plain::StagedKnown && !GetFileInformationByHandle(file, &facts)) wrote = false;
    if (!CloseHandle(file) || !wrote) return 1;
    if (staged && !MoveFileExA(written.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return 1;
  }
  return 0;
}

// Runs a command line as a process of its own; wall seconds, or negative
// when it did not start or did not end with 0.
double RunSeconds(std::string line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code == 0 ? double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart) : -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool SameFile(const std::string& a, const std::string& b) {
  auto read = [](const std::string& path) {
    Bytes bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return Bytes{1};  // never equal to a file's bytes and another missing one
    int c;
    while ((c = fgetc(file)) != EOF) bytes.push_back(uint8_t(c));
    fclose(file);
    return bytes;
  };
  return read(a) == read(b);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4) {
    std::string mode = argv[1];
    Plain how = mode == "--staged" ? Plain::Staged : mode == "--known" ? Plain::StagedKnown : Plain::Direct;
    if (how != Plain::Direct || mode == "--plain")
      return WritePlain(argv[2], uint32_t(strtoul(argv[3], nullptr, 10)), how);
  }
  std::string folder = argc > 1 ? argv[1] : "wine_extract_bench_data";
  uint32_t files = argc > 2 ? uint32_t(strtoul(argv[2], nullptr, 10)) : 10000;
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string own = self;
  std::string tool = argc > 3 ? argv[3] : own.substr(0, own.find_last_of('\\')) + "\\..\\..\\tools\\packtool.exe";
  if (files == 0) {
    fprintf(stderr, "usage: wine_extract_bench [FOLDER [FILES [PACKTOOL]]]\n");
    return 2;
  }
  CreateDirectoryA(folder.c_str(), nullptr);
  // A folder of its own for this run's outputs, so that nothing is deleted
  // and no run writes over another's.
  std::string runs = folder + "\\runs-" + std::to_string(GetTickCount());
  CreateDirectoryA(runs.c_str(), nullptr);
  std::string archive = folder + "\\wine-small.zip";
  std::string index = IndexOf(files);
  std::vector<PackEntry> entries{StoredEntry(Bytes(index.begin(), index.end()))};
  for (uint32_t entry = 1; entry <= files; entry++) entries.push_back(StoredEntry(ContentOf(entry)));
  if (!WriteArchive(archive, entries)) {
    printf("cannot write %s (FAILED)\n", archive.c_str());
    return 1;
  }
  entries.clear();
  struct Side {
    const char* name;
    std::string line;  // the output folder is appended
    std::string suffix;
    std::vector<double> times;
  };
  std::string quotedSelf = "\"" + own + "\"";
  std::vector<Side> sides{
      {"extract --all", "\"" + tool + "\" extract -q --all \"" + archive + "\" -d ", "", {}},
      {"plain: create, write, close", quotedSelf + " --plain ", " " + std::to_string(files), {}},
      {"plain, staged and moved", quotedSelf + " --staged ", " " + std::to_string(files), {}},
      {"plain, staged, file facts, moved", quotedSelf + " --known ", " " + std::to_string(files), {}},
  };
  std::vector<double> ratios, stagedRatios, knownRatios;
  for (int round = 0; round < RUNS; round++) {
    std::vector<double> times(sides.size());
    for (size_t turn = 0; turn < sides.size(); turn++) {
      size_t index = (turn + size_t(round)) % sides.size();
      Side& side = sides[index];
      std::string out = runs + "\\" + std::to_string(round) + "-" + std::to_string(index);
      times[index] = RunSeconds(side.line + "\"" + out + "\"" + side.suffix);
      side.times.push_back(times[index]);
    }
    ratios.push_back(times[0] / times[1]);
    stagedRatios.push_back(times[2] / times[1]);
    knownRatios.push_back(times[3] / times[1]);
  }
  bool failed = false;
  for (const Side& side : sides) {
    failed = failed || *std::min_element(side.times.begin(), side.times.end()) < 0;
    printf("  %-30s median %.2f s (%.2f to %.2f)\n", side.name, Median(side.times),
           *std::min_element(side.times.begin(), side.times.end()),
           *std::max_element(side.times.begin(), side.times.end()));
  }
  // The same bytes under the same names: every hundredth file of the last
  // round's extract against the plain program's.
  std::string extracted = runs + "\\" + std::to_string(RUNS - 1) + "-0",
              plain = runs + "\\" + std::to_string(RUNS - 1) + "-1";
  for (uint32_t entry = 0; entry <= files && !failed; entry += 100) {
    failed = !SameFile(extracted + "\\" + RowOf(entry), plain + "\\" + RowOf(entry));
  }
  printf(
      "under Wine, %u small files: extract --all/plain create+write+close %.2f (goal <= 1.3), each round's pair from "
      "%.2f to %.2f; staged+moved/plain %.2f, staged+file facts+moved/plain %.2f (median of %d)%s\n",
      files, Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
      *std::max_element(ratios.begin(), ratios.end()), Median(stagedRatios), Median(knownRatios), RUNS,
      failed ? " (a run FAILED or the files differ)" : "");
  // Left for the caller to remove from the Unix side once the runs are
  // over (nothing is deleted between runs: ext4 makes new files slowly for a
  // while after many were deleted); deleting them one by one under Wine
  // would take far longer than the runs.
  printf("the runs' files are in %s: remove them (rm -r on the Unix side)\n", runs.c_str());
  return failed ? 1 : 0;
}
