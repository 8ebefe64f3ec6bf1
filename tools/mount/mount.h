// packtool mount: archives shown as a read-only folder through FUSE 3
// (Linux). Runs until the folder is unmounted or the process is told to
// stop (Ctrl-C, SIGTERM); in the background unless asked to stay.
#pragma once

#include "tools/cli/cli.h"

int RunMount(const PackToolRequest& request);
