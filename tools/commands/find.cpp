// find: the rows of many archives whose text matches, grouped by row text,
// with the archives that hold each, its size there and its versions. One
// archive is open at a time; only the rows that match are kept.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "pack/content_key.h"
#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

// A matching row of one archive and what its entry is.
struct FoundRow {
  size_t archive;  // of Finder::paths_
  uint32_t row;
  bool hasEntry = false;  // the archive holds an entry for the row
  bool damaged = false;   // its entry gives no key: not a stream, or (--verify) it does not decode
  ArchiveEntryPlace place = {};
  ContentKey key = {};
  int version = 0;  // 1, 2, ... by key within its text; 0 for a missing or damaged entry
  bool newVersion = false;
};

struct FoundText {
  std::string text;  // Windows-1252, as the index holds it
  std::vector<FoundRow> rows;
  std::vector<ContentKey> versions;
};

// The words of find parted into patterns (Windows-1252) and places.
struct FindWords {
  std::vector<std::string> typed;
  std::vector<std::string> places;
};

FindWords PartWords(const PackToolRequest& request) {
  const std::vector<std::string>& words = request.findWords;
  size_t split = words.size() - 1;
  if (request.findPatterns >= 0) {
    split = size_t(request.findPatterns);
  } else {
    for (size_t i = 1; i < words.size(); i++) {
      uint64_t size = 0;
      if (PlatformPathKind(words[i].c_str(), &size) == PlatformNameKind::Missing) continue;
      split = i;
      break;
    }
  }
  return FindWords{{words.begin(), words.begin() + long(split)}, {words.begin() + long(split), words.end()}};
}

// When the file was last written; 0 when that cannot be told.
int64_t WrittenAt(const std::string& path, uint32_t* nanoseconds) {
  PlatformFile file = PlatformFileOpenRead(path.c_str(), false);
  PlatformFileFacts facts{};
  bool told = file != PLATFORM_FILE_INVALID && PlatformFileStamp(file, &facts);
  if (file != PLATFORM_FILE_INVALID) PlatformFileClose(file);
  *nanoseconds = told ? facts.modifiedNanoseconds : 0;
  return told ? facts.modifiedSeconds : 0;
}

// The archives found in folders in the order they were made, so that the
// versions read as a history whatever the backups are named: by the time
// each was last written, their paths where times tie. Archives named on the
// command line keep their places; those of a folder take the places its
// archives had among them.
void InTimeOrder(std::vector<PlacedArchive>* archives) {
  struct Timed {
    int64_t seconds;
    uint32_t nanoseconds;
    PlacedArchive placed;
  };
  std::vector<Timed> found;
  for (const PlacedArchive& placed : *archives) {
    if (!placed.inFolder) continue;
    Timed timed{0, 0, placed};
    timed.seconds = WrittenAt(placed.path, &timed.nanoseconds);
    found.push_back(timed);
  }
  std::stable_sort(found.begin(), found.end(), [](const Timed& a, const Timed& b) {
    if (a.seconds != b.seconds) return a.seconds < b.seconds;
    if (a.nanoseconds != b.nanoseconds) return a.nanoseconds < b.nanoseconds;
    return a.placed.path < b.placed.path;
  });
  size_t next = 0;
  for (PlacedArchive& placed : *archives) {
    if (placed.inFolder) placed = found[next++].placed;
  }
}

class Finder {
 public:
  Finder(const PackToolRequest& request, std::vector<std::string> patterns, std::vector<std::string> typed)
      : request_(request), patterns_(std::move(patterns)), typed_(std::move(typed)), used_(patterns_.size(), false) {}

