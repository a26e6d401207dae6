// The tables of `pramble estimates` and `pramble compare`, built once and
// printed as text, CSV, JSON (analysis_commands.cc) or HTML (report.cc).
// docs/estimates.md describes their columns and the JSON around them.
#pragma once

#include <cstdint>
#include <string>

#include "sqlhost/analysis/comparison.h"
#include "sqlhost/analysis/run_record.h"
#include "sqlhost/cli/table_printer.h"

namespace pramble::cli {

// One row per region, quantity and kind (sqlhost/analysis/estimates.h).
TablePrinter EstimatesTable(const sqlhost::RunRecord& record);

// One row per item of `group`; with `group_column`, a first column that
// numbers the group (`group_number`) for CSV, where all groups share a table.
TablePrinter ComparisonTable(const sqlhost::ComparisonGroup& group, bool group_column = false,
                             int group_number = 0);

// "distance Meter, effort Kilometer, area Square kilometer"
std::string UnitsText(const sqlhost::RunUnits& units);

}  // namespace pramble::cli
