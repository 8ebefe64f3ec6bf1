// The words of packtool --help beyond each option's own line: what the
// program and each command are for, and how they take their arguments.
// Read by the command line's declarations (command_line.cpp) alone.
#pragma once

inline constexpr const char* GENERAL_DESCRIPTION =
    "Lists, checks and restores the files of a pack archive (a backup).\n"
    "Row r of the archive's index names entry r; rows are counted from 0.";

inline constexpr const char* GENERAL_FOOTER =
    "--match chooses the rows whose text matches PATTERN, besides the rows given\n"
    "by number: * any run of characters (backslashes too), ? one character,\n"
    "letters without case as Windows compares names, / the same as \\.\n"
    "A pattern that names a folder (C:\\Briefe) chooses the rows inside it; one\n"
    "without a drive letter is also a path as the disk or the mount shows it\n"
    "(Daten/Briefe/* chooses C:\\Daten\\Briefe\\a.txt).\n"
    "extract, cat and rescue also take names: a word that is no row number\n"
    "chooses the rows whose path ends with it, in whole folder and file names,\n"
    "and a folder's name the rows inside it; find takes a word without\n"
    "wildcards so too.\n"
    "On Linux, names and patterns in UTF-8 are taken as such whatever the locale.\n"
    "A name or pattern that chooses no row is an error (exit code 3).\n"
    "\n"
    "exit codes:\n"
    "  0  success\n"
    "  1  the command line is wrong\n"
    "  2  the archive is missing, cannot be read, or is not a pack archive\n"
    "  3  no such row, or the archive holds no entry for it\n"
    "  4  a damaged entry (checksum, malformed stream, data cut short) or archive\n"
    "  5  a target was refused: it exists (--force replaces it, --skip-existing\n"
    "     keeps it), the row gives no safe name, or a link is on its way\n"
    "  6  a file or standard output could not be written\n"
    "  7  an entry is too large to hold in memory\n"
    "  8  compare: the backup and the folder (or the two backups) differ\n"
    "Entries of 16 MiB and more are not held in memory: a stored one is copied\n"
    "in pieces (any size); a compressed one is decoded into its file mapped in\n"
    "memory (cat: a temporary file), which takes its unpacked and packed size on\n"
    "the disk for a moment and, in the 32-bit Windows build, that much address\n"
    "space in one piece (about 1.5 GB at most).\n"
    "When several rows fail, the most serious code is returned, in this order:\n"
    "4 (damage), 6, 7, 5, 3, 8."
#ifndef PACKTOOL_MOUNT
    "\n\n"
    "packtool mount (archives shown as a read-only folder) is a command of the\n"
    "Linux build of packtool made with FUSE 3; this one has none."
#endif
    ;

// The examples of each command's help, and of the manual's EXAMPLES.
struct CommandExample {
  const char* command;
  const char* line;
  const char* what;
};
inline constexpr CommandExample EXAMPLES[] = {
    {"list", "packtool list backup.zip", "row, size, storage and text of every row"},
    {"list", "packtool list --json Sicherungen", "every backup in the folder, as one JSON document"},
    {"extract", "packtool extract backup.zip Bank.doc", "every row whose path ends with Bank.doc, here"},
    {"extract", "packtool extract backup.zip 'Eigene Dateien' -d wieder", "the rows inside that folder, below wieder"},
    {"extract", "packtool extract backup.zip --all -d wieder -n", "everything; go on after an interrupted run"},
    {"extract", "packtool extract backup.zip --missing-in ~/Daten", "only what is missing in ~/Daten, into its place"},
    {"verify", "packtool verify -r Sicherungen && echo sound", "decode and check every backup below the folder"},
    {"find", "packtool find Brief.txt Sicherungen", "which backups hold Brief.txt, and its versions"},
    {"cat", "packtool cat backup.zip 'Briefe\\Plan.txt' > plan.txt", "one row's bytes to standard output"},
    {"rescue", "packtool rescue kaputt.zip -d gerettet", "everything a damaged backup still holds"},
    {"rescue", "packtool rescue kaputt.zip -d gerettet --names-from 2024-05.zip",
     "names past the damage proven by the backup before"},
    {"compare", "packtool compare backup.zip ~/Daten", "what is missing or changed in ~/Daten"},
    {"compare", "packtool compare --quick backup.zip 'C:\\Daten'", "the same by size and content key (fast)"},
    {"compare", "packtool compare 2026-01.zip 2026-02.zip", "rows added, removed and changed in a month"},
    {"mount", "packtool mount Sicherungen ~/sicherung", "every backup as a read-only folder"},
    {"completion", "packtool completion bash > ~/.local/share/bash-completion/completions/packtool",
     "completion for bash (zsh, fish alike)"},
};

