// The exit codes of packtool, as --help and the README list them. When several
// rows fail (extract, verify), the process ends with the most serious code
// seen, so that a script never misses a damaged entry behind a refused one.
#pragma once

enum PackToolExit {
  EXIT_OK = 0,
  EXIT_USAGE = 1,           // the command line is wrong
  EXIT_ARCHIVE = 2,         // the archive is missing, unreadable or not a pack archive
  EXIT_ROW = 3,             // no such row, or the archive holds no entry for it
  EXIT_DAMAGED = 4,         // a damaged entry or a damaged archive
  EXIT_TARGET_REFUSED = 5,  // the target exists (no --force), or the row gives no safe file name
  EXIT_WRITE = 6,           // a file or standard output could not be written
  EXIT_MEMORY = 7,          // an entry too large to hold in memory
  EXIT_DIFFERENT = 8,       // compare: the backup and the folder (or the other backup) differ
};

// Most serious first: damage (the backup itself is hurt), then a write that
// failed and an entry too large to hold (files the user does not get), then a
// refusal (a choice --force or -o can change), then a row that is not there;
// a difference that compare found is the least: it is the answer, not a fault.
inline int ExitRank(int code) {
  switch (code) {
    case EXIT_DAMAGED:
      return 8;
    case EXIT_DIFFERENT:
      return 1;
    case EXIT_WRITE:
      return 7;
    case EXIT_MEMORY:
      return 6;
    case EXIT_TARGET_REFUSED:
      return 5;
    case EXIT_ROW:
      return 4;
    case EXIT_ARCHIVE:
      return 3;
    case EXIT_USAGE:
      return 2;
    default:
      return 0;
  }
}

inline int ExitWorst(int a, int b) {
  return ExitRank(a) >= ExitRank(b) ? a : b;
}
