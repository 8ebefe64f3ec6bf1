// compare BACKUP OTHER-BACKUP: the rows added, removed and changed between
// two backups (a month and the next), rows matched by their text as Windows
// compares names, entries by their content key or, with --verify, by what
// they decode to.
#include <map>
#include <string>
#include <vector>

#include "pack/content_key.h"
#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

std::string FoldedText(const std::string& text) {
  std::string key = text;
  for (char& c : key) c = static_cast<char>(RowMatchFold(static_cast<unsigned char>(c)));
  return key;
}

// One backup, open for keys and, where asked, decoding.
struct Side {
  std::string path;
  OpenedArchive opened;
  ArchiveCursor* cursor = nullptr;
  std::map<std::string, uint32_t> byText;  // folded text: its first row

  ~Side() { ArchiveCursorFree(cursor); }
  const std::vector<std::string>& Rows() const { return opened.session.Rows(); }

  // The entry's key: by its header, or decoded. False for an entry that is
  // missing or damaged.
  bool Key(uint32_t row, bool decode, ContentKey* key) {
    const ArchiveFile* file = opened.session.Archive();
    if (!decode) return ArchiveFileContentKey(file, row, key) != 0;
    if (cursor == nullptr) cursor = ArchiveCursorCreate(file);
    if (cursor == nullptr || ArchiveCursorSeek(cursor, row) == 0) return false;
    const unsigned char* bytes = ArchiveCursorNextEntry(cursor);
    ArchiveEntryInfo info;
    if (bytes == nullptr || ArchiveCursorLastEntryInfo(cursor, &info) == 0 || info.damaged != 0) return false;
    *key = DecodedContentKey(bytes, info.unpackedSize);
    return true;
  }
};

struct Difference {
  uint32_t row;       // in the backup it was found in (added: the other)
  uint32_t otherRow;  // changed: its row in the other backup
  std::string text;
  std::string why;  // damaged: which backup's entry
};

struct Differences {
  std::vector<Difference> added, removed, changed, damaged;
  size_t same = 0;
};

// Whether the two rows' entries hold the same bytes; false with *damaged
// set when either cannot tell.
bool SameContent(Side& a, uint32_t rowA, Side& b, uint32_t rowB, bool decode, std::string* damaged) {
  ContentKey keyA, keyB;
  bool readA = a.Key(rowA, decode, &keyA);
  bool readB = b.Key(rowB, decode, &keyB);
  // A stored and a compressed copy have keys of different kinds: decoding tells.
  if (readA && readB && !decode && keyA.kind != keyB.kind && keyA.unpackedSize == keyB.unpackedSize) {
    readA = a.Key(rowA, true, &keyA);
    readB = b.Key(rowB, true, &keyB);
  }
  if (!readA || !readB) {
    *damaged = "damaged or missing in " + ShownPath(!readA ? a.path : b.path);
    return false;
  }
  return keyA == keyB;
}

Differences Compare(Side& a, Side& b, bool decode) {
  Differences found;
  // Row 0 is the index itself: it differs whenever anything does.
  for (uint32_t row = 1; row < b.Rows().size(); row++) b.byText.emplace(FoldedText(b.Rows()[row]), row);
  for (uint32_t row = 1; row < a.Rows().size(); row++) {
    const std::string& text = a.Rows()[row];
    if (!a.byText.emplace(FoldedText(text), row).second) continue;  // a repeated row: its first stands
    auto other = b.byText.find(FoldedText(text));
    if (other == b.byText.end()) {
      found.removed.push_back({row, 0, text, ""});
      continue;
    }
    std::string damaged;
    if (SameContent(a, row, b, other->second, decode, &damaged)) {
      found.same++;
    } else if (!damaged.empty()) {
      found.damaged.push_back({row, other->second, text, damaged});
    } else {
      found.changed.push_back({row, other->second, text, ""});
    }
  }
  for (const auto& [key, row] : b.byText) {
    if (a.byText.count(key) == 0) found.added.push_back({row, 0, b.Rows()[row], ""});
  }
  std::sort(found.added.begin(), found.added.end(),
            [](const Difference& x, const Difference& y) { return x.row < y.row; });
  return found;
}

struct Kind {
  std::vector<Difference> Differences::*list;
  const char* heading;
  const char* key;
};
const Kind KINDS[] = {
    {&Differences::added, "added", "added"},
    {&Differences::removed, "removed", "removed"},
    {&Differences::changed, "changed", "changed"},
    {&Differences::damaged, "damaged, not compared", "damaged"},
};

}  // namespace

int RunCompareBackups(const PackToolRequest& request) {
  Side a, b;
  a.path = request.archive;
  b.path = request.comparedWith;
  int code = OpenArchive(a.path, ReadOn::Places, &a.opened);
  if (code != EXIT_OK) return code;
  if (int failed = OpenArchive(b.path, ReadOn::Places, &b.opened); failed != EXIT_OK) return failed;
  code = ExitWorst(a.opened.index.code, b.opened.index.code);
  Differences found = Compare(a, b, request.decode);
  if (!found.added.empty() || !found.removed.empty() || !found.changed.empty()) code = ExitWorst(code, EXIT_DIFFERENT);
  if (!found.damaged.empty()) code = ExitWorst(code, EXIT_DAMAGED);

  if (request.format == ListFormat::Json) {
    JsonDocument document = {{"archive", JsonHostPath(a.path)},
                             {"other", JsonHostPath(b.path)},
                             {"decoded", request.decode},
                             {"same", found.same}};
    for (const Kind& kind : KINDS) {
      JsonDocument rows = JsonDocument::array();
      for (const Difference& d : found.*kind.list) {
        JsonDocument row = {{"row", d.row}, {"text", Windows1252ToUtf8(d.text)}};
        if (kind.list == &Differences::changed || kind.list == &Differences::damaged) row["otherRow"] = d.otherRow;
        if (!d.why.empty()) row["reason"] = d.why;
        rows.push_back(row);
      }
      document[kind.key] = rows;
    }
    document["exitCode"] = code;
    PrintJsonDocument(document);
  } else if (!request.quiet) {
    Print(ShownPath(b.path) + " against " + ShownPath(a.path) + (request.decode ? " (decoded)" : "") + ":\n");
    for (const Kind& kind : KINDS) {
      const std::vector<Difference>& list = found.*kind.list;
      if (list.empty()) continue;
      Print(std::string(kind.heading) + " (" + std::to_string(list.size()) + "):\n");
      for (const Difference& d : list) Print("  " + Shown(d.text) + (d.why.empty() ? "" : "  (" + d.why + ")") + "\n");
    }
    Print(std::to_string(found.added.size()) + " added, " + std::to_string(found.removed.size()) + " removed, " +
          std::to_string(found.changed.size()) + " changed, " + std::to_string(found.same) + " same" +
          (found.damaged.empty() ? "" : ", " + std::to_string(found.damaged.size()) + " damaged") + "\n");
  }
  return FinishOutput(code);
}