inline constexpr const char* COMPLETION_FOOTER =
    "Prints the script that completes packtool's commands and options in the\n"
    "shell (and files where a command takes them). \"cmake --install\" puts the\n"
    "three where each shell looks for them.";

// How list, verify and find take several archives.
#define MANY_ARCHIVES                                                               \
  "Several archives and folders may be given: a folder means the files in it\n"     \
  "(-r: its subfolders too), in name order; a file in a folder that is no pack\n"   \
  "archive is passed over with a note. An archive named that cannot be read is\n"   \
  "an error (exit code 2, once the others are done). With several archives every\n" \
  "line (and every JSON record) names its archive. Of list and verify, a word of\n" \
  "digits only after the first is a row number (\"./2024\" names a file)."

inline constexpr const char* LIST_FOOTER =
    "One line per index row (or per row chosen by number or --match): the row\n"
    "number, the entry's unpacked size, how it is kept (stored, compressed;\n"
    "missing or truncated when the archive lacks it), and the row text. Only the\n"
    "index is decoded; the other entries' headers are read, not their data\n"
    "(verify checks those). Row texts are Windows-1252; they are shown in UTF-8\n"
    "when the terminal uses UTF-8, with control characters written as \\xHH.\n"
    "\n"
    "Exit code 4 when the archive is cut short or lacks the entries of some rows\n"
    "(the rows are listed all the same).\n"
    "\n" MANY_ARCHIVES;

// How extract, rescue and the mount name entries past damage.
#define NAMES_PAST_DAMAGE                                                        \
  "Where damage breaks the order of the entries, each entry's name says where\n" \
  "it came from (nameFrom in JSON): index (counted from the start, before the\n" \
  "first damage), position (counted back from the archive's whole end, after\n"  \
  "the last damage), guess (in between: unproven), other backup (proven by\n"    \
  "--names-from) or none (entry-N.bin). A file whose name is a guess is\n"       \
  "written below names-unproven/ under the row's path it most likely has, and\n" \
  "the reports say so.\n"                                                        \
  "\n"                                                                           \
  "--names-from PLACE gives other backups of the same files (the month\n"        \
  "before; an archive, or a folder of them): an entry whose content key only\n"  \
  "one of their entries has takes that entry's row, and the entries between\n"   \
  "two such proven neighbours are named by their places between them, so that\n" \
  "files changed since are named too. Content that several entries share\n"      \
  "proves nothing. Of a damaged index, the names come from their rows, word\n"   \
  "for word. The reports say where each such name came from (\"named from\n"     \
  "2024-05.zip, row 17\").\n"

inline constexpr const char* EXTRACT_FOOTER =
    "Rows are given by number, by name (the end of a row's path, whole folder\n"
    "and file names: Bank.doc or Briefe\\Bank.doc; a name that matches several\n"
    "rows takes them all) or by --match. Each file lands below DIR (-d, else\n"
    "the current folder) under its row's folders, however the rows were chosen\n"
    "(drive letters dropped; a row with \"..\" is refused); --flat puts every\n"
    "file by its own name in DIR; -o FILE writes the one chosen row there.\n"
    "Two rows with the same target are an error naming both (exit code 5, also\n"
    "with --force): a file written in this run is never replaced, whatever name\n"
    "leads to it. Below DIR no symbolic link, junction or other reparse point is\n"
    "followed: a row whose way holds one is refused (exit code 5).\n"
    "\n"
    "Each file is written beside its target under a temporary name and renamed\n"
    "into place when complete: a failure leaves no partial file behind and an\n"
    "existing file untouched. With --skip-existing a run that was interrupted\n"
    "goes on where it stopped.\n"
    "\n"
    "--missing-in FOLDER chooses the rows that \"packtool compare BACKUP FOLDER\"\n"
    "calls missing (with --changed the changed ones too), below the part of the\n"
    "backup the folder stands for (found as compare finds it, or --as), and\n"
    "writes each into its place below FOLDER, with the safety above: a file\n"
    "there is replaced only with --force. Names and --match narrow the choice.\n"
    "\n" NAMES_PAST_DAMAGE;

