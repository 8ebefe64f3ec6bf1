#include "tools/rows/archive_places.h"

#include <algorithm>

#include "pack/archive_file.h"
#include "pack/other_kinds.h"
#include "platform/platform.h"
#include "tools/rows/entry_texts.h"

namespace {

std::string Below(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  bool ended = last == '/' || (WINDOWS_NAMES && (last == '\\' || last == ':'));
  return ended ? folder + name : folder + (WINDOWS_NAMES ? "\\" : "/") + name;
}

void AddName(const char* name, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(name);
}

// A link to a folder is not followed (two such links could make the walk
// endless); a link to a file is read as the file.
void GatherFolder(const std::string& folder, bool recursive, ArchivePlaces* places) {
  std::vector<std::string> names;
  PlatformFolder opened = PlatformFolderOpen(folder.c_str());
  if (opened == nullptr || !PlatformFolderNames(folder.c_str(), AddName, &names)) {
    Complain(ShownPath(folder) + ": the folder cannot be read: " + SystemErrorText());
    PlatformFolderClose(opened);
    places->code = EXIT_ARCHIVE;
    return;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = Below(folder, name);
    PlatformFileIdentity identity;
    PlatformNameKind kind = PlatformNameBelow(opened, name.c_str(), &identity);
    uint64_t size = 0;
    if (kind == PlatformNameKind::Link && PlatformPathKind(path.c_str(), &size) == PlatformNameKind::File) {
      kind = PlatformNameKind::File;
    }
    if (kind == PlatformNameKind::File) {
      places->archives.push_back({path, true});
    } else if (kind == PlatformNameKind::Folder && recursive) {
      GatherFolder(path, recursive, places);
    }
  }
  PlatformFolderClose(opened);
}

}  // namespace

ArchivePlaces GatherArchives(const std::vector<std::string>& places, bool recursive) {
  ArchivePlaces gathered;
  gathered.several = places.size() > 1;
  for (const std::string& place : places) {
    uint64_t size = 0;
    if (PlatformPathKind(place.c_str(), &size) != PlatformNameKind::Folder) {
      gathered.archives.push_back({place, false});
      continue;
    }
    gathered.several = true;
    size_t before = gathered.archives.size();
    GatherFolder(place, recursive, &gathered);
    // Nothing to read where an archive was asked for: as a missing one.
    if (gathered.archives.size() == before && gathered.code == EXIT_OK) {
      Complain(ShownPath(place) + ": the folder holds no file" + (recursive ? "" : " (-r reads its subfolders)"));
      gathered.code = EXIT_ARCHIVE;
    }
  }
  return gathered;
}

std::string NotPackArchive(const std::string& path) {
  ArchiveFile* archive = ArchiveFileOpen(path.c_str(), ARCHIVE_WALK_NONE);
  if (archive == nullptr) return "";  // its opening by the command says why
  std::string why;
  if (const char* kind = ArchiveFileOtherKind(archive)) {
    why = std::string("it is ") + kind;
  } else if (ArchiveFileStartsAsPack(archive) == 0) {
    why = "it does not start as a pack archive does";
  }
  ArchiveFileClose(archive);
  return why;
}

void NotePassedOver(const std::string& path, const std::string& why) {
  Complain(ShownPath(path) + ": passed over: not a pack archive (" + why + ")");
}

bool PassedOver(const PlacedArchive& placed, JsonDocument* records) {
  std::string why = placed.inFolder ? NotPackArchive(placed.path) : "";
  if (why.empty()) return false;
  NotePassedOver(placed.path, why);
  records->push_back({{"archive", JsonHostPath(placed.path)}, {"passedOver", why}});
  return true;
}

int ForEachArchive(const PackToolRequest& request,
                   const std::function<int(const std::string& path, JsonDocument* records)>& one) {
  ArchivePlaces places = GatherArchives(request.archives, request.recursive);
  if (!places.several) return one(request.archive, nullptr);
  JsonDocument records = JsonDocument::array();
  int code = places.code;
  for (const PlacedArchive& placed : places.archives) {
    if (PassedOver(placed, &records)) continue;
    code = ExitWorst(code, one(placed.path, &records));
  }
  if (request.format == ListFormat::Json) PrintJsonDocument({{"archives", records}});
  return FinishOutput(code);
}

JsonDocument FailedRecord(const std::string& path, int code) {
  return {{"archive", JsonHostPath(path)}, {"error", JsonHostPath(ReportLastComplaint())}, {"exitCode", code}};
}
