#include "tools/compare/folder_comparison.h"

#include <algorithm>
#include <map>
#include <set>

#include "pack/content_key.h"
#include "pack/decoder.h"
#include "tools/compare/disk_bytes.h"
#include "tools/output/entry_file.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

// Staged files of packtool's own runs are no files of the user's.
constexpr const char* STAGED_NAME_START = ".packtool-";
// Folders below the folder looked into for files the backup does not hold;
// deeper ones are a loop of links, not a person's folders.
constexpr int DEEPEST_FOLDER = 64;

// The part the folder stands for; false after saying why there is none.
int FindPart(const PackToolRequest& request, const std::vector<std::string>& rows, BackupPart* part) {
  std::string why;
  if (request.hasStandsFor) {
    std::string text;
    if (!TypedAsRowText(request.standsFor, PlatformArgumentCodePage(), &text, &why)) {
      Complain("--as " + DisplayPattern(request.standsFor) + ": " + why);
      return EXIT_USAGE;
    }
    part->names = RowNames(text);
    for (const std::string& row : rows) {
      if (FoldersBelowPart(*part, row) != NOT_BELOW) return EXIT_OK;
    }
    Complain("no row of " + QuotedPath(request.archive) + " lies below \"" + Shown(BackupPartText(*part)) +
             "\" (\"packtool list\" shows the rows)");
    return EXIT_ROW;
  }
  char full[4096];
  if (PlatformFullPath(request.comparedWith.c_str(), full, sizeof full) == 0) {
    Complain(QuotedPath(request.comparedWith) + ": cannot tell where it is: " + SystemErrorText());
    return EXIT_USAGE;
  }
  std::vector<std::string> names;
  for (const std::string& name : FullPathNames(full)) {
    std::string text;
    names.push_back(TypedAsRowText(name, PlatformArgumentCodePage(), &text, &why) ? text : name);
  }
  std::vector<BackupPart> parts = PartsForFolder(names, rows);
  if (parts.size() <= 1) {
    if (!parts.empty()) *part = parts.front();
    return EXIT_OK;
  }
  std::string said;
  for (size_t i = 0; i < parts.size() && i < 4; i++)
    said += (i == 0 ? "\"" : ", \"") + Shown(BackupPartText(parts[i])) + "\"";
  if (parts.size() > 4) said += " and " + std::to_string(parts.size() - 4) + " more";
  Complain(QuotedPath(request.comparedWith) + " could stand for " + said +
           " in the backup: say which with --as (--as '\\' for the whole backup)");
  return EXIT_USAGE;
}

// A path below the folder as the set of expected files holds it: case
// folded where the system folds it.
std::string PlaceKey(std::string path) {
  if (WINDOWS_NAMES) {
    for (char& c : path) c = static_cast<char>(RowMatchFold(static_cast<unsigned char>(c)));
  }
  return path;
}

void AddName(const char* name, void* context) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(name);
}

// The files below folder that are not expected, in name order, folder by folder.
void LookForExtras(const std::string& folder, const std::string& below, int depth,
                   const std::set<std::string>& expected, std::vector<std::string>* extras) {
  std::vector<std::string> names;
  PlatformFolderNames(folder.c_str(), AddName, &names);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name.rfind(STAGED_NAME_START, 0) == 0) continue;
    std::string path = JoinPath(folder, name);
    std::string relative = JoinPath(below, name);
    uint64_t size = 0;
    PlatformNameKind kind = PlatformPathKind(path.c_str(), &size);
    if (kind == PlatformNameKind::Folder) {
      if (depth < DEEPEST_FOLDER) LookForExtras(path, relative, depth + 1, expected, extras);
      continue;
    }
    if (expected.count(PlaceKey(relative)) == 0) extras->push_back(relative);
  }
}

