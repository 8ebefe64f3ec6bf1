// The archives a command reads, from the places on its command line: an
// archive named is itself; a folder means the files in it, in name order
// (recursive: its subfolders' files too, each subfolder where its name
// falls). How each archive went, for commands that read several.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/cli/cli.h"

struct PlacedArchive {
  std::string path;
  bool inFolder = false;  // found in a folder, not named: passed over when it is no pack archive
};

struct ArchivePlaces {
  std::vector<PlacedArchive> archives;
  // Whether the output names each archive: more than one place, or a folder.
  bool several = false;
  int code = EXIT_OK;  // EXIT_ARCHIVE once a folder could not be read (said already)
};

// The archives of the places in order. A place that is no folder is taken
// as an archive, whatever it is (its opening says what is wrong with it).
ArchivePlaces GatherArchives(const std::vector<std::string>& places, bool recursive);

// Of a file found in a folder: why it is no pack archive, or "" when it is
// to be read (also when it cannot be read: its opening says so).
std::string NotPackArchive(const std::string& path);

// The note for a file passed over as no pack archive.
void NotePassedOver(const std::string& path, const std::string& why);
// Whether the archive is a file in a folder that is no pack archive: then
// noted, and its record ({"archive", "passedOver"}) added to records.
bool PassedOver(const PlacedArchive& placed, JsonDocument* records);
// Runs `one` on each archive of the request's places, in order: for a
// single archive named, once with records null; for several, on each but
// the files passed over, with the list its records go to, which is then
// printed as one document {"archives": [...]} with --json. The worst code.
int ForEachArchive(const PackToolRequest& request,
                   const std::function<int(const std::string& path, JsonDocument* records)>& one);
// The record of an archive that could not be read: {"archive", "error" (the
// last complaint), "exitCode"}.
JsonDocument FailedRecord(const std::string& path, int code);
