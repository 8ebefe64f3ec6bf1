// The two commands of the restore tool: list a backup's index, export the
// entry of the selected row.
#pragma once

#include <cstdint>

#include "core/startup.h"
#include "core/string.h"

constexpr intptr_t MAIN_WINDOW = 0;
constexpr intptr_t BUTTON_SELECT_BACKUP = 1;
constexpr intptr_t BUTTON_EXPORT = 2;
constexpr intptr_t LIST_ENTRIES = 3;
constexpr intptr_t FILE_WORK = 1;

// What the two commands share for the life of the process.
struct CommandState {
  String backupPath;
  const unsigned char* entry;
  int32_t counter;
  String exportPath;
};

CommandState& Commands();

// The libraries the commands need, in their start-up and shut-down order.
// The requesters' start-up step is the entry point's to add: tests and
// benchmarks link a stand-in for the two requesters instead.
LibrarySteps CommandLibraries();

// Window 0 with its two buttons and the list; export starts disabled.
// False when the window cannot be opened (then no gadget is made).
bool OpenMainWindow();

int SelectBackup();
int ExportEntry();
