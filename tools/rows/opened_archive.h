// How every reading command begins: the archive opened with its index read,
// and its entries passed once by their headers (the plain reading), so that
// the command knows whether to read on plainly or past the damage.
#pragma once

#include <string>

#include "tools/rows/archive_session.h"
#include "tools/rows/entry_texts.h"
#include "tools/rows/past_damage.h"

struct OpenedArchive {
  ArchiveSession session;
  OpenedIndex index;
  PlainReading plain;
};

// What the command does after the plain reading.
enum class ReadOn {
  Headers,  // nothing more: the plain reading is all it needs
  Entries,  // reads entries: where the plain reading held together, the
            // session is put back before entry 1 for it
  Places,   // no plain reading: the archive is walked when opened, and the
            // command reads entries by their places (session.Archive())
};

// EXIT_OK, or the code after saying why the command cannot go on (the
// archive is none, cannot be opened, its index cannot be read, or it
// changed between the plain reading and the one after). A damaged or
// unholdable index does not stop it: it is reported, and index.code is set
// for it (rows then name their entries by number beyond the trusted ones).
// Trouble in the plain reading does not stop it either: plain.HoldsTogether() says
// it, for the command to report in its way and to go on past the damage.
int OpenArchive(const std::string& path, ReadOn readOn, OpenedArchive* opened);
