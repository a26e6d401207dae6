#include "sqlhost/cli/analysis_tables.h"

#include "sqlhost/analysis/estimates.h"
#include "sqlhost/project/project.h"

namespace pramble::cli {

TablePrinter EstimatesTable(const sqlhost::RunRecord& record) {
  TablePrinter table({{"region"},
                      {"quantity"},
                      {"of"},
                      {"estimate", 0, Align::kRight, 6},
                      {"se", 0, Align::kRight, 4},
                      {"cv", 0, Align::kRight, 3},
                      {"lcl", 0, Align::kRight, 6},
                      {"ucl", 0, Align::kRight, 6},
                      {"df", 0, Align::kRight, 4},
                      {"unit"}});
  for (const sqlhost::EstimateRow& r : sqlhost::EstimatesOf(record)) {
    table.AddCells({r.region, r.quantity, r.of, NumberCell(r.estimate), NumberCell(r.se),
                    NumberCell(r.cv), NumberCell(r.lcl), NumberCell(r.ucl), NumberCell(r.df),
                    r.unit});
  }
  return table;
}

TablePrinter ComparisonTable(const sqlhost::ComparisonGroup& group, bool group_column,
                             int group_number) {
  std::vector<Column> columns = {{"item", 0, Align::kRight},
                                 {"name"},
                                 {"status"},
                                 {"method"},
                                 {"key"},
                                 {"ds formula"},
                                 {"mr formula"},
                                 {"parameters", 0, Align::kRight, 3},
                                 {"log-likelihood", 0, Align::kRight, 7},
                                 {"AIC", 0, Align::kRight, 7},
                                 {"delta AIC", 0, Align::kRight, 4},
                                 {"chi-square P", 0, Align::kRight, 3},
                                 {"CvM P", 0, Align::kRight, 3},
                                 {"average p", 0, Align::kRight, 3},
                                 {"abundance of", 0},
                                 {"abundance", 0, Align::kRight, 6},
                                 {"lcl", 0, Align::kRight, 6},
                                 {"ucl", 0, Align::kRight, 6},
                                 {"cv", 0, Align::kRight, 3}};
  if (group_column) {
    columns.insert(columns.begin(), {{"group", 0, Align::kRight}, {"group label"}});
  }
  TablePrinter table(columns);
  for (const sqlhost::ComparedItem& c : group.items) {
    std::vector<Cell> cells = {
        static_cast<double>(c.id), c.name,
        std::to_string(c.status) + " " + sqlhost::Project::StatusText(c.status), c.method, c.key,
        c.ds_formula, c.mr_formula, NumberCell(c.parameters), NumberCell(c.log_likelihood),
        NumberCell(c.aic), NumberCell(group.ranked ? c.delta_aic : std::nullopt),
        NumberCell(c.gof_chisq_p), NumberCell(c.gof_cvm_p), NumberCell(c.average_p),
        c.abundance_of, NumberCell(c.abundance), NumberCell(c.lcl), NumberCell(c.ucl),
        NumberCell(c.cv)};
    if (group_column) {
      cells.insert(cells.begin(), {static_cast<double>(group_number), group.label});
    }
    table.AddCells(std::move(cells));
  }
  return table;
}

std::string UnitsText(const sqlhost::RunUnits& units) {
  auto or_unknown = [](const std::string& u) { return u.empty() ? std::string("unknown") : u; };
  return "distance " + or_unknown(units.distance) + ", effort " + or_unknown(units.effort) +
         ", area " + or_unknown(units.area);
}

}  // namespace pramble::cli
