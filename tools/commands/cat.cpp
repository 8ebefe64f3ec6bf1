#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/output/entry_file.h"
#include "tools/rows/rows.h"

namespace {

// Where an entry too large to hold goes: a stored one straight to standard
// output in pieces, a compressed one decoded into an unnamed temporary file
// (mapped) first, so that a damaged one is written only when asked.
class CatSink : public ArchiveEntrySink {
 public:
  ~CatSink() {
    if (temporary_ != PLATFORM_FILE_INVALID) PlatformFileClose(temporary_);
  }
  bool Take(const unsigned char* bytes, uint32_t size) override { return fwrite(bytes, 1, size, stdout) == size; }
  unsigned char* Room(uint32_t size, uint32_t packedSize) override { return decodedFile_.Room(size, packedSize); }

  // Writes the first size decoded bytes to standard output in pieces; false
  // with the reason when it could not.
  bool Copy(uint32_t size, std::string* error) {
    if (!decodedFile_.Finish(size)) {
      *error = decodedFile_.Error();
      return false;
    }
    std::vector<unsigned char> piece(ARCHIVE_STREAM_PIECE);
    for (uint64_t at = 0; at < size;) {
      uint32_t done = 0;
      uint32_t wanted = uint32_t(std::min<uint64_t>(piece.size(), size - at));
      if (!PlatformFileReadAt(temporary_, at, piece.data(), wanted, &done) || done != wanted) {
        *error = SystemErrorText();
        return false;
      }
      fwrite(piece.data(), 1, done, stdout);
      at += done;
    }
    return true;
  }
  // Why the sink refused the entry.
  std::string Refusal() const {
    if (!decodedFile_.Asked()) return "it is too large to hold in memory";
    return temporary_ == PLATFORM_FILE_INVALID ? "no temporary file: " + SystemErrorText() : decodedFile_.Error();
  }

 private:
  PlatformFile temporary_ = PLATFORM_FILE_INVALID;
  EntryFile decodedFile_{[this] { return temporary_ = PlatformFileCreateUnnamed(); }, false};
};

}  // namespace

int RunCat(const PackToolRequest& request) {
  OpenedArchive opened;
  int code = OpenArchive(request.archive, ReadOn::Entries, &opened);
  if (code != EXIT_OK) return code;
  ArchiveSession& session = opened.session;
  // One entry, decoded on this thread: a big stream's checksum may take
  // the other core meanwhile.
  session.Engine(request.jobs);
  const OpenedIndex& index = opened.index;
  const PlainReading& plain = opened.plain;
  code = index.code;

  std::vector<uint32_t> chosen;
  int selected = SelectRows(request, session.Rows(), &chosen);
  if (selected != EXIT_OK) return ExitWorst(code, selected);
  if (chosen.size() != 1) {
    // Say which, so that the next try can name one of them.
    constexpr size_t SHOWN = 20;
    std::string which;
    for (size_t i = 0; i < chosen.size() && i < SHOWN; i++) {
      which += "\n  " + RowName(chosen[i], session.Rows());
    }
    if (chosen.size() > SHOWN) which += "\n  and " + std::to_string(chosen.size() - SHOWN) + " more";
    Complain("the name or patterns choose " + Counted(chosen.size(), "row", "rows") +
             "; cat writes exactly one: give its number or a longer name" + which);
    return EXIT_USAGE;
  }
  uint32_t row = chosen.front();
  EntryFacts facts;
  const unsigned char* bytes = nullptr;
  std::string how = DAMAGED_STREAM;
  std::vector<unsigned char> walked;  // the entry's bytes, when the salvage walk found it
  CatSink big;
  bool streamed = false;
  if (!plain.HoldsTogether()) {
    if (!request.quiet) Complain(ShownPath(request.archive) + ": " + PastDamageSaid(plain));
    code = ExitWorst(code, EXIT_DAMAGED);
    bool found = false;
    WalkPastDamage(session.Archive(), session.Rows().size(), index.state == IndexState::Sound,
                   [&](const WalkedEntry& entry) {
                     const EntryNaming& naming = entry.naming;
                     bool named = naming.from != NameFrom::None;
                     if (named ? naming.row != row : entry.number != row || row < session.Rows().size()) return true;
                     found = true;
                     if (naming.from == NameFrom::Guess) {
                       Complain(RowName(row, session.Rows()) + ": entry " + std::to_string(entry.number) +
                                " is given, but that it is this row's is a guess (the damage before it may hide "
                                "entries or add some)");
                     }
                     facts = entry.facts;
                     if (!entry.how.empty()) how = entry.how;
                     walked.assign(entry.bytes, entry.bytes + (entry.bytes != nullptr ? entry.facts.decoded : 0));
                     return false;
                   });
    if (!found) {
      Complain(RowName(row, session.Rows()) + ": the archive holds no entry for it, even past the damage");
      return EXIT_DAMAGED;
    }
    bytes = walked.data();
  } else {
    RowFetcher fetcher(session, index.facts, index.state == IndexState::Sound);
    int fetched = fetcher.Fetch(row, &facts, &bytes, false, &big, &streamed);
    if (streamed && fetched == EXIT_MEMORY) {
      Complain(RowName(row, session.Rows()) + ": cannot hold the entry (" + std::to_string(facts.unpackedSize) +
               " bytes): " + big.Refusal() + "; nothing more written");
    }
    if (fetched != EXIT_OK) return ExitWorst(code, fetched);
  }
  if (facts.damaged && (!request.force || facts.decoded == 0)) {
    Complain(RowName(row, session.Rows()) + ": damaged entry: " + how + "; nothing written" +
             (facts.decoded == 0 ? "" : " (--force writes what could be decoded)"));
    return EXIT_DAMAGED;
  }
  std::string error;
  if (!streamed) {
    fwrite(bytes, 1, facts.decoded, stdout);
  } else if (!facts.stored && !big.Copy(facts.decoded, &error)) {
    Complain(RowName(row, session.Rows()) + ": cannot read the decoded entry back: " + error);
    return ExitWorst(code, EXIT_WRITE);
  }
  if (facts.damaged) {
    if (!request.quiet)
      Complain(RowName(row, session.Rows()) + ": damaged entry: " + std::to_string(facts.decoded) + " of " +
               std::to_string(facts.unpackedSize) + " bytes written, those that could be decoded (" +
               DAMAGED_MAY_BE_WRONG + ")");
    code = ExitWorst(code, EXIT_DAMAGED);
  }
  return FinishOutput(code);
}
