// packtool's command line: each command's arguments and options are declared
// once, with their help texts, and both the parser and --help come from those
// declarations. What the declarations cannot say (a row number's range, which
// rows -o and cat accept) is checked after parsing, in CheckRequest.
#include "tools/cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <memory>

#include "tools/cli/help_texts.h"
#include "tools/cli/request_checks.h"

namespace {

// The usage line first; an option's line names its value (FILE, PATTERN)
// and nothing else: the checks between options are said by the parser when
// they fail.
class HelpFormat : public CLI::Formatter {
 public:
  HelpFormat() {
    column_width(26);
    label("Usage", "usage");
    label("SUBCOMMAND", "COMMAND");
    label("Positionals", "arguments");
  }
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    std::string usage = make_usage(app, name);
    // The mount point is the last of mount's words, which the parser takes
    // as one list with the archives; so are rows after the archives of list
    // and verify, and find's places after its patterns.
    if (app->get_name() == "mount") usage.replace(usage.find("ARCHIVE..."), 10, "ARCHIVE... MOUNTPOINT");
    if (app->get_name() == "list" || app->get_name() == "verify") {
      usage.replace(usage.find("ARCHIVE..."), 10, "ARCHIVE|FOLDER... [ROW...]");
    }
    if (app->get_name() == "find") usage.replace(usage.find("PATTERN..."), 10, "PATTERN... [--] PLACE...");
    return usage + "\n" + app->get_description() + "\n" + make_positionals(app) + make_groups(app, mode) +
           make_subcommands(app, mode) + "\n" + make_footer(app);
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->nonpositional() && option->get_type_size() != 0 ? " " + option->get_type_name() : "";
  }
};

