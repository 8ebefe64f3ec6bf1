#include "tools/rows/other_backups.h"

#include "pack/content_key.h"
#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/rows/archive_places.h"
#include "tools/rows/opened_archive.h"

namespace {

std::string FullPath(const std::string& path) {
  std::vector<char> buffer(65536);
  if (PlatformFullPath(path.c_str(), buffer.data(), buffer.size()) == 0) return path;
  return buffer.data();
}

}  // namespace

std::string OtherBackups::Name(uint32_t b) const {
  const std::string& path = paths[b];
  size_t slash = path.find_last_of("/\\");
  return Shown(slash == std::string::npos ? path : path.substr(slash + 1));
}

int ReadOtherBackups(const std::vector<std::string>& places, const std::string& self, OtherBackups* others) {
  ArchivePlaces gathered = GatherArchives(places, true);
  int code = gathered.code;
  std::string own = FullPath(self);
  for (const PlacedArchive& placed : gathered.archives) {
    if (FullPath(placed.path) == own) continue;
    if (placed.inFolder) {
      std::string why = NotPackArchive(placed.path);
      if (!why.empty()) continue;
    }
    OpenedArchive opened;
    int opening = OpenArchive(placed.path, ReadOn::Places, &opened);
    if (opening != EXIT_OK) {
      code = ExitWorst(code, opening);
      continue;
    }
    OtherBackup backup;
    backup.rows = opened.session.Rows();
    backup.keyed.assign(backup.rows.size(), false);
    backup.keys.resize(backup.rows.size());
    const ArchiveFile* file = opened.session.Archive();
    for (uint32_t row = 1; row < backup.rows.size(); row++) {
      ContentKey key{};
      if (ArchiveFileContentKey(file, row, &key) == 0) continue;
      backup.keyed[row] = true;
      backup.keys[row] = key;
    }
    backup.IndexRows();
    others->backups.push_back(std::move(backup));
    others->paths.push_back(placed.path);
  }
  return code;
}

std::string OtherProofSaid(const OtherBackups& others, const OtherProof& proof) {
  if (!proof.matched) return "named by its place between entries whose names other backups prove";
  return "named from " + others.Name(proof.backup) + ", row " + std::to_string(proof.row);
}
