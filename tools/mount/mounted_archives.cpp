// Opening the archives a mount serves and reading their names into its tree:
// the plain reading where it passes, and past damage the salvage walk, whose
// recovered bytes go to a temporary file once.
#include "tools/mount/mounted_archives.h"

#include <algorithm>

#include "tools/cli/cli.h"
#include "tools/rows/rows.h"

Mount::~Mount() {
  if (pages != nullptr) pages->Stop();
  cache.Stop();
  engine.Stop();
  for (MountedArchive& archive : archives) {
    ArchiveFileClose(archive.file);
    if (archive.walked != PLATFORM_FILE_INVALID) PlatformFileClose(archive.walked);
  }
}

namespace {

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? "archive" : name;
}

}  // namespace

int MountAddArchive(Mount& mount, const std::string& path, bool ownFolder,
                    const std::vector<std::string>& namesFrom) {
  MountSource source;
  size_t shownEntries = 0;
  MountedArchive archive;
  {
    OpenedArchive opened;
    int code = OpenArchive(path, ReadOn::Headers, &opened);
    if (code != EXIT_OK) return code;
    source.rows = opened.session.Rows();
    source.indexSound = opened.index.state == IndexState::Sound;
    // The entries are those the plain reading passes. Where it cannot pass
    // the damage, they are those the salvage walk finds, numbered as it
    // numbers them, as extract takes them: the walk decodes them to find
    // them, so their recovered bytes go to a temporary file once, and the
    // mount reads them from there.
    const PlainReading& plain = opened.plain;
    shownEntries = plain.entries.size();
    // Other backups of the same files prove names past damage, and those
    // a damaged index does not reach.
    OtherBackups others;
    if (!namesFrom.empty() && (!plain.HoldsTogether() || !source.indexSound))
      ReadOtherBackups(namesFrom, path, &others);
    source.trustedRows = source.rows.size();
    if (!plain.HoldsTogether() || (!source.indexSound && others.Given())) {
      if (!plain.HoldsTogether()) Complain(ShownPath(path) + ": " + PastDamageSaid(plain));
      WalkNames names;
      SurveyNames(opened.session.Archive(), int64_t(source.trustedRows), source.indexSound, SalvageReads::Stretches, 1, &names);
      NameFromOthers(&names, source.rows, source.indexSound, others);
      source.rows.insert(source.rows.end(), names.addedRows.begin(), names.addedRows.end());
      archive.walked = PlatformFileCreateUnnamed();
      if (archive.walked == PLATFORM_FILE_INVALID) {
        Complain(ShownPath(path) + ": no temporary file for its entries: " + SystemErrorText());
        return EXIT_WRITE;
      }
      uint64_t end = 0;
      bool spilt = true;
      source.naming.given = true;
      WalkPastDamageNamed(opened.session.Archive(), source.trustedRows, source.indexSound, names, [&](const WalkedEntry& entry) {
        const EntryFacts& facts = entry.facts;
        bool damaged = facts.damaged || entry.state != SalvageState::Sound;
        // Sized as its header says, when it says; never below what was decoded.
        uint32_t size = entry.sizeKnown ? std::max(facts.unpackedSize, facts.decoded) : facts.decoded;
        archive.walkedEntries.push_back(WalkedBytes{end, facts.decoded, damaged || facts.decoded < size});
        // Nothing recovered: extract --force writes it as an empty file, so
        // it is a file here too, whose first read fails.
        source.entries.push_back(MountEntry{size, false});
        source.naming.entries.push_back(entry.naming);
        spilt = SpillBytes(archive.walked, entry.bytes, facts.decoded);
        end += facts.decoded;
        return spilt;
      });
      size_t guessed = 0;
      for (const EntryNaming& naming : source.naming.entries) guessed += naming.from == NameFrom::Guess ? 1 : 0;
      if (guessed > 0) {
        Complain(ShownPath(path) + ": " + Counted(guessed, "entry", "entries") +
                 " past the damage could not be named for sure: shown below " + UNPROVEN_FOLDER +
                 "/ under the name of the row each most likely is" +
                 (others.Given() ? "" : std::string("; ") + NAMES_FROM_HINT));
      }
      if (!spilt) {
        Complain(ShownPath(path) + ": its entries would not go to a temporary file: " + SystemErrorText());
        PlatformFileClose(archive.walked);
        return EXIT_WRITE;
      }
    }
  }
  archive.file = ArchiveFileOpen(path.c_str(), ARCHIVE_WALK_HEADERS);
  if (archive.file == nullptr) {
    Complain(QuotedPath(path) + ": cannot be read: " + SystemErrorText());
    if (archive.walked != PLATFORM_FILE_INVALID) PlatformFileClose(archive.walked);
    return EXIT_ARCHIVE;
  }
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  ArchiveFileModified(archive.file, &seconds, &nanoseconds);
  archive.modified = timespec{time_t(seconds), long(nanoseconds)};
  if (archive.modified.tv_sec > mount.mounted.tv_sec) mount.mounted = archive.modified;
  if (archive.walked == PLATFORM_FILE_INVALID) {
    uint32_t count = uint32_t(std::min<size_t>(ArchiveFileEntryCount(archive.file), shownEntries));
    source.entries.reserve(count);
    for (uint32_t entry = 0; entry < count; entry++) {
      ArchiveEntryPlace place{};
      ArchiveFileEntryPlace(archive.file, entry, &place);
      source.entries.push_back(MountEntry{place.unpackedSize, place.unpackedSize == place.packedSize});
    }
  }
  uint32_t number = uint32_t(mount.archives.size());
  mount.archives.push_back(archive);
  uint32_t folder = ownFolder ? mount.tree.AddArchiveFolder(FileNameOf(path)) : MountTree::ROOT;
  std::vector<std::string> refused;
  mount.tree.AddArchive(folder, number, source, &refused);
  for (const std::string& message : refused) Complain(ShownPath(path) + ": " + message);
  return EXIT_OK;
}
