// How many files of a damaged backup of thousands come back under their own
// names, through extract --all, rescue and the mount: for each damage of
// LargeDamages and a spoilt index on backups of 3,000 and 8,000 files (their
// index compressed), alone and with the backup of the month before given as
// --names-from, one line with the files under their right names (their
// original bytes), the files marked as guesses, and the files under a row's
// name with other bytes that nothing marks (the goal is 0). A file whose
// record says damaged (the mount: a read that fails) is counted as marked.
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

// The backup's row a record's text names (rows other backups added have
// numbers of their own), or SIZE_MAX.
size_t RowOf(const JsonDocument& item) {
  if (!item.contains("text") || !item["text"].is_string()) return SIZE_MAX;
  std::string text = item["text"].get<std::string>();
  size_t at = text.find("bild-");
  return at == std::string::npos ? SIZE_MAX : size_t(std::stoul(text.substr(at + 5)));
}

JsonDocument Parse(const fs::path& path) {
  std::ifstream in(path);
  return JsonDocument::parse(in, nullptr, false);
}

void Print(size_t size, const char* what, bool namesFrom, const char* command, const Tally& tally) {
  printf(
      "%5zu files | %-20s | %-13s | %-7s | right %5zu | marked guess %5zu | wrong unmarked %3zu | own bytes damaged "
      "%3zu\n",
      size, what, namesFrom ? "--names-from" : "alone", command, tally.right, tally.guessed, tally.wrong, tally.marked);
  fflush(stdout);
}

// The three ways back on one damaged archive; with `other`, each given
// --names-from it.
void TryAll(const fs::path& folder, const RowArchive& backup, const LargeDamage& damage, const fs::path& other) {
  size_t size = backup.rows.size();
  bool given = !other.empty();
  fs::path archive = folder / "damaged.zip", out = folder / "out", json = folder / "out.json";
  WriteFileBytes(archive.string(), damage.bytes);
  std::vector<std::string> namesFrom;
  if (given) namesFrom = {"--names-from", other.string()};
  auto with = [&](std::vector<std::string> words) {
    words.insert(words.end(), namesFrom.begin(), namesFrom.end());
    return words;
  };

  fs::remove_all(out);
  RunChild(with({PACKTOOL_PATH, "extract", archive.string(), "--all", "-d", out.string(), "--json"}), 4, json.c_str());
  std::vector<bool> marked(size, false);
  JsonDocument report = Parse(json);
  if (report.is_object()) {
    for (const JsonDocument& item : report["damaged"]) {
      if (RowOf(item) < size) marked[RowOf(item)] = true;
    }
  }
  Print(size, damage.what, given, "extract", Count(backup, out, marked));

  fs::remove_all(out);
  // The repair of a spoilt index is not this benchmark's: two bytes are past it.
  RunChild(with({PACKTOOL_PATH, "rescue", archive.string(), "-d", out.string(), "--json", "--repair-time", "0"}), 4,
           json.c_str());
  std::fill(marked.begin(), marked.end(), false);
  report = Parse(json);
  if (report.is_object()) {
    for (const JsonDocument& entry : report["entries"]) {
      if (RowOf(entry) >= size) continue;
      marked[RowOf(entry)] = entry["state"] != "sound" && entry["state"] != "unchecked";
    }
  }
  Print(size, damage.what, given, "rescue", Count(backup, out, marked));

  fs::remove_all(out);
  fs::create_directories(out);
  pid_t child = 0;
  std::vector<std::string> words = with({PACKTOOL_PATH, "mount", "--foreground", archive.string(), out.string()});
  std::vector<char*> args;
  for (std::string& word : words) args.push_back(word.data());
  args.push_back(nullptr);
  if (posix_spawn(&child, args[0], nullptr, nullptr, args.data(), environ) != 0) return;
  for (int tries = 0; tries < 600 && !IsMountPoint(out); tries++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fill(marked.begin(), marked.end(), false);
  Print(size, damage.what, given, "mount", IsMountPoint(out) ? Count(backup, out, marked) : Tally{});
  kill(child, SIGINT);
  waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = fs::absolute(argc > 1 ? argv[1] : "packtool_names_bench");
  fs::create_directories(folder);
  for (size_t size : {3000, 8000}) {
    RowArchive backup = LargeBackup(size, true);
    // The backup of the month before: a few files changed, added and removed since.
    fs::path before = folder / "2024-05.zip";
    WriteFileBytes(before.string(), MonthBefore(backup));
    std::vector<LargeDamage> damages = LargeDamages(backup);
    damages.push_back(SpoiltIndex(backup));
    for (const LargeDamage& damage : damages) {
      TryAll(folder, backup, damage, {});
      TryAll(folder, backup, damage, before);
    }
  }
  return 0;
}
