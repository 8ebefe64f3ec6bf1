#include "tools/rows/opened_archive.h"

#include "tools/cli/cli.h"

namespace {

// Opens the archive and reads its index. EXIT_OK, or the code after saying
// why the command cannot go on. A damaged or unholdable index does not stop
// it: it is reported, and index->code is set for it.
int OpenWithIndex(ArchiveSession& session, const std::string& path, ArchiveWalk walk, OpenedIndex* index) {
  *index = OpenedIndex{};
  EntryFacts* facts = &index->facts;
  std::string error;
  if (!session.Open(path, &error, walk)) {
    Complain(ShownPath(path) + ": " + error);
    return EXIT_ARCHIVE;
  }
  EntryOutcome outcome;
  session.ReadIndex(&outcome, facts);
  switch (outcome) {
    case EntryOutcome::End:
    case EntryOutcome::StrayBytes:
      Complain(ShownPath(path) + ": not a pack archive: too short for an entry header");
      return EXIT_ARCHIVE;
    case EntryOutcome::Truncated:
      Complain(ShownPath(path) +
               ": damaged archive: it ends inside its index (entry 0); \"packtool rescue\" recovers what is there");
      return EXIT_DAMAGED;
    case EntryOutcome::Unreadable:
      Complain(ShownPath(path) + ": damaged archive: the index (entry 0) cannot be read: " + UNREADABLE +
               "; \"packtool rescue\" recovers what can be read");
      return EXIT_DAMAGED;
    case EntryOutcome::TooLarge:
      Complain(ShownPath(path) + ": the index (entry 0) is too large to hold in memory (" +
               std::to_string(facts->unpackedSize) + " bytes): entries are named by number");
      index->state = IndexState::TooLarge;
      index->code = EXIT_MEMORY;
      return EXIT_OK;
    default:
      break;
  }
  if (facts->damaged) {
    index->state = IndexState::Damaged;
    index->code = EXIT_DAMAGED;
  }
  return EXIT_OK;
}

// What a damaged index's rows are worth. entries: how many entries the
// archive holds, when the plain reading counted them (0: not counted); no
// more rows than that are said to be trusted, as no more can name one.
void SayDamagedIndex(const std::string& path, const ArchiveSession& session, size_t entries) {
  size_t rows = session.Rows().size();
  size_t decoded = session.DecodedRows();
  std::string implausible =
      decoded > rows ? " (line " + std::to_string(rows) + " and those after it are no plausible paths)" : "";
  std::string trusted = "only the " + Counted(rows, "row", "rows") + " decoded whole before the damage " +
                        (rows == 1 ? "is" : "are") + " trusted";
  if (entries > 0 && rows > entries) {
    trusted = "of the " + Counted(rows, "row", "rows") + " decoded whole before the damage, only the first " +
              std::to_string(entries) + " can name one of the archive's " + Counted(entries, "entry", "entries");
  }
  Complain(ShownPath(path) + ": the index (entry 0) is damaged: " + DAMAGED_STREAM + "; " + trusted + implausible);
}

}  // namespace

int OpenArchive(const std::string& path, ReadOn readOn, OpenedArchive* opened) {
  // The headers are read once, by the walk; the plain reading and the
  // reading of entries after it pass them with no read.
  ArchiveWalk walk = readOn == ReadOn::Places ? ARCHIVE_WALK_HEADERS : ARCHIVE_WALK_PLAUSIBLE;
  int code = OpenWithIndex(opened->session, path, walk, &opened->index);
  bool damagedIndex = code == EXIT_OK && opened->index.state == IndexState::Damaged;
  if (damagedIndex && readOn == ReadOn::Places) SayDamagedIndex(path, opened->session, 0);
  if (code != EXIT_OK || readOn == ReadOn::Places) return code;
  opened->plain = ReadPlainly(opened->session, opened->index);
  // Past damage the plain reading's count is no count of the entries.
  if (damagedIndex)
    SayDamagedIndex(path, opened->session, opened->plain.HoldsTogether() ? opened->plain.entries.size() : 0);
  if (readOn == ReadOn::Entries && opened->plain.HoldsTogether() && !opened->session.Rewind()) {
    Complain(ShownPath(path) + ": the archive changed while it was read");
    return EXIT_ARCHIVE;
  }
  return EXIT_OK;
}
