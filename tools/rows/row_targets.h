// Where each row's entry goes below a folder: the one naming rule of extract
// and the mount. A row's text gives its path parts (target_path.h), made
// file names of this machine; an entry without a row is entry-N.bin; and
// the first row to claim a path has it: a later row with the same path, a
// path through another row's file, or a path that is a folder of another
// row's is refused, naming that row.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class TargetClash {
  None,
  Unsafe,       // the row gives no safe path (refusal says why)
  SamePath,     // other's target is the same (case folded where the system folds it)
  ThroughFile,  // a folder of its path is other's file
  IsFolder,     // its target is a folder of other's path
};

struct RowTarget {
  std::vector<std::string> folders;  // below the folder, as file names of this machine
  std::string name;
  TargetClash clash = TargetClash::None;
  const char* refusal = nullptr;  // Unsafe: why
  uint32_t other = 0;             // the entry that claimed the path first
};

class RowTargets {
 public:
  // rows: the trusted rows; flat: every file by its own name, no folders;
  // windowsNames: names that differ in case only are the same, and the
  // device names of Windows are refused.
  RowTargets(const std::vector<std::string>& rows, bool flat, bool windowsNames)
      : rows_(rows), flat_(flat), windowsNames_(windowsNames) {}

  // Paths are fitted into room bytes below the folder they go to, the name
  // taking at least nameAtLeast (see FitTargetPath); 0: no limit.
  void FitPathsInto(size_t room, size_t nameAtLeast) {
    room_ = room;
    nameAtLeast_ = nameAtLeast;
  }

  // Names entry's target and claims it; clash None when it has one.
  RowTarget Claim(uint32_t entry);

 private:
  std::string Key(const std::string& path) const;

  const std::vector<std::string>& rows_;
  bool flat_;
  bool windowsNames_;
  size_t room_ = 0;
  size_t nameAtLeast_ = 0;
  std::map<std::string, uint32_t> files_;    // claimed targets, "/" between parts
  std::map<std::string, uint32_t> folders_;  // the folders those run through
};

// What a refused target's message says after the row (for other: RowName).
std::string TargetClashSaid(const RowTarget& target, const std::string& other);
