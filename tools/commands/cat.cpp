#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/rows/rows.h"

int RunCat(const PackToolRequest& request) {
  OpenedArchive opened;
  int code = OpenArchive(request.archive, ReadOn::Entries, &opened);
  if (code != EXIT_OK) return code;
  ArchiveSession& session = opened.session;
  const OpenedIndex& index = opened.index;
  const PlainReading& plain = opened.plain;
  code = index.code;

  std::vector<uint32_t> chosen;
  int selected = SelectRows(request, session.Rows(), &chosen);
  if (selected != EXIT_OK) return ExitWorst(code, selected);
  if (chosen.size() != 1) {
    Complain("the patterns choose " + Counted(chosen.size(), "row", "rows") + "; cat writes exactly one");
    return EXIT_USAGE;
  }
  uint32_t row = chosen.front();
  EntryFacts facts;
  const unsigned char* bytes = nullptr;
  std::string how = DAMAGED_STREAM;
  std::vector<unsigned char> walked;  // the entry's bytes, when the salvage walk found it
  if (!plain.trouble.empty()) {
    if (!request.quiet) Complain(ShownPath(request.archive) + ": " + PastDamageSaid(plain));
    code = ExitWorst(code, EXIT_DAMAGED);
    bool found = false;
    WalkPastDamage(request.archive, session.Rows().size(), index.state == IndexState::Sound,
                   [&](const WalkedEntry& entry) {
                     if (entry.number != row) return true;
                     found = true;
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
    int fetched = fetcher.Fetch(row, &facts, &bytes);
    if (fetched != EXIT_OK) return ExitWorst(code, fetched);
  }
  if (facts.damaged && (!request.force || facts.decoded == 0)) {
    Complain(RowName(row, session.Rows()) + ": damaged entry: " + how + "; nothing written" +
             (facts.decoded == 0 ? "" : " (--force writes what could be decoded)"));
    return EXIT_DAMAGED;
  }
  fwrite(bytes, 1, facts.decoded, stdout);
  if (facts.damaged) {
    if (!request.quiet)
      Complain(RowName(row, session.Rows()) + ": damaged entry: " + std::to_string(facts.decoded) + " of " +
               std::to_string(facts.unpackedSize) + " bytes written, those that could be decoded (" +
               DAMAGED_MAY_BE_WRONG + ")");
    code = ExitWorst(code, EXIT_DAMAGED);
  }
  return FinishOutput(code);
}