// Where an entry too large to hold goes while it is compared: a stored
// one's pieces held against the file as they come, a compressed one decoded
// into an unnamed temporary file, held against the file afterwards.
class StreamedComparison : public ArchiveEntrySink {
 public:
  explicit StreamedComparison(const std::string& path) : disk_(path) {}
  ~StreamedComparison() {
    if (temporary_ != PLATFORM_FILE_INVALID) PlatformFileClose(temporary_);
  }
  bool Take(const unsigned char* bytes, uint32_t size) override {
    if (match_ == BytesMatch::Same) match_ = disk_.Next(bytes, size);
    return true;
  }
  unsigned char* Room(uint32_t size, uint32_t packedSize) override { return decodedFile_.Room(size, packedSize); }

  BytesMatch Result(const EntryFacts& facts) {
    if (facts.stored) return match_ == BytesMatch::Same ? disk_.End() : match_;
    if (!decodedFile_.Finish(facts.decoded)) return BytesMatch::Unreadable;
    return disk_.WholeAgainst(temporary_, facts.decoded);
  }
  const std::string& Error() const { return disk_.Error(); }

 private:
  DiskBytes disk_;
  BytesMatch match_ = BytesMatch::Same;
  PlatformFile temporary_ = PLATFORM_FILE_INVALID;
  EntryFile decodedFile_{[this] { return temporary_ = PlatformFileCreateUnnamed(); }, false};
};

class Comparer {
 public:
  Comparer(const PackToolRequest& request, FolderComparison& result) : request_(request), result_(result) {}

  // The rows below the part and what is in their places; the ones with a
  // file of their own are left Pending (There) for their contents.
  void Place(const std::vector<std::string>& rows) {
    RowTargets targets(rows, false, WINDOWS_NAMES);
    for (uint32_t row = 0; row < rows.size(); row++) {
      size_t below = FoldersBelowPart(result_.part, rows[row]);
      if (below == NOT_BELOW) continue;
      ComparedRow compared{row, OnDisk::Missing, "", ""};
      RowTarget target = targets.Claim(row);
      if (target.clash != TargetClash::None) {
        compared.state = OnDisk::NotCompared;
        compared.why = TargetClashSaid(target, RowName(target.other, rows));
        result_.rows.push_back(compared);
        continue;
      }
      std::string relative;
      for (size_t i = std::min(below, target.folders.size()); i < target.folders.size(); i++) {
        relative = JoinPath(relative, target.folders[i]);
      }
      relative = JoinPath(relative, target.name);
      expected_.insert(PlaceKey(relative));
      compared.path = JoinPath(request_.comparedWith, relative);
      uint64_t size = 0;
      switch (PlatformPathKind(compared.path.c_str(), &size)) {
        case PlatformNameKind::Missing:
          break;
        case PlatformNameKind::File:
          compared.state = OnDisk::There;
          sizes_.emplace(row, size);
          break;
        case PlatformNameKind::Folder:
          compared.state = OnDisk::Changed;
          compared.why = "a folder stands in its place";
          break;
        case PlatformNameKind::Unreadable:
          compared.state = OnDisk::NotCompared;
          compared.why = "its place cannot be looked at: " + SystemErrorText();
          break;
        default:
          compared.state = OnDisk::Changed;
          compared.why = "something that is no file stands in its place";
          break;
      }
      result_.rows.push_back(compared);
    }
  }

  void LookForExtras() {
    if (result_.folderMissing) return;
    ::LookForExtras(request_.comparedWith, "", 0, expected_, &result_.onlyOnDisk);
  }

  // The rows still There, as their row numbers.
  std::vector<uint32_t> Waiting() const {
    std::vector<uint32_t> rows;
    for (const ComparedRow& compared : result_.rows) {
      if (compared.state == OnDisk::There) rows.push_back(compared.row);
    }
    return rows;
  }
  uint64_t DiskSize(uint32_t row) const { return sizes_.at(row); }
  const std::string& PathOf(uint32_t row) { return Row(row).path; }

  // What the entry's facts and bytes say of its row's file.
  void Judge(uint32_t row, const EntryFacts& facts, const unsigned char* bytes, const std::string& how,
             StreamedComparison* streamed = nullptr) {
    ComparedRow& compared = Row(row);
    if (facts.damaged) return Damaged(compared, how.empty() ? DAMAGED_STREAM : how);
    if (SizeDiffers(compared, facts.unpackedSize)) return;
    BytesMatch match = BytesMatch::Same;
    std::string error;
    if (streamed != nullptr) {
      match = streamed->Result(facts);
      error = streamed->Error();
    } else {
      DiskBytes disk(compared.path);
      match = disk.Whole(bytes, facts.decoded);
      error = disk.Error();
    }
    Matched(compared, match, error, "other bytes");
  }

