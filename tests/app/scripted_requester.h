// A stand-in for the two requesters, linked into the command tests in place
// of the real dialogs: each call takes the next scripted answer and records
// what the command asked for.
#pragma once

#include <deque>
#include <string>
#include <vector>

struct RequesterCall {
  std::string title;
  std::string defaultFile;
  std::string pattern;
  int position;
};

struct RequesterScript {
  std::deque<std::string> answers;  // "" is a cancel
  std::vector<RequesterCall> openCalls;
  std::vector<RequesterCall> saveCalls;
};

RequesterScript& Script();
