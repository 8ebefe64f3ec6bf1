// What packtool's command line declarations cannot say, checked once the
// parser has read the words: a row's number and range, which rows -o and cat
// accept, empty values, and the words that are archives, folders, rows or
// a mount point by where they stand. Internal to tools/cli.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/command_line.h"

// What the parser took that the request does not hold as it is.
struct ParsedWords {
  std::vector<std::string> rows;        // rows and names, as typed
  std::vector<std::string> mountWords;  // mount: the archives, the mount point last
  std::vector<std::string> placeWords;  // list, verify: archives and folders, then rows
  int wordsBeforeRest = -1;             // the command's arguments before "--", when given
  std::string helpTopic;
  bool helpTopicKnown = false;  // a declared command's name
  PackToolCommand helpTopicCommand = PackToolCommand::None;
  bool raw = false;
  bool json = false;
  bool outputFileGiven = false;    // extract's -o
  bool outputFolderGiven = false;  // a command's -d
  bool standsForGiven = false;     // --as
};

// Completes *request from the words; false with the reason when they do not
// make a request.
bool CheckRequest(ParsedWords& words, PackToolRequest* request, std::string* error);