  // --quick: by the entry's size and content key.
  void JudgeByKey(uint32_t row, const ArchiveFile* file, ArchiveCursor* cursor) {
    ComparedRow& compared = Row(row);
    ArchiveEntryPlace place;
    ContentKey key;
    if (ArchiveFileEntryPlace(file, row, &place) == 0)
      return Damaged(compared, "the backup holds no entry for it that reads in order (\"packtool verify\" says more)");
    if (SizeDiffers(compared, place.unpackedSize)) return;
    if (ArchiveFileContentKey(file, row, &key) == 0) return Damaged(compared, DAMAGED_STREAM);
    DiskBytes disk(compared.path);
    std::vector<unsigned char> bytes;
    if (key.kind == CONTENT_KEY_STREAM_BYTES) {
      // No checksum to compare with: decoded all the same.
      const unsigned char* decoded = nullptr;
      ArchiveEntryInfo info;
      if (ArchiveCursorSeek(cursor, row) == 0 || (decoded = ArchiveCursorNextEntry(cursor)) == nullptr ||
          ArchiveCursorLastEntryInfo(cursor, &info) == 0 || info.damaged != 0) {
        return Damaged(compared, DAMAGED_STREAM);
      }
      return Matched(compared, disk.Whole(decoded, info.decoded), disk.Error(), "other bytes");
    }
    if (!disk.ReadAll(place.unpackedSize, &bytes)) return Matched(compared, BytesMatch::Unreadable, disk.Error(), "");
    uint64_t value = key.kind == CONTENT_KEY_STORED_BYTES ? ContentHash(CONTENT_HASH_START, bytes.data(), bytes.size())
                                                          : StreamChecksum(bytes.data(), uint32_t(bytes.size()));
    Matched(compared, value == key.value ? BytesMatch::Same : BytesMatch::Differ, "",
            key.kind == CONTENT_KEY_STORED_BYTES ? "other bytes (by their hash)" : "other bytes (by their checksum)");
  }

  void Damaged(ComparedRow& compared, const std::string& why) {
    compared.state = OnDisk::Damaged;
    compared.why = why;
  }
  void Damaged(uint32_t row, const std::string& why) { Damaged(Row(row), why); }

 private:
  ComparedRow& Row(uint32_t row) {
    return *std::find_if(result_.rows.begin(), result_.rows.end(),
                         [row](const ComparedRow& c) { return c.row == row; });
  }

  bool SizeDiffers(ComparedRow& compared, uint64_t size) {
    uint64_t here = sizes_.at(compared.row);
    if (here == size) return false;
    compared.state = OnDisk::Changed;
    compared.why = std::to_string(here) + " bytes here, " + std::to_string(size) + " in the backup";
    return true;
  }

  static void Matched(ComparedRow& compared, BytesMatch match, const std::string& error, const char* differ) {
    if (match == BytesMatch::Same) {
      compared.state = OnDisk::Same;
    } else if (match == BytesMatch::Differ) {
      compared.state = OnDisk::Changed;
      compared.why = differ;
    } else {
      compared.state = OnDisk::NotCompared;
      compared.why = "cannot be read: " + error;
    }
  }

  const PackToolRequest& request_;
  FolderComparison& result_;
  std::set<std::string> expected_;
  std::map<uint32_t, uint64_t> sizes_;  // of the rows with a file in their place
};

