// The scripts that complete packtool's words in bash, zsh and fish, written
// from the command line's declarations, so that they offer what the parser
// takes.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/command_line.h"

// The script for shell ("bash", "zsh" or "fish"); "" for another.
std::string CompletionScript(const std::string& shell, const std::vector<DeclaredCommand>& commands);
