// How packtool's commands speak: results on standard output, complaints on
// standard error, row texts shown safely.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class Progress;

void Print(std::string_view text);
// "packtool: " + text, on a line of its own on standard error; a progress
// line drawn there is cleared first.
void Complain(const std::string& text);
// The progress line now drawn on standard error, or null when none.
void ReportShowsProgress(Progress* line);
// Whether anything went to standard output yet, and the first and the last
// complaint ("" when none).
bool ReportPrinted();
const std::string& ReportFirstComplaint();
const std::string& ReportLastComplaint();
// A row text as a message shows it: every byte that could steer a terminal
// escaped, in the console's character set.
std::string Shown(std::string_view rowText);
// A pattern as typed, as a message shows it, escaped as a path is.
std::string DisplayPattern(std::string_view typed);
// A path of this machine as a message shows it: every byte that could steer
// a terminal escaped. Every message shows paths through this (or QuotedPath).
std::string ShownPath(std::string_view path);
// The same in quotes.
std::string QuotedPath(std::string_view path);
// Why the last system call of this thread failed, as the system words it.
std::string SystemErrorText();
// "1 entry", "2 entries": the count with the word that fits it.
std::string Counted(uint64_t count, const char* one, const char* many);
