// How packtool's commands speak: results on standard output, complaints on
// standard error, row texts shown safely.
#pragma once

#include <string>
#include <string_view>

void Print(std::string_view text);
// "packtool: " + text, on a line of its own on standard error.
void Complain(const std::string& text);
// A row text as a message shows it: control bytes escaped, in the console's
// character set.
std::string Shown(std::string_view rowText);
