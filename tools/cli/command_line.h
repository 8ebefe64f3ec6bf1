// What the user asked packtool to do, read from argv without touching a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class PackToolCommand {
  None,
  Help,
  List,
  Extract,
  Verify,
  Cat,
  Rescue,
  Mount,
  Find,
  Compare,
  Completion,
  Version
};
enum class ListFormat { Table, Raw, Json };

constexpr unsigned JOBS_MAX = 256;

struct PackToolRequest {
  PackToolCommand command = PackToolCommand::None;
  PackToolCommand helpFor = PackToolCommand::None;  // Help: the command asked about, or None
  std::string archive;
  std::vector<uint32_t> rows;          // as given; extract sorts and merges them itself
  std::vector<std::string> patterns;   // --match, as typed
  std::vector<std::string> namesFrom;  // --names-from: other backups (archives, folders) that prove names
  std::vector<std::string> names;      // extract, cat, rescue: words that are no row number, as typed
  bool all = false;
  bool quiet = false;
  bool force = false;
  bool flat = false;          // extract: every file by its own name, no folders
  bool skipExisting = false;  // extract: a target that exists is kept, the row skipped
  bool everyUnit = false;     // rescue: ask for every unit of a bad area
  unsigned jobs = 0;          // verify, extract, rescue: threads that decode (0: one per core)
  // rescue, verify: seconds for repairs by the checksum in all (0: none). A
  // 64 KiB entry takes a second or two: dozens of damaged entries fit, and
  // a backup with far more is rescued within minutes all the same.
  double repairSeconds = 120;
  ListFormat format = ListFormat::Table;
  std::string outputFile;    // -o
  std::string outputFolder;  // -d
  bool hasOutputFile = false;
  bool hasOutputFolder = false;
  // mount: every archive; list, verify and find: every archive and folder
  // (request.archive is the first); mount also the folder to mount on and
  // the bound of its cache
  std::vector<std::string> archives;
  bool recursive = false;  // -r: the subfolders of a folder too
  // find: its words, patterns then places; findPatterns of them are the
  // patterns when "--" parted them, else -1 (find parts them by what exists)
  std::vector<std::string> findWords;
  int findPatterns = -1;
  bool decode = false;  // find --verify: tell versions apart by decoding
  std::string mountPoint;
  bool foreground = false;
  uint64_t cacheMegabytes = 256;
  // compare: the folder or other backup; extract: --missing-in's folder
  // (then every row below the part of the backup it stands for that is
  // missing there is chosen). --as: that part, as typed ("" to find it).
  std::string comparedWith;
  std::string standsFor;
  bool hasStandsFor = false;
  bool quick = false;       // compare: same by size and content key, no decoding
  bool changedToo = false;  // extract --missing-in: the changed rows too
  std::string shell;        // completion: bash, zsh or fish
};

// What the declarations say of each command, for the shells' completion.
struct DeclaredOption {
  std::vector<std::string> names;  // "-q", "--quiet"
  bool takesValue = false;
  std::string valueName;  // FILE, DIR, PATTERN, ...
  std::string text;       // its help's first line
};
struct DeclaredCommand {
  std::string name;
  std::string summary;
  std::vector<DeclaredOption> options;
};
std::vector<DeclaredCommand> Declarations();

// Fills request, or returns false with a one-line reason in *error.
bool ParseCommandLine(int argc, const char* const* argv, PackToolRequest* request, std::string* error);
// The text of --help: the general one for None, else the command's own.
std::string HelpText(PackToolCommand command);
