// The backups given with --names-from: other backups of the same files (the
// month before), read for what proves the names of a damaged one: each
// one's rows and each entry's content key, by its header (see
// pack/names_from.h). Nothing of them is decoded.
#pragma once

#include <string>
#include <vector>

#include "pack/names_from.h"

struct OtherBackups {
  std::vector<OtherBackup> backups;
  std::vector<std::string> paths;  // of each backup, as found

  bool Given() const { return !backups.empty(); }
  // The name a report gives backup b: its file's name.
  std::string Name(uint32_t b) const;
};

// Reads the archives of the places (archives, folders of them, as find
// takes them), all but `self`. Says what it cannot read and goes on; the
// worst code of them (EXIT_OK when every one was read).
int ReadOtherBackups(const std::vector<std::string>& places, const std::string& self, OtherBackups* others);

// Where an entry named from another backup got its name, in words: "named
// from 2024-05.zip, row 17", or "named by its place between entries named
// from another backup".
std::string OtherProofSaid(const OtherBackups& others, const OtherProof& proof);

// The line that says --names-from exists, for a report with names that are guesses.
constexpr const char* NAMES_FROM_HINT =
    "--names-from with another backup of the same files (the month before) proves most of them";
