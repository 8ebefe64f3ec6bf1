// Files that runs of packtool stage beside their targets are named after
// the machine and the process that writes them. A run that was killed
// leaves its staged files behind; a later run that writes into the same
// folder removes those whose process is gone, when it ran on this machine
// (a folder on a network share may hold another machine's live ones), and
// says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// The start of this machine's staged names: ".packtool-<machine>-" (the
// machine's name in letters, digits and '_'); the staged file adds
// "<process>-<n>.tmp".
const std::string& StagedPrefix();

// Whether a name below a folder is a staged file of a run of this machine
// that has ended (not this process).
bool LeftByEndedRun(const std::string& name);

// Removes the staged files of ended runs below the open folder (whose path,
// for listing it, is path) and adds the paths of the removed ones to *removed.
void RemoveLeftovers(PlatformFolder folder, const std::string& path, std::vector<std::string>* removed);

// What to say of the removed files ("" when there are none).
std::string LeftoversSaid(const std::vector<std::string>& removed);