inline constexpr const char* VERIFY_FOOTER =
    "Decodes every entry (or the entries of the chosen rows) and checks its\n"
    "stream and checksum. Prints one line per problem (damaged or truncated\n"
    "entry, rows without an entry, stray bytes at the end) and a summary; exit\n"
    "code 0 only when every entry is sound. Shows its progress on standard error\n"
    "when that is a terminal and the archive is large.\n"
    "\n" MANY_ARCHIVES;

inline constexpr const char* FIND_FOOTER =
    "Searches every archive for the rows whose text matches a PATTERN (as --match\n"
    "takes it; a word without wildcards also as extract takes a name: Bank.doc\n"
    "finds C:\\Briefe\\Bank.doc) and shows them grouped by row text: in which archives the file is,\n"
    "its row and size in each, and its version: the same number where the\n"
    "content is the same, a new one (marked \"new\") where it differs from every\n"
    "earlier archive. The archives are taken in the order given, a folder's by\n"
    "the time each was last written (names where times tie), so that the\n"
    "versions read as a history whatever the backups are named.\n"
    "\n"
    "PATTERN and PLACE: the words before \"--\" are patterns, the words after it\n"
    "archives and folders. Without \"--\" the first word is a pattern, and the\n"
    "places begin at the first word after it that names an existing file or\n"
    "folder (or, when none does, at the last word).\n"
    "\n"
    "Only the index and the entries' headers are read, not their data: versions\n"
    "are told apart by the unpacked size and the checksum a compressed entry's\n"
    "stream carries (nearly sure: two contents of one size rarely share one),\n"
    "a stored entry by a hash of its bytes (sure), a stream without a checksum\n"
    "by a hash of its packed bytes (equal bytes are the same content; unequal\n"
    "ones may still be, and then show as two versions), and a stored and a\n"
    "compressed copy of the same content show as two versions. --verify decodes\n"
    "the matching entries: versions are then told apart by what they decode to\n"
    "(exact), and a damaged entry is found (exit code 4).\n"
    "\n"
    "Exit code 3 when a pattern matches no row in any archive (the others are\n"
    "shown all the same); 4 when an entry of a matching row is missing or\n"
    "damaged.\n"
    "\n" MANY_ARCHIVES;

inline constexpr const char* CAT_FOOTER =
    "The row is given by number, or by a name or patterns that choose exactly\n"
    "one row.\n"
    "Writes the entry of the row to standard output, byte for byte. A damaged\n"
    "entry writes nothing (exit code 4); with --force it writes the bytes its\n"
    "stream decoded (still exit code 4).";

inline constexpr const char* RESCUE_FOOTER =
    "Recovers everything a damaged archive still holds and never stops at the\n"
    "first damage. Every entry with at least one recovered byte is written below\n"
    "DIR: under its row's folders as extract does, or as entry-N.bin when the\n"
    "index gives it no trusted row (the index itself is entry-0.bin). Rows given\n"
    "by number, name or --match write only their entries (to salvage one file;\n"
    "the archive is walked whole all the same).\n"
    "A compressed entry cut short or malformed gives the bytes decoded before\n"
    "the fault; a stored entry cut short gives the bytes that are there. Past a\n"
    "header that cannot be right, the archive is searched for where its entries\n"
    "go on; the bytes in between are reported as skipped and taken as one entry.\n"
    "Where the system refuses to read the file (a failing disk), the 4 KiB\n"
    "around it are lost (a larger bad area is passed in stretches that double,\n"
    "and then narrowed down to where it ends; a readable 4 KiB inside it can be\n"
    "lost with it, unless --every-unit asks for each): a stored entry there keeps\n"
    "the rest of its bytes, with zeros in their place in its file; a compressed\n"
    "one the bytes decoded before them. A header there is passed like one that\n"
    "cannot be right.\n"
    "\n"
    "Each entry is sound (its checksum proved it), unchecked (complete in length,\n"
    "but stored: nothing proves its bytes), damaged (complete size, checksum\n"
    "fails), partial (fewer bytes than its size) or lost (nothing recovered). A\n"
    "summary goes to standard error, and the progress while it works when that\n"
    "is a terminal and the archive is large.\n"
    "\n" NAMES_PAST_DAMAGE
    "\n"
    "A file or link in an entry's way is kept and the entry written as\n"
    "entry-N.bin; below DIR no link is followed (a link on the way: exit code 5).\n"
    "\n"
    "Exit code 0 only when every entry is sound or unchecked, nothing was skipped\n"
    "and no name is a guess; 4\n"
    "otherwise.";

