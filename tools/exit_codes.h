// The exit codes of packtool, as --help and the README list them. When several
// rows fail (extract, verify), the process ends with the highest code seen, so
// that the most serious kind of failure is what a script gets to see.
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
};

inline int ExitWorst(int a, int b) {
  return a > b ? a : b;
}
