// How many files of a damaged backup of thousands come back under their own
// names, through extract --all, rescue and the mount: for each damage of
// LargeDamages on backups of 3,000 and 8,000 files, one line with the files
// under their right names (their original bytes), the files marked as
// guesses, and the files under a row's name with other bytes that nothing
// marks (the goal is 0). A file whose record says damaged (the mount: a read
// that fails) is counted as marked. `--names-from` is not tried here.
//   names_bench [FOLDER]   (default: packtool_names_bench)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/packtool/child_run.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/mount_point.h"
#include "tests/support/pack_writer.h"
#include "tools/cli/json_document.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

struct Tally {
  size_t right = 0;    // under its own row's path, its original bytes
  size_t guessed = 0;  // below names-unproven
  size_t wrong = 0;    // under a row's path, another row's bytes (or bytes proven sound that are not its own)
  size_t marked = 0;   // under its row's path, its own damaged bytes, not claimed proven
};

// The bytes of a file, and whether it read whole (a mount's damaged file
// ends in an I/O error).
bool ReadAll(const fs::path& path, Bytes* bytes) {
  bytes->clear();
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  unsigned char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) bytes->insert(bytes->end(), buffer, buffer + got);
  close(fd);
  return got == 0;
}

std::string RowFile(size_t row) {
  return "Fotos/bild-" + std::to_string(row) + ".txt";
}

// markedRows: rows whose record says their bytes are not whole.
Tally Count(const RowArchive& backup, const fs::path& folder, const std::vector<bool>& markedRows) {
  Tally tally;
  Bytes bytes;
  std::map<std::string, size_t> rowOf;  // by the bytes of its file
  for (size_t row = 1; row < backup.rows.size(); row++) {
    if (!backup.data[row].empty()) rowOf[std::string(backup.data[row].begin(), backup.data[row].end())] = row;
  }
  for (size_t row = 1; row < backup.rows.size(); row++) {
    if (fs::exists(folder / "names-unproven" / RowFile(row))) tally.guessed++;
    fs::path path = folder / RowFile(row);
    if (!fs::exists(path)) continue;
    bool whole = ReadAll(path, &bytes);
    if (whole && bytes == backup.data[row]) {
      tally.right++;
    } else if (whole && rowOf.count(std::string(bytes.begin(), bytes.end())) != 0) {
      tally.wrong++;
    } else if (!whole || markedRows[row] || row % 3 == 0) {  // stored: nothing proves it
      tally.marked++;
    } else {
      tally.wrong++;
    }
  }
  return tally;
}

JsonDocument Parse(const fs::path& path) {
  std::ifstream in(path);
  return JsonDocument::parse(in, nullptr, false);
}

void Print(size_t size, const char* what, const char* command, const Tally& tally) {
  printf(
      "%zu files, %-22s %-8s right names %5zu, marked as guesses %5zu, wrong without a mark %zu, own bytes "
      "damaged (marked, or stored) %zu\n",
      size, what, command, tally.right, tally.guessed, tally.wrong, tally.marked);
  fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = fs::absolute(argc > 1 ? argv[1] : "packtool_names_bench");
  fs::create_directories(folder);
  for (size_t size : {3000, 8000}) {
    RowArchive backup = LargeBackup(size);
    for (const LargeDamage& damage : LargeDamages(backup)) {
      fs::path archive = folder / "damaged.zip", out = folder / "out", json = folder / "out.json";
      WriteFileBytes(archive.string(), damage.bytes);
      fs::remove_all(out);
      RunChild({PACKTOOL_PATH, "extract", archive.string(), "--all", "-d", out.string(), "--json"}, 4, json.c_str());
      std::vector<bool> marked(size, false);
      JsonDocument report = Parse(json);
      if (report.is_object()) {
        for (const JsonDocument& item : report["damaged"]) marked[item["row"].get<size_t>()] = true;
      }
      Print(size, damage.what, "extract", Count(backup, out, marked));

      fs::remove_all(out);
      RunChild({PACKTOOL_PATH, "rescue", archive.string(), "-d", out.string(), "--json"}, 4, json.c_str());
      std::fill(marked.begin(), marked.end(), false);
      report = Parse(json);
      if (report.is_object()) {
        for (const JsonDocument& entry : report["entries"]) {
          if (entry["row"].is_null()) continue;
          marked[entry["row"].get<size_t>()] = entry["state"] != "sound" && entry["state"] != "unchecked";
        }
      }
      Print(size, damage.what, "rescue", Count(backup, out, marked));

      fs::remove_all(out);
      fs::create_directories(out);
      pid_t child = 0;
      std::vector<std::string> words{PACKTOOL_PATH, "mount", "--foreground", archive.string(), out.string()};
      std::vector<char*> args;
      for (std::string& word : words) args.push_back(word.data());
      args.push_back(nullptr);
      if (posix_spawn(&child, args[0], nullptr, nullptr, args.data(), environ) != 0) continue;
      for (int tries = 0; tries < 300 && !IsMountPoint(out); tries++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      std::fill(marked.begin(), marked.end(), false);
      Print(size, damage.what, "mount", IsMountPoint(out) ? Count(backup, out, marked) : Tally{});
      kill(child, SIGINT);
      waitpid(child, nullptr, 0);
    }
  }
  return 0;
}
