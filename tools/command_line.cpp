#include "tools/command_line.h"

#include <cstring>

namespace {

constexpr const char* GENERAL_HELP =
    "usage: packtool COMMAND ARCHIVE [ARGUMENTS]\n"
    "       packtool --version\n"
    "\n"
    "Lists, checks and restores the files of a pack archive (a backup).\n"
    "Row r of the archive's index names entry r; rows are counted from 0.\n"
    "\n"
    "commands:\n"
    "  list ARCHIVE [ROW...] [--match PATTERN]... [--raw | --json]\n"
    "                                    one line per row: row, size, storage, text\n"
    "  extract ARCHIVE ROW... [--match PATTERN]... [-o FILE | -d DIR] [--force]\n"
    "          [--quiet | --json]\n"
    "  extract ARCHIVE --all [-d DIR] [--force] [--quiet | --json]\n"
    "                                    write the entries of the rows to files\n"
    "  verify ARCHIVE [ROW...] [--match PATTERN]...\n"
    "                                    decode entries and check them\n"
    "  cat ARCHIVE ROW [--force]         the entry's bytes to standard output\n"
    "  cat ARCHIVE --match PATTERN [--force]\n"
    "  rescue ARCHIVE -d DIR [--json] [--force]\n"
    "                                    recover every entry of a damaged archive\n"
    "  help [COMMAND]                    this text, or the command's own\n"
    "\n"
    "--match chooses the rows whose text matches PATTERN, besides the rows given\n"
    "by number: * any run of characters (backslashes too), ? one character,\n"
    "letters without case as Windows compares names, / the same as \\.\n"
    "A pattern that matches no row is an error (exit code 3).\n"
    "\n"
    "exit codes:\n"
    "  0  success\n"
    "  1  the command line is wrong\n"
    "  2  the archive is missing, cannot be read, or is not a pack archive\n"
    "  3  no such row, or the archive holds no entry for it\n"
    "  4  a damaged entry (checksum, malformed stream, data cut short) or archive\n"
    "  5  a target was refused: it exists (use --force), or the row gives no safe name\n"
    "  6  a file or standard output could not be written\n"
    "  7  an entry is too large to hold in memory\n"
    "When several rows fail, the most serious code is returned, in this order:\n"
    "4 (damage), 6, 7, 5, 3.\n";

constexpr const char* LIST_HELP =
    "usage: packtool list ARCHIVE [ROW...] [--match PATTERN]... [--raw | --json]\n"
    "\n"
    "One line per index row (or per row chosen by number or --match): the row number, the entry's unpacked size, how "
    "it is\n"
    "kept (stored, compressed; missing or truncated when the archive lacks it),\n"
    "and the row text. Only the index is decoded; the other entries' headers are\n"
    "read, not their data (verify checks those).\n"
    "Row texts are Windows-1252; they are shown in UTF-8 when the terminal uses\n"
    "UTF-8, with control characters written as \\xHH.\n"
    "\n"
    "  --raw    only the row texts, byte for byte as stored, each ended by LF\n"
    "  --json   one JSON document (UTF-8): rows with number, text, sizes, storage\n"
    "\n"
    "Exit code 4 when the archive is cut short or lacks the entries of some rows\n"
    "(the rows are listed all the same).\n";

constexpr const char* EXTRACT_HELP =
    "usage: packtool extract ARCHIVE ROW... [--match PATTERN]... [-o FILE | -d DIR]\n"
    "                        [--force] [--quiet | --json]\n"
    "       packtool extract ARCHIVE --all [-d DIR] [--force] [--quiet | --json]\n"
    "\n"
    "Writes the entry of each row to a file: by default the row text's file name\n"
    "(after its last backslash) in the current folder. With -d and several rows,\n"
    "or -d and --match, each row keeps its folders below DIR, as with --all.\n"
    "Two rows with the same target are an error naming both (exit code 5, also\n"
    "with --force): a file written in this run is never replaced.\n"
    "\n"
    "  --match PATTERN        the rows whose text matches (repeatable; see\n"
    "                         packtool help): --match 'C:\\Daten\\*' -d out\n"
    "  -o, --output FILE      the target for a single row\n"
    "  -d, --directory DIR    the folder to write into (made when missing)\n"
    "  --all                  every row, into DIR with the row's folders below it\n"
    "                         (drive letters dropped; a row with \"..\" is refused)\n"
    "  --force                replace files that were there before the run, and\n"
    "                         write damaged entries too (the damage is still\n"
    "                         reported, exit code 4)\n"
    "  --quiet                no line per file written (on a terminal) and no\n"
    "                         summary; errors are still reported\n"
    "  --json                 one JSON document of what was written, refused\n"
    "                         and damaged, on standard output\n"
    "\n"
    "Each file is written beside its target under a temporary name and renamed\n"
    "into place when complete: a failure leaves no partial file behind and an\n"
    "existing file untouched.\n";

constexpr const char* VERIFY_HELP =
    "usage: packtool verify ARCHIVE [ROW...] [--match PATTERN]...\n"
    "\n"
    "Decodes every entry (or the entries of the chosen rows) and checks its stream and checksum. Prints one line per\n"
    "problem (damaged or truncated entry, rows without an entry, stray bytes at\n"
    "the end) and a summary; exit code 0 only when every entry is sound.\n"
    "Shows its progress on standard error when that is a terminal and the\n"
    "archive is large.\n";

constexpr const char* CAT_HELP =
    "usage: packtool cat ARCHIVE ROW [--force]\n"
    "       packtool cat ARCHIVE --match PATTERN [--force]\n"
    "\n"
    "The row is given by number or by patterns that choose exactly one row.\n"
    "Writes the entry of the row to standard output, byte for byte. A damaged\n"
    "entry writes nothing (exit code 4); with --force it writes the bytes its\n"
    "stream decoded (still exit code 4).\n";

constexpr const char* RESCUE_HELP =
    "usage: packtool rescue ARCHIVE -d DIR [--json] [--force]\n"
    "\n"
    "Recovers everything a damaged archive still holds and never stops at the\n"
    "first damage. Every entry with at least one recovered byte is written below\n"
    "DIR: under its row's folders as extract --all does, or as entry-N.bin when\n"
    "the index gives it no trusted row (the index itself is entry-0.bin).\n"
    "A compressed entry cut short or malformed gives the bytes decoded before\n"
    "the fault; a stored entry cut short gives the bytes that are there. Past a\n"
    "header that cannot be right, the archive is searched for where its entries\n"
    "go on; the bytes in between are reported as skipped and taken as one entry.\n"
    "Where the system refuses to read the file (a failing disk), the 4 KiB\n"
    "around it are lost (a larger bad area is passed in stretches that double,\n"
    "and then narrowed down to where it ends): a stored entry there keeps the\n"
    "rest of its bytes, with zeros in their place in its file; a compressed one\n"
    "the bytes decoded before them. A header there is passed like one that\n"
    "cannot be right.\n"
    "\n"
    "Each entry is sound, damaged (complete size, checksum fails), partial (fewer\n"
    "bytes than its size) or lost (nothing recovered). A summary goes to standard\n"
    "error, and the progress while it works when that is a terminal and the\n"
    "archive is large.\n"
    "\n"
    "  -d, --directory DIR   a fresh or empty folder to write into (made when missing)\n"
    "  --json                one JSON document of every entry and skipped range\n"
    "  --force               write into a folder that holds files already (an\n"
    "                        existing file is never replaced)\n"
    "\n"
    "Exit code 0 only when every entry is sound and nothing was skipped; 4\n"
    "otherwise.\n";

bool CommandFromName(const char* name, PackToolCommand* command) {
  static const struct {
    const char* name;
    PackToolCommand command;
  } NAMES[] = {
      {"list", PackToolCommand::List}, {"extract", PackToolCommand::Extract}, {"verify", PackToolCommand::Verify},
      {"cat", PackToolCommand::Cat},   {"rescue", PackToolCommand::Rescue},   {"help", PackToolCommand::Help},
  };
  for (const auto& entry : NAMES) {
    if (strcmp(name, entry.name) == 0) {
      *command = entry.command;
      return true;
    }
  }
  return false;
}

bool ParseRow(const char* text, uint32_t* row) {
  if (*text == '\0') return false;
  uint64_t value = 0;
  for (const char* at = text; *at != '\0'; at++) {
    if (*at < '0' || *at > '9') return false;
    value = value * 10 + static_cast<uint64_t>(*at - '0');
    if (value > UINT32_MAX) return false;
  }
  *row = static_cast<uint32_t>(value);
  return true;
}

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

// Which options each command accepts.
bool CheckCombination(const PackToolRequest& r, std::string* error) {
  bool extract = r.command == PackToolCommand::Extract;
  if (r.archive.empty()) return Fail(error, "no archive given");
  bool rescue = r.command == PackToolCommand::Rescue;
  if (r.format == ListFormat::Json && (rescue || extract)) {
    // their own reports
  } else if (r.format != ListFormat::Table && r.command != PackToolCommand::List) {
    return Fail(error, "--raw belongs to list; --json to list, extract and rescue");
  }
  if (!r.patterns.empty() && (rescue || r.command == PackToolCommand::Help)) {
    return Fail(error, "--match belongs to list, extract, verify and cat");
  }
  if (r.quiet && !extract) return Fail(error, "--quiet belongs to extract");
  if (r.quiet && r.format == ListFormat::Json) return Fail(error, "give --quiet or --json, not both");
  if ((r.all || r.hasOutputFile) && !extract) return Fail(error, "--all and -o belong to extract");
  if (r.hasOutputFolder && !extract && !rescue) return Fail(error, "-d belongs to extract and rescue");
  if (r.force && !extract && !rescue && r.command != PackToolCommand::Cat) {
    return Fail(error, "--force belongs to extract, cat and rescue");
  }
  switch (r.command) {
    case PackToolCommand::List:
    case PackToolCommand::Verify:
      return true;
    case PackToolCommand::Cat:
      // Patterns are counted against the rows once the index is read.
      if (r.rows.size() + (r.patterns.empty() ? 0 : 1) != 1) return Fail(error, "cat takes exactly one row");
      return true;
    case PackToolCommand::Rescue:
      if (!r.rows.empty()) return Fail(error, "rescue takes no row: it recovers every entry");
      if (!r.hasOutputFolder || r.outputFolder.empty())
        return Fail(error, "rescue needs -d DIR, a fresh or empty folder");
      return true;
    case PackToolCommand::Extract:
      if (r.all && (!r.rows.empty() || !r.patterns.empty())) return Fail(error, "give rows or --all, not both");
      if (!r.all && r.rows.empty() && r.patterns.empty()) return Fail(error, "no row given (or --match, --all)");
      if (r.hasOutputFile && r.hasOutputFolder) return Fail(error, "give -o or -d, not both");
      if (r.hasOutputFile && (r.all || r.rows.size() != 1 || !r.patterns.empty()))
        return Fail(error, "-o takes exactly one row, given by number");
      if (r.hasOutputFile && r.outputFile.empty()) return Fail(error, "-o needs a file name");
      if (r.hasOutputFolder && r.outputFolder.empty()) return Fail(error, "-d needs a folder name");
      return true;
    default:
      return true;
  }
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, PackToolRequest* request, std::string* error) {
  PackToolRequest r;
  if (argc < 2) return Fail(error, "no command given");
  const char* first = argv[1];
  if (strcmp(first, "-h") == 0 || strcmp(first, "--help") == 0) {
    r.command = PackToolCommand::Help;
    *request = r;
    return true;
  }
  if (strcmp(first, "--version") == 0) {
    if (argc > 2) return Fail(error, "--version takes no argument");
    r.command = PackToolCommand::Version;
    *request = r;
    return true;
  }
  if (!CommandFromName(first, &r.command)) return Fail(error, std::string("unknown command \"") + first + "\"");

  bool optionsEnded = false;
  for (int i = 2; i < argc; i++) {
    const char* arg = argv[i];
    // "-1" is a bad row, not an unknown option.
    bool isOption = !optionsEnded && arg[0] == '-' && arg[1] != '\0' && (arg[1] < '0' || arg[1] > '9');
    if (isOption) {
      if (strcmp(arg, "--") == 0) {
        optionsEnded = true;
      } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
        r.helpFor = r.command;
        r.command = PackToolCommand::Help;
        *request = r;
        return true;
      } else if (strcmp(arg, "--raw") == 0 || strcmp(arg, "--json") == 0) {
        ListFormat format = arg[2] == 'r' ? ListFormat::Raw : ListFormat::Json;
        if (r.format != ListFormat::Table && r.format != format) return Fail(error, "give --raw or --json, not both");
        r.format = format;
      } else if (strcmp(arg, "--match") == 0 || strncmp(arg, "--match=", 8) == 0) {
        if (arg[7] == '=') {
          r.patterns.emplace_back(arg + 8);
        } else {
          if (i + 1 >= argc) return Fail(error, "--match needs a pattern");
          r.patterns.emplace_back(argv[++i]);
        }
        if (r.patterns.back().empty()) return Fail(error, "--match needs a pattern");
      } else if (strcmp(arg, "-q") == 0 || strcmp(arg, "--quiet") == 0) {
        r.quiet = true;
      } else if (strcmp(arg, "--all") == 0) {
        r.all = true;
      } else if (strcmp(arg, "--force") == 0) {
        r.force = true;
      } else if (strcmp(arg, "-o") == 0 || strcmp(arg, "--output") == 0 || strcmp(arg, "-d") == 0 ||
                 strcmp(arg, "--directory") == 0) {
        if (i + 1 >= argc) return Fail(error, std::string(arg) + " needs a value");
        bool file = strcmp(arg, "-o") == 0 || strcmp(arg, "--output") == 0;
        if ((file && r.hasOutputFile) || (!file && r.hasOutputFolder)) {
          return Fail(error, std::string(arg) + " given twice");
        }
        (file ? r.outputFile : r.outputFolder) = argv[++i];
        (file ? r.hasOutputFile : r.hasOutputFolder) = true;
      } else {
        return Fail(error, std::string("unknown option \"") + arg + "\"");
      }
      continue;
    }
    if (r.command == PackToolCommand::Help) {
      if (r.helpFor != PackToolCommand::None || !CommandFromName(arg, &r.helpFor)) {
        return Fail(error, std::string("no help for \"") + arg + "\"");
      }
      continue;
    }
    if (r.archive.empty()) {
      if (arg[0] == '\0') return Fail(error, "the archive name is empty");
      r.archive = arg;
      continue;
    }
    uint32_t row = 0;
    if (!ParseRow(arg, &row)) return Fail(error, std::string("\"") + arg + "\" is not a row number");
    r.rows.push_back(row);
  }
  if (r.command == PackToolCommand::Help) {
    if (r.helpFor == PackToolCommand::Help) r.helpFor = PackToolCommand::None;
    *request = r;
    return true;
  }
  if (!CheckCombination(r, error)) return false;
  *request = r;
  return true;
}

const char* HelpText(PackToolCommand command) {
  switch (command) {
    case PackToolCommand::List:
      return LIST_HELP;
    case PackToolCommand::Extract:
      return EXTRACT_HELP;
    case PackToolCommand::Verify:
      return VERIFY_HELP;
    case PackToolCommand::Cat:
      return CAT_HELP;
    case PackToolCommand::Rescue:
      return RESCUE_HELP;
    default:
      return GENERAL_HELP;
  }
}
