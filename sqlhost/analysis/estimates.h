// The estimates of an item's last run as rows of quantities with their
// units: abundance and density of clusters and individuals with se, cv, 95%
// interval and degrees of freedom, expected cluster size, and the survey
// figures (n, k, effort, encounter rate, area, covered area), for each
// region and the total. docs/estimates.md describes the rows and the JSON
// that `pramble estimates` prints.
//
//   const auto record = ReadRunRecord(*project, 12);
//   for (const EstimateRow& row : EstimatesOf(*record)) ...
//
// Thread-safety: pure functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sqlhost/analysis/run_record.h"

namespace pramble::sqlhost {

struct EstimateRow {
  std::string region;    // the region's label, or "Total"
  std::string quantity;  // "abundance", "density", "expected cluster size", "n", "k",
                         // "effort", "encounter rate", "area", "covered area"
  std::string of;        // "clusters", "individuals", or "" for the survey figures
  std::string unit;      // e.g. "individuals per square kilometer", "kilometer"
  std::optional<double> estimate, se, cv, lcl, ucl, df;
};

// The rows in the order: the total, then each region; within one, the
// estimates of clusters, of individuals, then the survey figures. Regions
// are shown only when there are several.
std::vector<EstimateRow> EstimatesOf(const RunRecord& record);

// "square kilometer" from "Square kilometer"; "" stays "".
std::string UnitWords(const std::string& unit);

}  // namespace pramble::sqlhost
