// The command line and how packtool reports: the request parsed from the
// arguments, exit codes, progress, messages, JSON documents, extract's report.
// Other folders include this header only.
#pragma once

#include "tools/cli/command_line.h"
#include "tools/cli/completion.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/extract_report.h"
#include "tools/cli/json_document.h"
#include "tools/cli/progress.h"
#include "tools/cli/report.h"
