#include "sqlhost/analysis/comparison.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "sqlhost/analysis/estimates.h"
#include "sqlhost/analysis/run_record.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/project_growth.h"

namespace pramble::sqlhost {
namespace {

using description::DefinitionSpec;

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// What makes two fits' likelihoods comparable, and its words.
struct GroupKey {
  std::string method;
  std::int32_t survey = 0, data_filter = 0;
  double left = 0, width = 0;
  std::string intervals;
  double n = 0;
  bool operator<(const GroupKey& o) const {
    return std::tie(method, survey, data_filter, left, width, intervals, n) <
           std::tie(o.method, o.survey, o.data_filter, o.left, o.width, o.intervals, o.n);
  }
};

std::string Label(const GroupKey& k, const std::string& distance_unit) {
  const std::string unit = distance_unit.empty() ? "" : " " + UnitWords(distance_unit);
  return k.method + "; survey " + std::to_string(k.survey) + ", data filter " +
         std::to_string(k.data_filter) + "; " + Number(k.left) + " to " + Number(k.width) + unit +
         ", " + (k.intervals.empty() ? "exact distances" : "intervals " + k.intervals) + "; " +
         Number(k.n) + " objects";
}

}  // namespace

Comparison CompareItems(Project& project, const std::vector<std::int32_t>& ids) {
  const description::Description d = DescriptionOf(project);
  std::vector<ItemInfo> items;
  if (ids.empty()) {
    items = project.ListItems();
  } else {
    for (const std::int32_t id : ids) {
      std::optional<ItemInfo> item = project.FindItem(id);
      if (!item) {
        throw ProjectError(ProjectError::Kind::kMissing, "project '" + project.folder() +
                                                              "' has no analysis item " +
                                                              std::to_string(id));
      }
      items.push_back(*item);
    }
  }
  std::map<GroupKey, ComparisonGroup> groups;
  ComparisonGroup unranked{"no statistics (not run, or the run stored none)", false, {}};
  for (const ItemInfo& item : items) {
    ComparedItem c;
    c.id = item.id;
    c.name = item.name;
    c.status = item.status;
    const DefinitionSpec* model = FindDefinition(d.model_definitions, item.model_definition_id);
    const DefinitionSpec* filter = FindDefinition(d.data_filters, item.data_filter_id);
    const std::string model_text = model ? model->definition : "";
    TextDefinitionReader reader;
    c.method = reader.GetCommand(model_text, "Method").value;
    c.key = OptionOf(model_text, "DSModel", "Key");
    c.ds_formula = OptionOf(model_text, "DSModel", "Formula");
    c.mr_formula = OptionOf(model_text, "MRModel", "Formula");
    const std::optional<RunRecord> record = ReadRunRecord(project, item.id);
    if (!record) {
      unranked.items.push_back(std::move(c));
      continue;
    }
    const RunRecord& r = *record;
    c.n = r.Stat(1);
    c.parameters = r.Stat(2);
    c.aic = r.Stat(3);
    c.average_p = r.Stat(4);
    c.log_likelihood = r.Stat(9);
    c.gof_chisq_p = r.Stat(32);
    c.gof_cvm_p = r.Stat(40);
    const int kind = r.Stat(3000) ? 3 : 1;
    c.abundance_of = kind == 3 ? "individuals" : "clusters";
    c.abundance = r.Stat(kind * 1000);
    c.cv = r.Stat(kind * 1000 + 2);
    c.lcl = r.Stat(kind * 1000 + 3);
    c.ucl = r.Stat(kind * 1000 + 4);
    if (!c.aic) {
      unranked.items.push_back(std::move(c));
      continue;
    }
    const GroupKey key{c.method, item.survey_id, item.data_filter_id,
                       r.Stat(11).value_or(0), r.Stat(10).value_or(0),
                       OptionOf(filter ? filter->definition : "", "Distance", "Intervals"),
                       c.n.value_or(0)};
    ComparisonGroup& g = groups[key];
    if (g.label.empty()) g.label = Label(key, r.units.distance);
    g.items.push_back(std::move(c));
  }
  Comparison out;
  for (auto& [key, g] : groups) {
    std::stable_sort(g.items.begin(), g.items.end(),
                     [](const ComparedItem& a, const ComparedItem& b) { return *a.aic < *b.aic; });
    for (ComparedItem& c : g.items) c.delta_aic = *c.aic - *g.items.front().aic;
    out.groups.push_back(std::move(g));
  }
  auto lowest = [](const ComparisonGroup& g) {
    std::int32_t id = g.items.front().id;
    for (const ComparedItem& c : g.items) id = std::min(id, c.id);
    return id;
  };
  std::stable_sort(out.groups.begin(), out.groups.end(),
                   [&](const ComparisonGroup& a, const ComparisonGroup& b) {
                     return lowest(a) < lowest(b);
                   });
  if (!unranked.items.empty()) out.groups.push_back(std::move(unranked));
  return out;
}

}  // namespace pramble::sqlhost
