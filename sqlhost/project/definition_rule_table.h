// The table of what each kind of definition may say (definition_rules.h
// checks definitions against it; docs/definitions.md shows it to people).
#pragma once

#include <string>
#include <vector>

#include "sqlhost/project/definition_rules.h"

namespace pramble::sqlhost::rules {

// What a command's value or an option's value must be.
enum class Kind {
  kNone,           // the command takes no value
  kText,           // anything (R text the engine passes on)
  kChoice,         // one of `choices`, compared without regard to case
  kNumber,         // a plain decimal number, as R reads it
  kPositive,       // a number above zero
  kNonNegative,    // a number not below zero
  kCutpoints,      // numbers separated by ",", ascending
  kWhole,          // a whole number
  kDetection,      // T, F, or the ID of the analysis whose detection function is used
  kObsField,       // a field of the observation layer, or None
  kDistanceField,  // the same, with a length unit
  kAreaField,      // a field of a stratum or the global layer with an area unit, or None
  kEffortField,    // a field of a sample layer with a length unit
  kLayerName,      // a layer of the project
  kStratumType,    // the type code of a layer of the project
  kSampleType,     // the type code of a sample layer of the project
  kCondition,      // a Jet SQL condition
  kAreaUnit,       // an area unit of the unit table
  kFormula,        // the right side of an R formula over the detection data's columns
  kColumns,        // detection data columns separated by ","
};

struct OptionRule {
  const char* name;
  Kind kind;
  std::vector<std::string> choices = {};
};

struct CommandRule {
  const char* name;
  Kind value;
  std::vector<std::string> choices;
  std::vector<OptionRule> options;
  bool value_required = true;
};

// The commands of `kind` with their values and options.
const std::vector<CommandRule>& Rules(DefinitionKind kind);

}  // namespace pramble::sqlhost::rules
