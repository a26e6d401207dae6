#include "sqlhost/project/definition_rule_table.h"

namespace pramble::sqlhost::rules {
namespace {

const std::vector<std::string> kTF = {"T", "F"};

}  // namespace

const std::vector<CommandRule>& Rules(DefinitionKind kind) {
  static const std::vector<CommandRule> survey = {
      {"Type", Kind::kChoice, {"Line", "Point"}, {}},
      {"Distance", Kind::kChoice, {"Perp", "Radial"}, {}},
      {"Object", Kind::kChoice, {"Cluster", "Single"}, {}},
      {"Configuration", Kind::kChoice, {"s", "d"}, {}, false},  // none: double observer
      {"PDist", Kind::kNone, {}, {{"Fld", Kind::kDistanceField}}},
      {"CSize", Kind::kNone, {}, {{"Fld", Kind::kObsField}}},
      {"ObjID", Kind::kNone, {}, {{"Fld", Kind::kObsField}}},
      {"Obs", Kind::kNone, {}, {{"Fld", Kind::kObsField}}},
      {"Detected", Kind::kNone, {}, {{"Fld", Kind::kObsField}}},
      {"Area", Kind::kNone, {}, {{"Fld", Kind::kAreaField}}},
      {"Effort", Kind::kNone, {}, {{"Fld", Kind::kEffortField}}},
  };
  static const std::vector<CommandRule> filter = {
      {"Distance",
       Kind::kNone,
       {},
       {{"Width", Kind::kPositive},
        {"Left", Kind::kNonNegative},
        {"Intervals", Kind::kCutpoints},
        {"Rtruncate", Kind::kNumber},
        {"NClass", Kind::kWhole}}},
      {"Select", Kind::kNone, {}, {{"Layer", Kind::kLayerName}, {"Criteria", Kind::kCondition}}},
      {"Units", Kind::kNone, {}, {{"Area", Kind::kAreaUnit}}},
  };
  static const std::vector<CommandRule> model = {
      {"Method",
       Kind::kChoice,
       {"ds", "io", "io.fi", "trial", "trial.fi", "rem", "rem.fi"},
       {}},
      {"DSModel",
       Kind::kNone,
       {},
       {{"Method", Kind::kChoice, {"cds", "mcds"}},
        {"Key", Kind::kChoice, {"hn", "hr", "unif"}},
        {"Formula", Kind::kFormula}}},
      {"MRModel",
       Kind::kNone,
       {},
       {{"Method", Kind::kChoice, {"glm"}},
        {"Link", Kind::kChoice, {"logit"}},
        {"Formula", Kind::kFormula}}},
      {"Control", Kind::kText, {}, {{"Showit", Kind::kWhole}}, false},
      {"Diagnostics", Kind::kNone, {}, {{"Plot", Kind::kChoice, kTF}, {"GOF", Kind::kChoice, kTF}}},
      {"Detection", Kind::kDetection, {}, {}},
      {"Density",
       Kind::kChoice,
       kTF,
       {{"VarFlag", Kind::kChoice, {"0", "1", "2"}}, {"PrintOptions", Kind::kWhole}}},
      {"Stratification",
       Kind::kChoice,
       {"None", "Stratify", "Post-stratify"},
       {{"LayerType", Kind::kStratumType}, {"FieldName", Kind::kText}},
       false},
      {"Sample", Kind::kNone, {}, {{"LayerType", Kind::kSampleType}}},
      {"Factors", Kind::kColumns, {}, {}},
  };
  switch (kind) {
    case DefinitionKind::kSurvey:
      return survey;
    case DefinitionKind::kDataFilter:
      return filter;
    case DefinitionKind::kModelDefinition:
      break;
  }
  return model;
}

}  // namespace pramble::sqlhost::rules
