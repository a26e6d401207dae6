#include "sqlhost/project/definition_rules.h"

#include "sqlhost/project/definition_rule_table.h"
#include "sqlhost/project/description_json.h"

#include <cctype>
#include <cstdlib>
#include <set>

#include "pramble/host/errors.h"
#include "pramble/host/project_database.h"
#include "pramble/host/value.h"
#include "sqlhost/jet/jet_sql.h"
#include "sqlhost/util/string_utilities.h"
#include "sqlhost/util/units.h"

namespace pramble::sqlhost {
namespace {

using rules::CommandRule;
using rules::Kind;
using rules::OptionRule;
using rules::Rules;

using description::JoinTexts;

std::string Suggest(const std::string& word, const std::vector<std::string>& names,
                    const std::string& quote_prefix = "") {
  if (word.size() < 2) return "";  // every one-letter name is near it
  const std::string near = NearestName(word, names);
  return near.empty() ? "" : "; did you mean '" + quote_prefix + near + "'?";
}

// A plain decimal number: digits with at most one point, an optional sign and
// exponent; what R reads as a number and the engine can put into R text.
bool IsPlainNumber(const std::string& s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) {
      ++digits;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t start = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i == start) return false;
  }
  return i == s.size();
}

bool IsWhole(const std::string& s) {
  if (s.empty()) return false;
  for (std::size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0; i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return s.size() > 1 || std::isdigit(static_cast<unsigned char>(s[0]));
}

class Checker {
 public:
  Checker(DefinitionKind kind, const std::string& text, const ProjectShape& shape)
      : kind_(kind), text_(text), shape_(shape) {}

  std::optional<DefinitionSyntaxError> Run() {
    const std::vector<CommandRule>& rules = Rules(kind_);
    std::vector<std::string> command_names;
    for (const CommandRule& r : rules) command_names.push_back(r.name);
    for (const PlacedCommand& placed : ReadPlacedCommands(text_)) {
      const host::Command& c = placed.command;
      const CommandRule* rule = nullptr;
      for (const CommandRule& r : rules) {
        if (host::EqualsNoCase(r.name, c.name)) rule = &r;
      }
      if (!rule) {
        return Fault(placed.places.name, "unknown command '" + c.name + "' of a " +
                                             DefinitionKindName(kind_) +
                                             Suggest(c.name, command_names));
      }
      if (auto fault = CheckCommand(*rule, placed)) return fault;
    }
    return std::nullopt;
  }

 private:
  std::optional<DefinitionSyntaxError> CheckCommand(const CommandRule& rule,
                                                    const PlacedCommand& placed) {
    const host::Command& c = placed.command;
    const std::string name = rule.name;
    if (rule.value == Kind::kNone && !c.value.empty()) {
      return Fault(placed.places.value, name + " takes no value, only options (" +
                                            OptionList(rule) + "); '" + c.value +
                                            "' would be ignored");
    }
    if (rule.value != Kind::kNone && (rule.value_required || !c.value.empty())) {
      if (auto problem = CheckValue(rule.value, rule.choices, c.value, name)) {
        return Fault(placed.places.value, *problem);
      }
    }
    std::vector<std::string> option_names;
    for (const OptionRule& o : rule.options) option_names.push_back(o.name);
    for (std::size_t i = 0; i < c.option_names.size(); ++i) {
      const OptionRule* option = nullptr;
      for (const OptionRule& o : rule.options) {
        if (host::EqualsNoCase(o.name, c.option_names[i])) option = &o;
      }
      if (!option) {
        const std::string what = rule.options.empty() ? name + " takes no options"
                                                       : "unknown option '/" +
                                                             c.option_names[i] + "' of " + name +
                                                             Suggest(c.option_names[i],
                                                                     option_names, "/");
        return Fault(placed.places.options[i], what);
      }
      if (auto problem = CheckValue(option->kind, option->choices, c.option_values[i],
                                    name + " /" + option->name)) {
        return Fault(placed.places.option_values[i], *problem);
      }
    }
    return std::nullopt;
  }

  static std::string OptionList(const CommandRule& rule) {
    std::vector<std::string> names;
    for (const OptionRule& o : rule.options) names.push_back(std::string("/") + o.name);
    return JoinTexts(names, ", ");
  }

  // Why `value` does not fit `kind`, or nullopt when it does. `what` names the
  // command or option ("DSModel /Key").
  std::optional<std::string> CheckValue(Kind kind, const std::vector<std::string>& choices,
                                        const std::string& value, const std::string& what) {
    const std::string shown = "'" + value + "'";
    switch (kind) {
      case Kind::kNone:
      case Kind::kText:
        return std::nullopt;
      case Kind::kChoice:
        for (const std::string& c : choices) {
          if (host::EqualsNoCase(c, value)) return std::nullopt;
        }
        return (value.empty() ? what + " needs a value" : shown + " is not a value of " + what) +
               ": one of " + JoinTexts(choices, ", ") + Suggest(value, choices);
      case Kind::kNumber:
      case Kind::kPositive:
      case Kind::kNonNegative: {
        if (!IsPlainNumber(value)) return what + " needs a number, not " + shown;
        const double x = std::strtod(value.c_str(), nullptr);
        if (kind == Kind::kPositive && !(x > 0)) return what + " must be above 0, not " + shown;
        if (kind == Kind::kNonNegative && x < 0) return what + " must not be below 0, not " + shown;
        return std::nullopt;
      }
      case Kind::kWhole:
        if (!IsWhole(value)) return what + " needs a whole number, not " + shown;
        return std::nullopt;
      case Kind::kCutpoints: {
        std::vector<std::string> points = Split(value);
        if (points.size() < 2) return what + " needs at least two cut points, not " + shown;
        double last = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
          if (!IsPlainNumber(points[i])) {
            return what + ": cut point " + std::to_string(i + 1) + " '" + points[i] +
                   "' is not a number";
          }
          const double x = std::strtod(points[i].c_str(), nullptr);
          if (i > 0 && !(x > last)) {
            return what + ": the cut points must ascend, but " + points[i] + " follows " +
                   points[i - 1];
          }
          last = x;
        }
        return std::nullopt;
      }
      case Kind::kDetection:
        if (host::EqualsNoCase(value, "T") || host::EqualsNoCase(value, "F") || IsWhole(value))
          return std::nullopt;
        return shown + " is not a value of " + what +
               ": T (fit the detection function), F, or the ID of the analysis whose "
               "detection function is used";
      case Kind::kObsField:
      case Kind::kDistanceField:
        return CheckObservationField(value, what, kind == Kind::kDistanceField);
      case Kind::kAreaField:
        return CheckUnitField(value, what, true);
      case Kind::kEffortField:
        return CheckUnitField(value, what, false);
      case Kind::kLayerName: {
        std::vector<std::string> names;
        for (const ShapeLayer& l : shape_.layers) {
          if (host::EqualsNoCase(l.name, value)) return std::nullopt;
          names.push_back(l.name);
        }
        return what + ": the project has no layer " + shown + Suggest(value, names);
      }
      case Kind::kStratumType:
      case Kind::kSampleType:
        return CheckLayerType(value, what, kind == Kind::kSampleType);
      case Kind::kCondition:
        try {
          TranslateJetCondition(value);
          return std::nullopt;
        } catch (const host::HostError& e) {
          return what + ": " + e.description();
        }
      case Kind::kAreaUnit:
        if (SquareMetresPerAreaUnit(value)) return std::nullopt;
        return shown + " is not an area unit: one of " + JoinTexts(AreaUnitNames(), ", ") +
               Suggest(value, AreaUnitNames());
      case Kind::kFormula:
        return CheckFormula(value, what);
      case Kind::kColumns:
        for (const std::string& column : Split(value)) {
          if (auto problem = CheckColumn(column, what)) return problem;
        }
        return std::nullopt;
    }
    return std::nullopt;
  }

  static std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> items;
    std::size_t b = 0;
    for (;;) {
      const std::size_t e = list.find(',', b);
      items.push_back(list.substr(b, e == std::string::npos ? std::string::npos : e - b));
      if (e == std::string::npos) return items;
      b = e + 1;
    }
  }

  const ShapeLayer* ObservationLayer() const {
    for (const ShapeLayer& l : shape_.layers) {
      if (l.type == host::kLayerObservation) return &l;
    }
    return nullptr;
  }

  static bool IsCopied(std::int32_t type) {
    return type != host::kFieldID && type != host::kFieldLink && type != host::kFieldShape &&
           type != host::kFieldHidden;
  }

  std::optional<std::string> CheckObservationField(const std::string& value,
                                                   const std::string& what, bool distance) {
    if (host::EqualsNoCase(value, "None") && !distance) return std::nullopt;
    const ShapeLayer* obs = ObservationLayer();
    if (!obs) return std::nullopt;  // the description reader refuses that on its own
    std::vector<std::string> names;
    for (const ShapeField& f : obs->fields) {
      if (host::EqualsNoCase(f.name, value)) {
        if (distance && !MetresPerLengthUnit(f.units)) {
          return what + ": the field '" + f.name + "' of layer '" + obs->name +
                 "' needs a length unit (" + JoinTexts(LengthUnitNames(), ", ") + ")";
        }
        return std::nullopt;
      }
      names.push_back(f.name);
    }
    return what + ": the observation layer '" + obs->name + "' has no field '" + value + "'" +
           Suggest(value, names);
  }

  // Area fields live in the global or a stratum layer, effort fields in a
  // sample layer; the host walks up the layers above the observations to find
  // them.
  std::optional<std::string> CheckUnitField(const std::string& value, const std::string& what,
                                            bool area) {
    if (area && host::EqualsNoCase(value, "None")) return std::nullopt;
    std::vector<std::string> names;
    for (const ShapeLayer& l : shape_.layers) {
      const bool right_layer = area ? l.type == host::kLayerGlobal ||
                                          host::IsStratumLayerType(l.type)
                                    : host::IsSampleLayerType(l.type);
      if (!right_layer) continue;
      for (const ShapeField& f : l.fields) {
        if (!host::EqualsNoCase(f.name, value)) {
          names.push_back(f.name);
          continue;
        }
        const bool unit = area ? SquareMetresPerAreaUnit(f.units).has_value()
                               : MetresPerLengthUnit(f.units).has_value();
        if (unit) return std::nullopt;
        return what + ": the field '" + f.name + "' of layer '" + l.name + "' needs " +
               (area ? "an area unit (" + JoinTexts(AreaUnitNames(), ", ")
                     : "a length unit (" + JoinTexts(LengthUnitNames(), ", ")) +
               ")";
      }
    }
    return what + ": no " + (area ? "global or stratum" : "sample") + " layer has a field '" +
           value + "'" + Suggest(value, names);
  }

  std::optional<std::string> CheckLayerType(const std::string& value, const std::string& what,
                                            bool sample) {
    std::vector<std::string> codes;
    for (const ShapeLayer& l : shape_.layers) {
      if (sample && !host::IsSampleLayerType(l.type)) continue;
      codes.push_back(std::to_string(l.type));
      if (value == codes.back()) return std::nullopt;
    }
    return what + ": the project has no " + (sample ? "sample " : "") + "layer of type '" +
           value + "' (its " + (sample ? "sample " : "") + "layer types: " + JoinTexts(codes, ", ") +
           ")";
  }

  // The columns of the detection data: the engine's own names and every copied
  // field of the observation layer and the layers above it, named as R names
  // them (a later field whose name is taken gets its layer type's name in front).
  const std::set<std::string>& Columns() {
    if (!columns_.empty()) return columns_;
    columns_ = {"distance", "size", "object", "observer", "detected", "distbegin", "distend"};
    RJetStringUtilities strings;
    for (const ShapeLayer& l : shape_.layers) {
      for (const ShapeField& f : l.fields) {
        if (IsCopied(f.type)) columns_.insert(strings.MakeColumnName(f.name, false, false));
      }
    }
    return columns_;
  }

  std::optional<std::string> CheckColumn(const std::string& name, const std::string& what) {
    const std::set<std::string>& columns = Columns();
    if (columns.count(name)) return std::nullopt;
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos && columns.count(name.substr(dot + 1))) return std::nullopt;
    const std::vector<std::string> names(columns.begin(), columns.end());
    return what + ": '" + name + "' is not a column of the detection data (" +
           JoinTexts(names, ", ") + ")" + Suggest(name, names);
  }

  // Names in the formula that are not followed by "(" (functions) must be
  // columns of the detection data.
  std::optional<std::string> CheckFormula(const std::string& formula, const std::string& what) {
    if (formula.find_first_not_of(" \t\r\n") == std::string::npos) {
      return what + " needs a formula (1 for none)";
    }
    const std::string& f = formula;
    for (std::size_t i = 0; i < f.size();) {
      const unsigned char c = static_cast<unsigned char>(f[i]);
      if (std::isdigit(c)) {
        while (i < f.size() && (std::isalnum(static_cast<unsigned char>(f[i])) || f[i] == '.'))
          ++i;
        continue;
      }
      if (std::isalpha(c) || c == '.' || c == '`') {
        std::size_t b = i;
        std::string name;
        if (c == '`') {
          const std::size_t e = f.find('`', i + 1);
          if (e == std::string::npos) return what + ": unclosed '`' in '" + formula + "'";
          name = f.substr(i + 1, e - i - 1);
          i = e + 1;
        } else {
          while (i < f.size() &&
                 (std::isalnum(static_cast<unsigned char>(f[i])) || f[i] == '.' || f[i] == '_'))
            ++i;
          name = f.substr(b, i - b);
        }
        std::size_t j = i;
        while (j < f.size() && (f[j] == ' ' || f[j] == '\t')) ++j;
        if (j < f.size() && f[j] == '(') continue;  // a function
        if (auto problem = CheckColumn(name, what)) return problem;
        continue;
      }
      ++i;
    }
    return std::nullopt;
  }

  DefinitionSyntaxError Fault(std::size_t at, const std::string& problem) const {
    return DefinitionSyntaxError::At(text_, at, problem);
  }

  DefinitionKind kind_;
  const std::string& text_;
  const ProjectShape& shape_;
  std::set<std::string> columns_;
};

}  // namespace

std::string DefinitionKindName(DefinitionKind kind) {
  switch (kind) {
    case DefinitionKind::kSurvey:
      return "survey";
    case DefinitionKind::kDataFilter:
      return "data filter";
    case DefinitionKind::kModelDefinition:
      break;
  }
  return "model definition";
}

std::optional<DefinitionSyntaxError> CheckDefinitionRules(DefinitionKind kind,
                                                          const std::string& definition,
                                                          const ProjectShape& shape) {
  return Checker(kind, definition, shape).Run();
}

}  // namespace pramble::sqlhost