// By decoding, on the threads asked for; past damage by the salvage walk.
int CompareContents(const PackToolRequest& request, OpenedArchive& opened, Comparer& comparer) {
  ArchiveSession& session = opened.session;
  const PlainReading& plain = opened.plain;
  bool indexSound = opened.index.state == IndexState::Sound;
  std::vector<uint32_t> waiting = comparer.Waiting();
  if (!plain.HoldsTogether()) {
    Complain(ShownPath(request.archive) + ": " + PastDamageSaid(plain));
    std::set<uint32_t> left(waiting.begin(), waiting.end());
    WalkPastDamage(session.Archive(), session.Rows().size(), indexSound, [&](const WalkedEntry& entry) {
      if (left.erase(entry.number) == 0) return true;
      comparer.Judge(entry.number, entry.facts, entry.bytes, entry.how);
      return !left.empty();
    });
    for (uint32_t row : left) comparer.Damaged(row, "the backup holds no entry for it, even past the damage");
    return EXIT_DAMAGED;
  }
  // Only the entries whose file has their size are decoded.
  auto sameSize = [&](uint32_t entry) {
    return entry < plain.entries.size() && plain.entries[entry].unpackedSize == comparer.DiskSize(entry);
  };
  std::set<uint32_t> decoded;
  for (uint32_t row : waiting) {
    if (sameSize(row)) decoded.insert(row);
  }
  auto isWanted = [&](uint32_t entry) {
    const EntryFacts& facts = plain.entries[entry];
    return !ArchiveEntryStreamed(facts.unpackedSize, facts.packedSize) && decoded.count(entry) != 0;
  };
  session.DecodeAhead(request.jobs, PlanEntries(plain, isWanted));
  RowFetcher fetcher(session, opened.index.facts, indexSound);
  int code = EXIT_OK;
  for (uint32_t row : waiting) {
    if (row < plain.entries.size() && decoded.count(row) == 0) {
      comparer.Judge(row, plain.entries[row], nullptr, "");  // its size differs: no bytes needed
      continue;
    }
    EntryFacts facts;
    const unsigned char* bytes = nullptr;
    bool streamed = false;
    StreamedComparison big(comparer.PathOf(row));
    int fetched = fetcher.Fetch(row, &facts, &bytes, false, &big, &streamed);
    if (fetched == EXIT_OK) {
      comparer.Judge(row, facts, bytes, "", streamed ? &big : nullptr);
      continue;
    }
    code = ExitWorst(code, fetched == EXIT_MEMORY ? EXIT_MEMORY : EXIT_DAMAGED);
    comparer.Damaged(row, fetched == EXIT_DAMAGED  ? fetcher.EndText()
                          : fetched == EXIT_MEMORY ? "too large to hold in memory"
                                                   : "the backup holds no entry for it");
  }
  return code;
}

}  // namespace

int CompareWithFolder(const PackToolRequest& request, const CompareHow& how, FolderComparison* result) {
  *result = FolderComparison{};
  uint64_t size = 0;
  PlatformNameKind kind = PlatformPathKind(request.comparedWith.c_str(), &size);
  if (kind != PlatformNameKind::Folder && kind != PlatformNameKind::Missing) {
    Complain(QuotedPath(request.comparedWith) + " is not a folder");
    return EXIT_TARGET_REFUSED;
  }
  result->folderMissing = kind == PlatformNameKind::Missing;
  bool quick = how.contents && request.quick;
  OpenedArchive opened;
  ReadOn readOn = !how.contents ? ReadOn::Headers : quick ? ReadOn::Places : ReadOn::Entries;
  int code = OpenArchive(request.archive, readOn, &opened);
  if (code != EXIT_OK) return code;
  code = opened.index.code;
  const std::vector<std::string>& rows = opened.session.Rows();
  if (int failed = FindPart(request, rows, &result->part); failed != EXIT_OK) return failed;
  result->rowTexts = rows;
  Comparer comparer(request, *result);
  comparer.Place(rows);
  if (how.extras) comparer.LookForExtras();
  if (!how.contents) return code;
  if (!quick) {
    code = ExitWorst(code, CompareContents(request, opened, comparer));
  } else {
    const ArchiveFile* file = opened.session.Archive();
    ArchiveCursor* cursor = ArchiveCursorCreate(file);
    for (uint32_t row : comparer.Waiting()) comparer.JudgeByKey(row, file, cursor);
    ArchiveCursorFree(cursor);
  }
  for (const ComparedRow& compared : result->rows) {
    if (compared.state == OnDisk::Damaged) code = ExitWorst(code, EXIT_DAMAGED);
  }
  return code;
}
