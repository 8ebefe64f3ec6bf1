// A progress line on standard error, for the commands that read a whole
// archive: drawn only where it takes a while and a person is watching (a
// large archive, standard error a terminal), at most every quarter second.
// A complaint clears it before it is said (see report.h); clear it before
// saying anything else on standard error.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "tools/cli/report.h"

class Progress {
 public:
  static constexpr uint64_t MIN_ARCHIVE = 64ull << 20;
  static constexpr uint64_t INTERVAL_MS = 250;
  static constexpr unsigned BAR_WIDTH = 30;
  static constexpr size_t LINE_WIDTH = 79;

  // doing: what the line says is going on ("verifying"). from: the least
  // total that is worth a line (a command that knows its work is long in
  // another way passes 0); barWidth: room left for a longer note (0: no bar
  // and no total, only the share done and the note).
  Progress(const char* doing, uint64_t total, uint64_t from = MIN_ARCHIVE, unsigned barWidth = BAR_WIDTH)
      : doing_(doing),
        shown_(total > 0 && total >= from && PlatformErrorIsTerminal()),
        total_(total),
        barWidth_(std::min(barWidth, BAR_WIDTH)) {
    if (shown_) ReportShowsProgress(this);
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() {
    Clear();
    if (shown_) ReportShowsProgress(nullptr);
  }

  void Update(uint64_t done) {
    if (!shown_) return;
    uint64_t now = PlatformMilliseconds();
    if (drawn_ && now - last_ < INTERVAL_MS) return;
    last_ = now;
    drawn_ = true;
    unsigned percent = static_cast<unsigned>(std::min(done, total_) * 100 / total_);
    std::string bar(barWidth_, ' ');
    bar.replace(0, percent * barWidth_ / 100, percent * barWidth_ / 100, '#');
    char line[96];
    if (barWidth_ == 0) {  // the note says what the share is of
      snprintf(line, sizeof line, "\r%s %3u%%", doing_, percent);
    } else {
      snprintf(line, sizeof line, "\r%s [%s] %3u%% of %llu MiB", doing_, bar.c_str(), percent,
               static_cast<unsigned long long>(total_ >> 20));
    }
    fputs((line + note_).substr(0, LINE_WIDTH + 1).c_str(), stderr);
    fflush(stderr);
  }

  // Said after the figures from the next drawing on ("; 3 bad units").
  void Note(std::string note) { note_ = std::move(note); }

  void Clear() {
    if (!drawn_) return;
    drawn_ = false;
    fputs(("\r" + std::string(LINE_WIDTH, ' ') + "\r").c_str(), stderr);
    fflush(stderr);
  }

 private:
  const char* doing_;
  bool shown_;
  bool drawn_ = false;
  uint64_t total_;
  unsigned barWidth_;
  uint64_t last_ = 0;
  std::string note_;
};