  // One archive: its matching rows, or why it has none.
  void Search(const PlacedArchive& placed) {
    if (PassedOver(placed, &records_)) return;
    OpenedArchive opened;
    int failed = OpenArchive(placed.path, ReadOn::Places, &opened);
    if (failed != EXIT_OK) {
      code_ = ExitWorst(code_, failed);
      records_.push_back(FailedRecord(placed.path, failed));
      return;
    }
    code_ = ExitWorst(code_, opened.index.code);
    size_t archive = paths_.size();
    paths_.push_back(placed.path);
    const std::vector<std::string>& rows = opened.session.Rows();
    const ArchiveFile* file = opened.session.Archive();
    ArchiveCursor* cursor = request_.decode ? ArchiveCursorCreate(file) : nullptr;
    size_t matched = 0;
    for (uint32_t row = 0; row < rows.size(); row++) {
      bool matches = false;
      // Every pattern is tried on every row, so that each one's use is known.
      for (size_t p = 0; p < patterns_.size(); p++) {
        if (!Chooses(patterns_[p], rows[row])) continue;
        used_[p] = true;
        matches = true;
      }
      if (!matches) continue;
      matched++;
      FoundRow found{archive, row};
      found.hasEntry = ArchiveFileEntryPlace(file, row, &found.place) != 0;
      if (found.hasEntry) found.damaged = !Key(file, cursor, row, &found.key);
      if (!found.hasEntry || found.damaged) {
        code_ = ExitWorst(code_, EXIT_DAMAGED);
        Complain(ShownPath(placed.path) + ": " + RowName(row, rows) + ": " +
                 (found.hasEntry ? "damaged: " + std::string(DAMAGED_STREAM)
                                 : "the archive holds no entry for it (\"packtool verify\" says more)"));
      }
      Add(rows[row], found);
    }
    ArchiveCursorFree(cursor);
    records_.push_back({{"archive", JsonHostPath(placed.path)}, {"matched", matched}});
  }

  int Finish(bool several) {
    for (size_t p = 0; p < patterns_.size(); p++) {
      if (used_[p]) continue;
      Complain("no row matches \"" + DisplayPattern(typed_[p]) + "\" in " +
               Counted(paths_.size(), "archive", "archives") +
               (HasWildcard(typed_[p]) ? ""
                                       : " (a name ends a row's path or names a folder in it; for a part of a "
                                         "name write a wildcard: \"*" +
                                             DisplayPattern(typed_[p]) + "*\")"));
      code_ = ExitWorst(code_, EXIT_ROW);
    }
    if (patterns_.empty()) code_ = ExitWorst(code_, EXIT_ROW);
    if (request_.format == ListFormat::Json) {
      PrintJson();
    } else if (!request_.quiet) {
      PrintText(several);
    }
    return FinishOutput(code_);
  }

 private:
  // The entry's key: read from its header and stream header, or with
  // --verify from what it decodes to. False for a damaged entry.
  static bool Key(const ArchiveFile* file, ArchiveCursor* cursor, uint32_t row, ContentKey* key) {
    if (cursor == nullptr) return ArchiveFileContentKey(file, row, key) != 0;
    if (ArchiveCursorSeek(cursor, row) == 0) return false;
    const unsigned char* bytes = ArchiveCursorNextEntry(cursor);
    ArchiveEntryInfo info;
    if (bytes == nullptr || ArchiveCursorLastEntryInfo(cursor, &info) == 0 || info.damaged != 0) return false;
    *key = DecodedContentKey(bytes, info.unpackedSize);
    return true;
  }

  void Add(const std::string& text, FoundRow found) {
    auto [at, added] = byText_.try_emplace(text, texts_.size());
    if (added) texts_.push_back(FoundText{text, {}, {}});
    FoundText& group = texts_[at->second];
    if (found.hasEntry && !found.damaged) {
      auto known = std::find(group.versions.begin(), group.versions.end(), found.key);
      found.version = int(known - group.versions.begin()) + 1;
      if (known == group.versions.end()) {
        group.versions.push_back(found.key);
        found.newVersion = found.version > 1;
      }
    }
    group.rows.push_back(found);
  }

  static std::string Storage(const FoundRow& found) {
    if (!found.hasEntry) return "missing";
    if (found.damaged) return "damaged";
    return found.place.unpackedSize == found.place.packedSize ? "stored" : "compressed";
  }

  static std::string Version(const FoundRow& found) {
    if (found.version == 0) return Storage(found);
    return "version " + std::to_string(found.version) + (found.newVersion ? " (new)" : "");
  }

