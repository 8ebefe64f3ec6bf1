#include "tools/commands/rescue_files.h"

#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

constexpr uint32_t FALLBACK_TRIES = 1000;

std::string FallbackName(uint32_t entry, uint32_t k) {
  return k == 1 ? UnnamedEntryFileName(entry) : "entry-" + std::to_string(entry) + "-" + std::to_string(k) + ".bin";
}

// What stands in a write's way, or "" for a failure of the system's.
std::string InTheWay(const TreeResult& result) {
  switch (result.outcome) {
    case TreeOutcome::Link:
      return QuotedPath(result.path) + LINK_REFUSED;
    case TreeOutcome::Exists:
    case TreeOutcome::OfThisRun:
    case TreeOutcome::NotAFile:
      return QuotedPath(result.path) + " exists";
    default:
      return "";
  }
}

}  // namespace

void RescueFiles::Write(const std::vector<std::string>& parts, uint32_t number, const unsigned char* bytes,
                        uint32_t size, Said said) {
  static const unsigned char NONE = 0;
  // A larger file is placed alone, while its bytes are still the caller's.
  bool alone = size > COPIES_MAX;
  if (alone || copied_ + size > COPIES_MAX) PlaceBatch();
  WaitingEntry entry;
  entry.said = std::move(said);
  entry.write = true;
  entry.parts = parts;
  entry.number = number;
  entry.bytes = size > 0 ? bytes : &NONE;
  entry.size = size;
  if (!alone && size > 0) {
    entry.copy.assign(bytes, bytes + size);
    entry.bytes = entry.copy.data();
    copied_ += size;
  }
  entry.result = WriteAt(entry.parts, entry, false);
  entry.staged = entry.result.outcome == TreeOutcome::Written;
  waiting_.push_back(std::move(entry));
  if (alone || tree_.Full()) PlaceBatch();
}

void RescueFiles::Hold(Said said) {
  WaitingEntry entry;
  entry.said = std::move(said);
  waiting_.push_back(std::move(entry));
}

void RescueFiles::PlaceBatch() {
  if (waiting_.empty()) return;
  std::vector<WaitingEntry> batch = std::move(waiting_);
  waiting_.clear();
  copied_ = 0;
  std::vector<TreeResult> placed = tree_.Flush();
  size_t next = 0;
  for (WaitingEntry& entry : batch) {
    if (!entry.write) {
      entry.said(nullptr);
      continue;
    }
    RescuedFile file = Placed(entry, entry.staged && next < placed.size() ? placed[next++] : entry.result);
    entry.said(&file);
  }
}

// parts: the folders below the folder, then the name; staged with the
// batch, or written at once (now).
TreeResult RescueFiles::WriteAt(const std::vector<std::string>& parts, const WaitingEntry& entry, bool now) {
  std::vector<std::string> names;
  for (const std::string& part : parts) names.push_back(FileNameText(part));
  std::string name = names.back();
  names.pop_back();
  if (now) return tree_.Write(names, name, entry.bytes, entry.size, false, entry.number);
  OutputTree::Fill fill = [&](PlatformStagedFile& file, std::string*) { return file.Write(entry.bytes, entry.size); };
  return tree_.Stage(names, name, fill, entry.size, false, entry.number);
}

// result: the staging's, or the move's.
RescuedFile RescueFiles::Placed(WaitingEntry& entry, TreeResult result) {
  RescuedFile file;
  std::vector<std::string>& parts = entry.parts;
  if (result.outcome == TreeOutcome::Exists) {
    // A rerun into the folder of one that was stopped finds the files that
    // one placed: one that holds exactly the entry's bytes is the entry's.
    std::vector<std::string> names;
    for (const std::string& part : parts) names.push_back(FileNameText(part));
    std::string name = names.back();
    names.pop_back();
    if (tree_.Holds(names, name, entry.bytes, entry.size)) {
      file.written = file.kept = true;
      for (const std::string& part : parts) file.path += (file.path.empty() ? "" : "/") + part;
      return file;
    }
  }
  std::string inTheWay = InTheWay(result);
  if (!inTheWay.empty()) {
    // A file in the way stays; the entry goes to the first free fallback
    // name, written at once (rare: not worth a batch).
    file.inTheWay = inTheWay;
    file.link = result.outcome == TreeOutcome::Link;
    for (uint32_t k = 1; !inTheWay.empty() && k <= FALLBACK_TRIES; k++) {
      std::vector<std::string> fallback{FallbackName(entry.number, k)};
      if (fallback == parts) continue;
      parts = fallback;
      result = WriteAt(parts, entry, true);
      inTheWay = InTheWay(result);
    }
  }
  if (result.outcome != TreeOutcome::Written) {
    file.refused = inTheWay;
    if (inTheWay.empty()) file.failed = QuotedPath(result.path) + ": " + result.error;
    return file;
  }
  file.written = true;
  for (const std::string& part : parts) file.path += (file.path.empty() ? "" : "/") + part;
  return file;
}

int PrepareRescueFolder(const PackToolRequest& request) {
  const std::string& folder = request.outputFolder;
  uint64_t size = 0;
  std::string error;
  switch (PlatformPathKind(folder.c_str(), &size)) {
    case PlatformNameKind::Missing:
      if (MakeFolders(folder, &error)) return EXIT_OK;
      Complain("cannot make the folder " + QuotedPath(folder) + ": " + error);
      return EXIT_WRITE;
    case PlatformNameKind::Folder:
      if (request.force || PlatformFolderIsEmpty(folder.c_str())) return EXIT_OK;
      Complain(QuotedPath(folder) +
               " holds files already: rescue into a fresh or empty folder (--force writes there, " +
               "replacing nothing)");
      return EXIT_TARGET_REFUSED;
    default:
      Complain(QuotedPath(folder) + " exists and is not a folder");
      return EXIT_TARGET_REFUSED;
  }
}
