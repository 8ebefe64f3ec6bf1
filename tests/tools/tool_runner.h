// Runs the built packtool as a separate process, the way a user or a script
// does, and hands back what it printed and its exit code. Natively it forks
// and executes the native binary; in the win32 build (under Wine) it starts
// packtool.exe with CreateProcess, so the same cases run against both.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

struct ToolRunOptions {
  std::string folder;          // working folder of the process
  std::string locale;          // POSIX: LC_ALL for the process; "" leaves it
  uint64_t fileSizeLimit = 0;  // POSIX: RLIMIT_FSIZE in bytes; 0 for none
  bool newConsole = false;     // Win32: a console of its own (output still to files)
  bool errorTerminal = false;  // POSIX: standard error a terminal (a pseudo-terminal); err is what it showed
  // Variables set for the process; a null value removes the variable.
  std::vector<std::pair<std::string, const char*>> environment;
};

ToolRun RunPackTool(const std::vector<std::string>& arguments, const ToolRunOptions& options);
