// A backup held against a folder on disk: for every row below the part of
// the backup the folder stands for, whether its file there is the same,
// changed or missing, and which files there the backup does not hold. What
// compare reports and what extract --missing-in restores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/rows/backup_part.h"

enum class OnDisk {
  Same,         // the same size and bytes (--quick: size and content key)
  Changed,      // another size or other bytes, or no file in its place
  Missing,      // nothing in its place
  There,        // a file in its place, its contents not asked about
  Damaged,      // the backup's entry is damaged or not there: nothing to compare with
  NotCompared,  // no safe name here, another row has its place, or the file cannot be read
};

struct ComparedRow {
  uint32_t row;
  OnDisk state;
  std::string path;  // its place on disk
  std::string why;   // Changed, Damaged, NotCompared: in words
};

struct FolderComparison {
  BackupPart part;             // what the folder stands for
  bool folderMissing = false;  // the folder is not there: every row is missing
  std::vector<std::string> rowTexts;
  std::vector<ComparedRow> rows;        // the rows below the part, in order
  std::vector<std::string> onlyOnDisk;  // files below the folder no row names, as paths below it
};

struct CompareHow {
  bool contents = true;  // false: only whether a file is in each row's place
  bool extras = true;    // look for the files the backup does not hold
};

// Compares request.archive with the folder request.comparedWith (the part
// from request.standsFor, else found by the folder's names; request.quick,
// request.jobs). Returns the worst code of the backup's damage (EXIT_OK or
// EXIT_DAMAGED, or the index's) with *result filled, or the code after
// saying why it could not compare (result->rows then empty): the archive
// cannot be read, the folder is a file, the part is not clear or holds no row.
int CompareWithFolder(const PackToolRequest& request, const CompareHow& how, FolderComparison* result);
