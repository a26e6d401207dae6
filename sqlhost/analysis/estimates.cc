#include "sqlhost/analysis/estimates.h"

#include <cctype>

namespace pramble::sqlhost {
namespace {

// The density statistics' codes: 1000 kind + 10 row + statistic
// (docs/statistic-codes.md).
std::optional<double> Stat(const RunRecord& r, int kind, int row, int statistic) {
  return r.Stat(1000 * kind + 10 * row + statistic);
}

std::string Per(const std::string& what, const std::string& unit) {
  return unit.empty() ? what + " per unit" : what + " per " + unit;
}

void AddRows(const RunRecord& r, int row, const std::string& region,
             std::vector<EstimateRow>& rows) {
  const std::string area = UnitWords(r.units.area), effort = UnitWords(r.units.effort);
  const bool individuals = Stat(r, 3, row, 0).has_value();
  struct Kind {
    int kind;
    const char* quantity;
    const char* of;
  };
  const Kind kinds[] = {{1, "abundance", "clusters"},
                        {2, "density", "clusters"},
                        {3, "abundance", "individuals"},
                        {4, "density", "individuals"}};
  for (const Kind& k : kinds) {
    if (!Stat(r, k.kind, row, 0)) continue;
    rows.push_back({region, k.quantity, k.of,
                    k.kind % 2 ? std::string(k.of) : Per(k.of, area), Stat(r, k.kind, row, 0),
                    Stat(r, k.kind, row, 1), Stat(r, k.kind, row, 2), Stat(r, k.kind, row, 3),
                    Stat(r, k.kind, row, 4), Stat(r, k.kind, row, 5)});
  }
  if (Stat(r, 5, row, 0)) {
    rows.push_back({region, "expected cluster size", "clusters", "individuals per cluster",
                    Stat(r, 5, row, 0), Stat(r, 5, row, 1), Stat(r, 5, row, 2), {}, {}, {}});
  }
  const std::string objects = individuals ? "clusters" : "objects";
  struct Figure {
    int statistic;
    const char* quantity;
    std::string unit;
  };
  const Figure figures[] = {{0, "n", objects},
                            {1, "k", "samples"},
                            {2, "effort", effort},
                            {3, "encounter rate", Per(objects, effort)},
                            {4, "area", area},
                            {5, "covered area", area}};
  for (const Figure& f : figures) {
    if (const auto v = Stat(r, 6, row, f.statistic))
      rows.push_back({region, f.quantity, "", f.unit, v, {}, {}, {}, {}, {}});
  }
}

}  // namespace

std::string UnitWords(const std::string& unit) {
  std::string words = unit;
  for (char& c : words) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return words;
}

std::vector<EstimateRow> EstimatesOf(const RunRecord& record) {
  std::vector<EstimateRow> rows;
  AddRows(record, 0, "Total", rows);
  int regions = 0;
  while (regions < 99 && Stat(record, 6, regions + 1, 0)) ++regions;
  if (regions < 2) return rows;
  for (int row = 1; row <= regions; ++row) {
    const auto label = record.region_labels.find(row);
    AddRows(record, row,
            label != record.region_labels.end() ? label->second : "region " + std::to_string(row),
            rows);
  }
  return rows;
}

}  // namespace pramble::sqlhost
