// Text rules, no I/O: Windows-1252 and console text, patterns, path names.
// Other folders include this header only.
#pragma once

#include "tools/text/path_text.h"
#include "tools/text/row_match.h"
#include "tools/text/text_encoding.h"
