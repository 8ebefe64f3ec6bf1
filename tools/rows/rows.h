// An archive seen as rows: opening it with its index, how far the rows are
// trusted, going on past damage, choosing rows, naming their targets.
// Other folders include this header only.
#pragma once

#include "tools/rows/archive_places.h"
#include "tools/rows/archive_session.h"
#include "tools/rows/backup_part.h"
#include "tools/rows/entry_pipeline.h"
#include "tools/rows/entry_repair.h"
#include "tools/rows/entry_texts.h"
#include "tools/rows/opened_archive.h"
#include "tools/rows/other_backups.h"
#include "tools/rows/past_damage.h"
#include "tools/rows/row_fetcher.h"
#include "tools/rows/row_selection.h"
#include "tools/rows/row_targets.h"
#include "tools/rows/target_path.h"
#include "tools/rows/walk_names.h"
