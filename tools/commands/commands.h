// packtool's commands, one file each in this folder. Each prints its results
// on standard output, its complaints on standard error, and returns the exit
// code.
#pragma once

#include "tools/cli/cli.h"

int RunList(const PackToolRequest& request);
int RunExtract(const PackToolRequest& request);
int RunVerify(const PackToolRequest& request);
int RunCat(const PackToolRequest& request);
int RunRescue(const PackToolRequest& request);
int RunFind(const PackToolRequest& request);
int RunCompare(const PackToolRequest& request);
// compare with another backup instead of a folder (compare_backups.cpp).
int RunCompareBackups(const PackToolRequest& request);
