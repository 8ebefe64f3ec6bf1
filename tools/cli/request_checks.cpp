#include "tools/cli/request_checks.h"

#include <cstdint>

namespace {

bool Fail(std::string* error, const char* text) {
  *error = text;
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

// A word of digits (signed or not) means a row number, also when it is
// none: "-1" or "99999999999" is named as a wrong row, not taken as a name.
bool LooksLikeANumber(const std::string& word) {
  size_t digits = word.find_first_not_of("+-");
  return digits != std::string::npos && word.find_first_not_of("0123456789", digits) == std::string::npos;
}

// list and verify: the first word is an archive or folder; of the others a
// row number is a row, anything else an archive or folder too ("./2024"
// names one whose name is a number).
bool TakePlaces(ParsedWords& words, PackToolRequest& r, std::string* error) {
  for (size_t i = 0; i < words.placeWords.size(); i++) {
    uint32_t number = 0;
    if (i > 0 && ParseRow(words.placeWords[i].c_str(), &number)) {
      words.rows.push_back(words.placeWords[i]);
      continue;
    }
    if (words.placeWords[i].empty()) return Fail(error, "an archive or folder name is empty");
    r.archives.push_back(words.placeWords[i]);
  }
  r.archive = r.archives.front();
  return true;
}

// compare and extract --missing-in: the values given empty.
bool CheckCompare(const ParsedWords& words, PackToolRequest& r, std::string* error) {
  if (r.comparedWith.empty())
    return Fail(error, r.command == PackToolCommand::Compare ? "the folder or backup to compare with is empty"
                                                             : "--missing-in needs a folder");
  r.hasStandsFor = words.standsForGiven;
  if (r.command == PackToolCommand::Extract && r.flat)
    return Fail(error, "--missing-in puts rows in their places: no --flat");
  if (r.hasStandsFor && r.standsFor.empty()) return Fail(error, "--as needs a part of the backup (\\ for all of it)");
  return true;
}

// find: the patterns and places are told apart here when "--" parts them,
// else by the command (by what exists).
bool CheckFind(const ParsedWords& words, PackToolRequest& r, std::string* error) {
  for (const std::string& word : r.findWords) {
    if (word.empty()) return Fail(error, "a pattern, archive or folder name is empty");
  }
  if (words.json) r.format = ListFormat::Json;
  if (words.wordsBeforeRest < 0) return true;
  if (words.wordsBeforeRest == 0 || size_t(words.wordsBeforeRest) >= r.findWords.size()) {
    return Fail(error, "find takes patterns before \"--\" and archives or folders after it");
  }
  r.findPatterns = words.wordsBeforeRest;
  return true;
}

}  // namespace

bool CheckRequest(ParsedWords& words, PackToolRequest* request, std::string* error) {
  PackToolRequest& r = *request;
  if (r.command == PackToolCommand::None) return Fail(error, "no command given");
  if (r.command == PackToolCommand::Version || r.command == PackToolCommand::Completion) return true;
  if (r.command == PackToolCommand::Help) {
    if (!words.helpTopic.empty()) {
      if (!words.helpTopicKnown) {
        *error = "no help for \"" + words.helpTopic + "\"";
        return false;
      }
      if (words.helpTopicCommand != PackToolCommand::Help) r.helpFor = words.helpTopicCommand;
    }
    return true;
  }
  if (r.command == PackToolCommand::Mount) {
    r.mountPoint = words.mountWords.back();
    r.archives.assign(words.mountWords.begin(), words.mountWords.end() - 1);
    for (const std::string& word : words.mountWords) {
      if (word.empty()) return Fail(error, "an archive or mount point name is empty");
    }
    if (r.cacheMegabytes == 0 || r.cacheMegabytes > (uint64_t(1) << 20)) {
      return Fail(error, "--cache-size takes 1 to 1048576 (MiB)");
    }
    return true;
  }
  if (r.command == PackToolCommand::List || r.command == PackToolCommand::Verify) {
    if (!TakePlaces(words, r, error)) return false;
  }
  if (r.command == PackToolCommand::Find) return CheckFind(words, r, error);
  if (r.archive.empty()) return Fail(error, "the archive name is empty");
  // Values given empty first: the words after them mean nothing yet.
  for (const std::string& pattern : r.patterns) {
    if (pattern.empty()) return Fail(error, "--match needs a pattern");
  }
  if (r.command == PackToolCommand::Compare || !r.comparedWith.empty()) {
    if (!CheckCompare(words, r, error)) return false;
  }
  r.hasOutputFile = words.outputFileGiven;
  r.hasOutputFolder = words.outputFolderGiven;
  if (r.command == PackToolCommand::Extract) {
    if (r.hasOutputFile && r.outputFile.empty()) return Fail(error, "-o needs a file name");
    if (r.hasOutputFolder && r.outputFolder.empty()) return Fail(error, "-d needs a folder name");
  }
  bool takesNames = r.command == PackToolCommand::Extract || r.command == PackToolCommand::Cat ||
                    r.command == PackToolCommand::Rescue;
  for (const std::string& row : words.rows) {
    uint32_t number = 0;
    if (takesNames && !LooksLikeANumber(row)) {
      if (row.empty()) return Fail(error, "a row's name is empty");
      r.names.push_back(row);
      continue;
    }
    if (!ParseRow(row.c_str(), &number)) {
      *error = "\"" + row + "\" is not a row number";
      return false;
    }
    r.rows.push_back(number);
  }
  if (words.raw) r.format = ListFormat::Raw;
  if (words.json) r.format = ListFormat::Json;
  switch (r.command) {
    case PackToolCommand::Cat:
      // Patterns are counted against the rows once the index is read.
      if (r.rows.size() + r.names.size() + (r.patterns.empty() ? 0 : 1) != 1)
        return Fail(error, "cat takes exactly one row");
      return true;
    case PackToolCommand::Rescue:
      if (r.outputFolder.empty()) return Fail(error, "rescue needs -d DIR, a fresh or empty folder");
      return true;
    case PackToolCommand::Extract:
      if (!r.all && r.rows.empty() && r.names.empty() && r.patterns.empty() && r.comparedWith.empty())
        return Fail(error, "no row given (or --match, --all, --missing-in)");
      // Names and patterns are counted against the rows once the index is read.
      if (r.hasOutputFile && r.rows.size() + r.names.size() + (r.patterns.empty() ? 0 : 1) != 1)
        return Fail(error, "-o takes exactly one row");
      return true;
    default:
      return true;
  }
}
