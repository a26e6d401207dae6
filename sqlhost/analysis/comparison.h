// The items of a project side by side, ranked by AIC where AIC may be
// compared: only among items fitted to the same data with the same
// likelihood. Items share a group when they have the same method (ds, io,
// io.fi, trial, trial.fi, rem and rem.fi each have their own likelihood),
// the same survey and data filter, the same truncation, exact or binned
// distances alike, and the same number of objects in the fit. Items
// without statistics (never run, failed) stand apart, unranked.
//
//   const Comparison c = CompareItems(*project, {});   // every item
//   for (const ComparisonGroup& g : c.groups) ...
//
// Thread-safety: one thread (it reads the project).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/project/project.h"

namespace pramble::sqlhost {

struct ComparedItem {
  std::int32_t id = 0;
  std::string name;
  std::int32_t status = 0;
  std::string method, key, ds_formula, mr_formula;  // "" where the definition has none
  std::optional<double> parameters, log_likelihood, aic, delta_aic;
  std::optional<double> gof_chisq_p, gof_cvm_p, average_p, n;
  // Total abundance of individuals when the data have sizes, else of clusters.
  std::string abundance_of;
  std::optional<double> abundance, lcl, ucl, cv;
};

struct ComparisonGroup {
  // e.g. "io; survey 1, data filter 1; 0 to 50 meter, exact distances; 240 objects";
  // "no statistics" for the items that cannot be ranked.
  std::string label;
  bool ranked = true;
  std::vector<ComparedItem> items;  // ranked by AIC, lowest first
};

struct Comparison {
  std::vector<ComparisonGroup> groups;  // in the order of their lowest item ID
};

// Compares `ids` (every item when empty). Throws ProjectError kMissing
// naming the first ID the project does not have.
Comparison CompareItems(Project& project, const std::vector<std::int32_t>& ids);

}  // namespace pramble::sqlhost