// The declarations, bound to the request they fill. Rows are taken as text
// and read by CheckRequest, so that a wrong one is named as a row.
class CommandLine {
 public:
  CommandLine() : app_(GENERAL_DESCRIPTION, "packtool") {
    app_.formatter(std::make_shared<HelpFormat>());
    app_.require_subcommand(0, 1);
    app_.option_defaults()->group("options");
    app_.set_help_flag("-h,--help", "this text; COMMAND --help: the command's own");
    app_.add_flag("--version", version_, "the version")->disable_flag_override();
    app_.footer(GENERAL_FOOTER);

    CLI::App* list = Command(PackToolCommand::List, "list", "one line per row: row, size, storage, text", LIST_FOOTER);
    Places(list, "the pack archives and folders of them, then\nrows by number, counted from 0");
    Match(list);
    CLI::Option* raw =
        Flag(list, "--raw", words_.raw, "only the row texts, byte for byte as stored,\neach ended by LF");
    CLI::Option* json =
        Flag(list, "--json", words_.json, "one JSON document (UTF-8): rows with number,\ntext, sizes, storage");
    raw->excludes(json);
    Quiet(list)->excludes(raw)->excludes(json);

    CLI::App* extract =
        Command(PackToolCommand::Extract, "extract", "write the entries of the rows to files", EXTRACT_FOOTER);
    Archive(extract);
    CLI::Option* rows = RowsOrNames(extract);
    CLI::Option* match = Match(extract);
    output_ =
        extract->add_option("-o,--output", request_.outputFile, "the target for the one row chosen")->type_name("FILE");
    output_->excludes(Folder(extract, "the folder to write into (made when missing)"));
    CLI::Option* all = Flag(extract, "--all", request_.all, "every row");
    all->excludes(rows)->excludes(match)->excludes(output_);
    Flag(extract, "--flat", request_.flat, "every file by its own name in DIR, without\nits row's folders")
        ->excludes(output_);
    CLI::Option* force = Flag(extract, "--force", request_.force,
                              "replace files that were there before the run,\n"
                              "and write damaged entries too (the damage is\n"
                              "still reported, exit code 4)");
    Flag(extract, "-n,--skip-existing", request_.skipExisting,
         "keep a target that exists and go on (the row is\nreported as skipped)")
        ->excludes(force);
    CLI::Option* quiet = Flag(extract, "-q,--quiet", request_.quiet,
                              "no line per file written or kept (on a\n"
                              "terminal), none for a file refused, and no\n"
                              "summary; other errors are still reported");
    quiet->excludes(
        Flag(extract, "--json", words_.json, "one JSON document of what was written,\nkept, refused and damaged"));
    Jobs(extract);
    NamesFrom(extract);
    MissingIn(extract, all);

    CLI::App* verify = Command(PackToolCommand::Verify, "verify", "decode entries and check them", VERIFY_FOOTER);
    Places(verify, "the pack archives and folders of them, then\nrows by number, counted from 0");
    Match(verify);
    Quiet(verify)->excludes(Flag(verify, "--json", words_.json,
                                 "one JSON document (UTF-8): per archive its\nproblems and the summary's counts"));

    Jobs(verify);
    RepairTime(verify);

    CLI::App* find = Command(PackToolCommand::Find, "find", "the rows that match, in every archive", FIND_FOOTER);
    find->add_option("PATTERN", request_.findWords,
                     "patterns as --match takes them, then the\narchives and folders to search (PLACE)")
        ->required()
        ->expected(2, -1);
    Recursive(find);
    Flag(find, "--verify", request_.decode, "decode the matching entries: versions told\napart exactly, damage found");
    Quiet(find)->excludes(
        Flag(find, "--json", words_.json, "one JSON document (UTF-8): per row text its\narchives, sizes and versions"));

    CLI::App* cat = Command(PackToolCommand::Cat, "cat", "the entry's bytes to standard output", CAT_FOOTER);
    Archive(cat);
    RowsOrNames(cat);
    Match(cat);
    Flag(cat, "--force", request_.force, "write the bytes a damaged entry's stream decoded");
    Flag(cat, "-q,--quiet", request_.quiet, "no note on the damage when --force wrote bytes");

    CLI::App* rescue =
        Command(PackToolCommand::Rescue, "rescue", "recover every entry of a damaged archive", RESCUE_FOOTER);
    Archive(rescue);
    RowsOrNames(rescue);
    Match(rescue);
    Folder(rescue, "a fresh or empty folder to write into (made\nwhen missing)")->required();
    Flag(rescue, "--json", words_.json, "one JSON document of every entry and skipped range");
    Flag(rescue, "-q,--quiet", request_.quiet,
         "no line per entry that is not sound, no summary and\n"
         "no progress (the report file is still written)");
    Flag(rescue, "--force", request_.force,
         "write into a folder that holds files already\n"
         "(an existing file is never replaced)");
    Flag(rescue, "--every-unit", request_.everyUnit,
         "ask for every 4 KiB of a bad area, so that none\n"
         "that reads is given up with the bad ones around\n"
         "it (slow on a failing disk; for a second run)");
    Jobs(rescue);
    RepairTime(rescue);
    NamesFrom(rescue);

    DeclareCompare();

#ifdef PACKTOOL_MOUNT
    CLI::App* mount =
        Command(PackToolCommand::Mount, "mount", "show archives as a read-only folder (FUSE)", MOUNT_FOOTER);
    mount
        ->add_option("ARCHIVE", words_.mountWords,
                     "the pack archives and folders of them, then\nthe folder to mount on (MOUNTPOINT)")
        ->required()
        ->expected(2, -1);
    Flag(mount, "-f,--foreground", request_.foreground, "stay in the foreground until unmounted");
    mount
        ->add_option("--cache-size", request_.cacheMegabytes,
                     "MiB of decoded entries kept after reading\n(default 256)")
        ->type_name("MIB");
    NamesFrom(mount);
#endif

    CLI::App* completion = Command(PackToolCommand::Completion, "completion",
                                   "the shell's completion of packtool's words", COMPLETION_FOOTER);
    completion->add_option("SHELL", request_.shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}));

    CLI::App* help = Command(PackToolCommand::Help, "help", "this text, or the command's own", "");
    help->add_option("COMMAND", words_.helpTopic, "the command whose options are shown");
  }

  // False with the parser's reason, or one of CheckRequest's.
  bool Parse(int argc, const char* const* argv, PackToolRequest* request, std::string* error) {
    // An unknown first word is named as a command (the parser would say only
    // that a command is missing).
    if (argc >= 2 && argv[1][0] != '-' && Find(argv[1]) == nullptr) {
      *error = std::string("unknown command \"") + argv[1] + "\"";
      return false;
    }
    try {
      app_.parse(Words(argc, argv));
    } catch (const CLI::CallForHelp&) {
      request_ = PackToolRequest{};
      request_.command = PackToolCommand::Help;
      for (const Declared& d : commands_) {
        if (d.app->parsed() && d.command != PackToolCommand::Help) request_.helpFor = d.command;
      }
      *request = request_;
      return true;
    } catch (const CLI::ParseError& e) {
      *error = e.what();
      return false;
    }
    for (const Declared& d : commands_) {
      if (d.app->parsed()) request_.command = d.command;
    }
    if (version_) {
      if (request_.command != PackToolCommand::None) {
        *error = "--version takes no argument";
        return false;
      }
      request_.command = PackToolCommand::Version;
    }
    words_.outputFileGiven = output_->count() > 0;
    for (const CLI::Option* folder : folders_)
      words_.outputFolderGiven = words_.outputFolderGiven || folder->count() > 0;
    for (CLI::App* app : {Find("compare")->app, Find("extract")->app}) {
      for (const CLI::Option* option : app->get_options()) {
        if (option->get_name() == "--as" && option->count() > 0) words_.standsForGiven = true;
      }
    }
    if (request_.command == PackToolCommand::Help && !words_.helpTopic.empty()) {
      const Declared* topic = Find(words_.helpTopic.c_str());
      words_.helpTopicKnown = topic != nullptr;
      if (topic != nullptr) words_.helpTopicCommand = topic->command;
    }
    if (!CheckRequest(words_, &request_, error)) return false;
    *request = request_;
    return true;
  }

  static std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  }

  std::vector<DeclaredCommand> DeclaredCommands() const {
    std::vector<DeclaredCommand> declared;
    for (const Declared& d : commands_) {
      DeclaredCommand command{d.app->get_name(), OneLine(d.app->get_description()), {}};
      for (const CLI::Option* option : d.app->get_options()) {
        if (option->get_positional()) continue;
        DeclaredOption said;
        for (const std::string& name : option->get_snames()) said.names.push_back("-" + name);
        for (const std::string& name : option->get_lnames()) said.names.push_back("--" + name);
        said.takesValue = option->get_type_size() > 0 && !option->get_type_name().empty();
        said.valueName = said.takesValue ? option->get_type_name() : "";
        said.text = OneLine(option->get_description());
        command.options.push_back(said);
      }
      declared.push_back(command);
    }
    return declared;
  }

  std::string Help(PackToolCommand command) const {
    for (const Declared& d : commands_) {
      if (d.command == command && command != PackToolCommand::Help) return d.app->help("packtool");
    }
    return app_.help();
  }

 private:
  struct Declared {
    PackToolCommand command;
    CLI::App* app;
  };

  CLI::App* Command(PackToolCommand command, const char* name, const char* summary, const char* footer) {
    CLI::App* app = app_.add_subcommand(name, summary);
    app->group("commands");
    app->get_help_ptr()->group("options")->description("this text");
    app->footer(footer + ExamplesOf(name));
    commands_.push_back(Declared{command, app});
    return app;
  }

  // The command's examples, as a paragraph of its help (the manual's
  // EXAMPLES section gathers them).
  static std::string ExamplesOf(const char* name) {
    std::string said;
    for (const CommandExample& example : EXAMPLES) {
      if (std::strcmp(example.command, name) != 0) continue;
      said += "\n  " + std::string(example.line) + "\n      " + example.what;
    }
    return said.empty() ? "" : "\n\nexamples:" + said;
  }

  const Declared* Find(const char* name) const {
    for (const Declared& d : commands_) {
      if (d.app->get_name() == name) return &d;
    }
    return nullptr;
  }

  void Archive(CLI::App* app) {
    app->add_option("ARCHIVE", request_.archive, "the pack archive")->required();
  }

  // Archives and folders, then rows: CheckRequest tells them apart.
  void Places(CLI::App* app, const char* text) {
    app->add_option("ARCHIVE", words_.placeWords, text)->required();
    Recursive(app);
  }
  void Recursive(CLI::App* app) {
    Flag(app, "-r,--recursive", request_.recursive, "a folder's subfolders too");
  }
  CLI::Option* Quiet(CLI::App* app) {
    return Flag(app, "-q,--quiet", request_.quiet,
                "nothing on standard output: the exit code\nsays it (complaints still go to standard error)");
  }

  CLI::Option* Rows(CLI::App* app) {
    return app->add_option("ROW", words_.rows, "rows by number, counted from 0");
  }

  // A word that is no row number is a name: the rows whose path ends with it.
  CLI::Option* RowsOrNames(CLI::App* app) {
    return app->add_option("ROW", words_.rows,
                           "rows by number, counted from 0, or by name:\n"
                           "the rows whose path ends with NAME (whole\n"
                           "folder and file names, case as Windows compares)");
  }

  CLI::Option* Match(CLI::App* app) {
    return app->add_option("--match", request_.patterns, "the rows whose text matches (repeatable;\nsee packtool help)")
        ->type_name("PATTERN")
        ->allow_extra_args(false);
  }

  // Another backup of the same files proves the names of a damaged one.
  CLI::Option* NamesFrom(CLI::App* app) {
    return app
        ->add_option("--names-from", request_.namesFrom,
                     "another backup of the same files (an archive,\nor a folder of them; repeatable) that proves\n"
                     "the names past damage")
        ->type_name("PLACE")
        ->allow_extra_args(false);
  }

  CLI::Option* Folder(CLI::App* app, const char* text) {
    folders_.push_back(app->add_option("-d,--directory", request_.outputFolder, text)->type_name("DIR"));
    return folders_.back();
  }

  // Entries are decoded on this many threads; the output is the same for any.
  CLI::Option* Jobs(CLI::App* app) {
    return app
        ->add_option("-j,--jobs", request_.jobs,
                     "decode on N threads (default: one per core;\n1: one thread, no other)")
        ->type_name("N")
        ->check(CLI::Range(1u, JOBS_MAX).description(""));
  }

  // A damaged entry's stream is searched for one flipped bit that the
  // checksum proves; entries past the time are told as not tried.
  CLI::Option* RepairTime(CLI::App* app) {
    return app
        ->add_option("--repair-time", request_.repairSeconds,
                     "seconds for repairing flipped bits, in all\n(default 120; 0: no repair tried)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 1e9).description(""));
  }

  // compare, and extract --missing-in, which restores what compare calls
  // missing: declared together, as they are one idea.
  void DeclareCompare() {
    CLI::App* compare = Command(PackToolCommand::Compare, "compare",
                                "what differs between a backup and a folder,\nor between two backups", COMPARE_FOOTER);
    compare->add_option("BACKUP", request_.archive, "the pack archive")->required();
    compare
        ->add_option("FOLDER", request_.comparedWith,
                     "the folder on disk the backup was made of (or\na restore of it), or another backup")
        ->required();
    StandsFor(compare);
    CLI::Option* quick = Flag(compare, "--quick", request_.quick,
                              "same by size and content key: the backup's\n"
                              "entries are not decoded (see below)");
    quick->excludes(Flag(compare, "--verify", request_.decode,
                         "two backups: decode both entries of every\nrow, so that same means same bytes"));
    Quiet(compare)->excludes(
        Flag(compare, "--json", words_.json, "one JSON document (UTF-8): the rows of each\nkind and the counts"));
    Jobs(compare);
  }

  void StandsFor(CLI::App* app) {
    standsFor_ = app->add_option("--as", request_.standsFor,
                                 "the part of the backup the folder stands for\n(C:\\Daten; \\ for the whole backup)")
                     ->type_name("PREFIX");
  }

  void MissingIn(CLI::App* extract, CLI::Option* all) {
    CLI::Option* missing =
        extract
            ->add_option("--missing-in", request_.comparedWith,
                         "restore only the rows that compare calls\nmissing in FOLDER, into their places there")
            ->type_name("FOLDER");
    missing->excludes(output_)->excludes(folders_.back())->excludes(all);
    CLI::Option* changed =
        Flag(extract, "--changed", request_.changedToo,
             "with --missing-in: the changed rows too (a\nfile there is replaced only with --force)");
    changed->needs(missing);
    StandsFor(extract);
    standsFor_->needs(missing);
    Flag(extract, "--quick", request_.quick, "with --changed: changed by size and content\nkey, as compare --quick")
        ->needs(changed);
  }

  static CLI::Option* Flag(CLI::App* app, const char* name, bool& value, const char* text) {
    return app->add_flag(name, value, text)->disable_flag_override();
  }

  // The words for the parser, last first as it takes them. An option that
  // takes a value given "=" and nothing after it ("--match=") gets the empty
  // value as a word of its own, which CheckRequest refuses with the option's
  // message: the parser would take the next word as its value ("--match= 3"
  // as the pattern "3").
  std::vector<std::string> Words(int argc, const char* const* argv) {
    const Declared* command = argc >= 2 ? Find(argv[1]) : nullptr;
    std::vector<std::string> words;
    int arguments = 0;   // the command's arguments so far (not options, not their values)
    bool value = false;  // the word is the value of the option before it
    bool rest = false;   // after "--": arguments only
    for (int i = 1; i < argc; i++) {
      std::string word = argv[i];
      if (value || rest || word == "--" || command == nullptr || word.size() < 2 || word[0] != '-') {
        if (!value && !rest && word == "--") {
          words_.wordsBeforeRest = arguments - 1;  // the command's name is one
          // find's words are one list for the parser, which a "--" would
          // end: the place it stood is kept instead.
          if (command->command == PackToolCommand::Find) {
            rest = true;
            continue;
          }
        }
        if (!value && word != "--") arguments++;
        rest = rest || (!value && word == "--");
        value = false;
        words.push_back(word);
        continue;
      }
      size_t equals = word.find('=');
      const CLI::Option* option = command->app->get_option_no_throw(word.substr(0, equals));
      bool takesValue = option != nullptr && option->get_type_size() > 0;
      value = takesValue && equals == std::string::npos;
      if (takesValue && equals == word.size() - 1) {
        words.push_back(word.substr(0, equals));
        words.emplace_back();
      } else {
        words.push_back(word);
      }
    }
    std::reverse(words.begin(), words.end());
    return words;
  }

  CLI::App app_;
  std::vector<Declared> commands_;
  CLI::Option* output_ = nullptr;      // extract's -o
  CLI::Option* standsFor_ = nullptr;   // the last --as declared
  std::vector<CLI::Option*> folders_;  // the commands' -d
  PackToolRequest request_;
  ParsedWords words_;
  bool version_ = false;
};

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, PackToolRequest* request, std::string* error) {
  return CommandLine().Parse(argc, argv, request, error);
}

std::string HelpText(PackToolCommand command) {
  return CommandLine().Help(command);
}

std::vector<DeclaredCommand> Declarations() {
  return CommandLine().DeclaredCommands();
}