  void PrintText(bool several) const {
    size_t pathWidth = 0;
    size_t sizeWidth = 1;
    uint32_t lastRow = 0;
    for (const FoundText& group : texts_) {
      for (const FoundRow& found : group.rows) {
        pathWidth = std::max(pathWidth, ShownPath(paths_[found.archive]).size());
        sizeWidth = std::max(sizeWidth, std::to_string(found.place.unpackedSize).size());
        lastRow = std::max(lastRow, found.row);
      }
    }
    size_t rowWidth = std::to_string(lastRow).size();
    for (const FoundText& group : texts_) {
      for (const FoundRow& found : group.rows) {
        std::string line;
        if (several) line = Padded(ShownPath(paths_[found.archive]) + ":", pathWidth + 1, false) + "  ";
        std::string size = found.hasEntry ? std::to_string(found.place.unpackedSize) : "-";
        line += "row " + Padded(std::to_string(found.row), rowWidth, true) + "  " + Padded(size, sizeWidth, true) +
                "  " + Padded(Version(found), 17, false) + "  " + Shown(group.text) + "\n";
        Print(line);
      }
    }
  }

  void PrintJson() const {
    JsonDocument texts = JsonDocument::array();
    for (const FoundText& group : texts_) {
      JsonDocument rows = JsonDocument::array();
      for (const FoundRow& found : group.rows) {
        rows.push_back({{"archive", JsonHostPath(paths_[found.archive])},
                        {"row", found.row},
                        {"unpackedSize", found.hasEntry ? JsonDocument(found.place.unpackedSize) : nullptr},
                        {"packedSize", found.hasEntry ? JsonDocument(found.place.packedSize) : nullptr},
                        {"storage", Storage(found)},
                        {"version", found.version == 0 ? JsonDocument() : JsonDocument(found.version)},
                        {"newVersion", found.newVersion}});
      }
      texts.push_back({{"text", Windows1252ToUtf8(group.text)}, {"versions", group.versions.size()}, {"rows", rows}});
    }
    PrintJsonDocument({{"decoded", request_.decode}, {"archives", records_}, {"texts", texts}});
  }

  static std::string Padded(const std::string& text, size_t width, bool left) {
    if (text.size() >= width) return text;
    std::string fill(width - text.size(), ' ');
    return left ? fill + text : text + fill;
  }

  // As extract takes them: a pattern, and a word without wildcards also as a name.
  static bool Chooses(const std::string& pattern, const std::string& row) {
    return PatternChoosesRow(pattern, row) || (!HasWildcard(pattern) && NameChoosesRow(pattern, row));
  }

  const PackToolRequest& request_;
  std::vector<std::string> patterns_;  // Windows-1252
  std::vector<std::string> typed_;     // each as typed
  std::vector<bool> used_;             // whether each matched a row
  std::vector<std::string> paths_;     // of the archives searched
  JsonDocument records_ = JsonDocument::array();
  std::vector<FoundText> texts_;
  std::unordered_map<std::string, size_t> byText_;
  int code_ = EXIT_OK;
};

}  // namespace

int RunFind(const PackToolRequest& request) {
  FindWords words = PartWords(request);
  std::vector<std::string> patterns;
  std::vector<std::string> typedAs;
  for (const std::string& typed : words.typed) {
    // A pattern is typed in the arguments' character set; rows are 1252.
    std::string pattern = typed;
    if (PlatformArgumentCodePage() == PLATFORM_CODE_PAGE_UTF8 && !Utf8ToWindows1252(typed, &pattern)) {
      Complain("no row matches \"" + DisplayPattern(typed) + "\": it holds a character that no row text can hold");
      continue;
    }
    patterns.push_back(std::move(pattern));
    typedAs.push_back(typed);
  }
  ArchivePlaces places = GatherArchives(words.places, request.recursive);
  InTimeOrder(&places.archives);
  Finder finder(request, std::move(patterns), std::move(typedAs));
  for (const PlacedArchive& placed : places.archives) finder.Search(placed);
  return ExitWorst(finder.Finish(places.several), places.code);
}