inline constexpr const char* MOUNT_FOOTER =
    "Shows the archives as a read-only folder at MOUNTPOINT (an existing, empty\n"
    "folder that nothing is mounted on; packtool refuses any other): the files under their rows' paths as extract "
    "--all names them,\n"
    "and of a damaged index the entries past its trusted rows as entry-N.bin.\n"
    "A folder means the archives in it (a file there that is no pack archive is\n"
    "passed over with a note). With several archives each is a folder named\n"
    "after its file. Files are\n"
    "dated as their archive. Mounting reads the index and the entry headers,\n"
    "no other entry's data; a file's entry is decoded when it is opened, once\n"
    "for every reader, and kept in a cache of --cache-size MiB (an entry larger\n"
    "than that goes to an unnamed temporary file while it is open). Stored\n"
    "entries are read in place.\n"
    "\n"
    "Reading a damaged entry gives the bytes its stream decoded and then fails\n"
    "with an I/O error, so that a copy of it fails instead of being cut short.\n"
    "An archive that changes while mounted gives I/O errors. Past damage that\n"
    "breaks the order of the entries (a header that cannot be right, zeros),\n"
    "the mount looks as extract --all does: it walks the whole archive once\n"
    "when it starts and shows every file extract --all --force writes, with\n"
    "the same bytes; files whose names are proven under their rows' paths,\n"
    "those whose names are guesses below the folder names-unproven\n"
    "(--names-from PLACE proves names by other backups, as extract's does).\n"
    "\n"
    "packtool goes to the background once the mount is up (--foreground keeps\n"
    "it). Unmount with \"fusermount3 -u MOUNTPOINT\", or Ctrl-C in the\n"
    "foreground. Needs FUSE 3 (/dev/fuse and fusermount3).";

inline constexpr const char* COMPARE_FOOTER =
    "BACKUP and a FOLDER: for every row below the part of the backup the folder\n"
    "stands for, whether the file in the folder is the same, changed or missing,\n"
    "and which files in the folder the backup does not hold. The part is found\n"
    "by the folder's own names: the longest run of them, up to its last, that a\n"
    "row's folders hold, nearest the root where several do (the folder Daten,\n"
    "or /mnt/alt/Daten, stands for C:\\Daten). Where none does, the folder stands for the whole backup as\n"
    "extract -d writes it (drive letters dropped). Where two parts fit as well,\n"
    "the command says so and --as chooses: --as 'C:\\Daten', or --as '\\' for\n"
    "the whole backup.\n"
    "\n"
    "Same means the same size and the same bytes: every entry whose file has\n"
    "its size is decoded (on -j threads) and compared byte for byte, which proves\n"
    "it. --quick reads no entry's data but a stored one's: the file is the same\n"
    "when its size and content key match the entry's (a stored entry's hash of\n"
    "its bytes, sure; a compressed entry's 32-bit checksum, nearly sure: two\n"
    "contents of one size rarely share one); an entry whose stream has no\n"
    "checksum is decoded all the same. It is the fast way over a slow disk.\n"
    "\n"
    "Two backups: the rows added in OTHER-BACKUP, removed from BACKUP, and\n"
    "changed between them (not the index, row 0, which differs whenever\n"
    "anything does), rows matched by their text (case as Windows compares\n"
    "names), entries by their content key (as find tells versions apart); a\n"
    "stored and a compressed entry are decoded to tell. --verify decodes both\n"
    "entries of every row, so that same means the same bytes, and finds damage.\n"
    "\n"
    "Exit code 0 when everything is the same; 8 when anything differs; 4 when an\n"
    "entry the comparison needed is damaged (the rest is compared all the same).\n"
    "\"packtool extract BACKUP --missing-in FOLDER\" restores what is missing.";
