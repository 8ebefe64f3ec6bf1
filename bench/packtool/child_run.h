// A program run as a user runs it, for packtool's benchmarks: a process of
// its own, its output thrown away (or kept in a file), timed from its start
// to its end.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

struct ChildRun {
  double seconds = -1;    // wall time; negative when it did not end with the code expected
  int exitCode = -1;      // -1 when it did not start or ended by a signal
  long peakKib = 0;       // its peak resident memory
  double cpuSeconds = 0;  // user and system
};

// words[0] is the program (looked up on PATH when it holds no slash), the
// rest its arguments; standard error goes to /dev/null. watch, when given,
// is called with the child's id about every millisecond while it runs.
inline ChildRun RunChild(std::vector<std::string> words, int expected = 0, const char* stdoutPath = "/dev/null",
                         const std::function<void(pid_t)>& watch = {}) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t child;
  int status = 0;
  struct rusage usage {};
  bool ran = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  if (ran && watch) {
    pid_t ended;
    while ((ended = wait4(child, &status, WNOHANG, &usage)) == 0) {
      watch(child);
      usleep(1000);
    }
    ran = ended == child;
  } else if (ran) {
    ran = wait4(child, &status, 0, &usage) == child;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  ChildRun run;
  run.peakKib = usage.ru_maxrss;
  run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (ran && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (run.exitCode == expected) run.seconds = seconds;
  return run;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}
