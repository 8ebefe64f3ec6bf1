// packtool compare of a backup against the folder it was made of, as a user
// runs it (the built binary, one process per run), with and without --quick,
// against diff -r of the same tree and a restore of it on disk.
//
//   compare_bench [FILES [FOLDER]]   (defaults: 8000, compare_bench_data)
//
// The folder is made once and reused, so every run after the first finds
// the files in the page cache: the figures are of the work, not the disk.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/packtool/child_run.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Distinct contents, encoded once (the test encoder is slow), of sizes that
// spread from 1 to 16 KiB; file i holds content i % CONTENTS.
constexpr int CONTENTS = 97;
constexpr int RUNS = 3;

Bytes Content(int kind) {
  size_t size = 1024 + size_t(kind) * 15 * 1024 / CONTENTS;
  std::string text;
  while (text.size() < size) text += "Zeile " + std::to_string(text.size() * (kind + 7)) + " der Datei\r\n";
  return Bytes(text.begin(), text.begin() + long(size));
}

std::string Folder(uint32_t file) {
  return "Ordner" + std::to_string(file / 100);
}
std::string Name(uint32_t file) {
  return "Datei" + std::to_string(file) + ".txt";
}

// backup.zip of C:\Daten, the folder Daten it was made of, and a second copy
// of it for diff -r.
bool Make(const fs::path& folder, uint32_t files) {
  if (fs::exists(folder / "backup.zip")) return true;
  std::vector<Bytes> contents, entries;
  for (int kind = 0; kind < CONTENTS; kind++) {
    contents.push_back(Content(kind));
    Bytes data = EntryBytes(CompressedEntry(contents.back()));
    Bytes entry;
    AppendRawEntry(entry, uint32_t(contents.back().size()), uint32_t(data.size()), data);
    entries.push_back(entry);
  }
  std::string index = "C:\\Sicherung\\Index.txt\r\n";
  for (uint32_t file = 1; file < files; file++) index += "C:\\Daten\\" + Folder(file) + "\\" + Name(file) + "\r\n";
  Bytes archive;
  Bytes indexData = EntryBytes(StoredEntry(Bytes(index.begin(), index.end())));
  AppendRawEntry(archive, uint32_t(index.size()), uint32_t(indexData.size()), indexData);
  for (uint32_t file = 1; file < files; file++) {
    const Bytes& entry = entries[file % CONTENTS];
    archive.insert(archive.end(), entry.begin(), entry.end());
    for (const char* copy : {"Daten", "Kopie/Daten"}) {
      fs::path place = folder / copy / Folder(file);
      fs::create_directories(place);
      if (!WriteFileBytes((place / Name(file)).string(), contents[file % CONTENTS])) return false;
    }
  }
  return WriteFileBytes((folder / "backup.zip").string(), archive);
}

void Measure(const char* what, std::vector<std::string> words, uint32_t files) {
  std::vector<double> times;
  for (int i = 0; i < RUNS; i++) {
    ChildRun run = RunChild(words);
    if (run.seconds < 0) {
      printf("%-28s FAILED (exit code %d)\n", what, run.exitCode);
      return;
    }
    times.push_back(run.seconds);
  }
  printf("%-28s %u files: %6.3f s (median of %d)\n", what, files, Median(times), RUNS);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t files = argc > 1 ? uint32_t(atoi(argv[1])) : 8000;
  fs::path folder = fs::path(argc > 2 ? argv[2] : "compare_bench_data") / std::to_string(files);
  if (files < 2 || !Make(folder, files)) {
    fprintf(stderr, "compare_bench [FILES [FOLDER]]: cannot make the data\n");
    return 1;
  }
  std::string backup = (folder / "backup.zip").string();
  std::string daten = (folder / "Daten").string();
  Measure("packtool compare", {PACKTOOL_PATH, "compare", backup, daten, "-q"}, files);
  Measure("packtool compare -j 1", {PACKTOOL_PATH, "compare", backup, daten, "-q", "-j", "1"}, files);
  Measure("packtool compare --quick", {PACKTOOL_PATH, "compare", backup, daten, "-q", "--quick"}, files);
  Measure("diff -r (two trees on disk)", {"diff", "-r", "-q", daten, (folder / "Kopie" / "Daten").string()}, files);
  return 0;
}
