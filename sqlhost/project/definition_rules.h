// What a definition may say: the commands and options that the engine or the
// host reads for each kind of definition, and the values each one takes.
// Definitions are checked against these rules when they enter a project, so
// that a misspelt name or value is refused with its place instead of being
// read as another model. docs/definitions.md lists the same rules for people.
//
// The check refuses nothing that the engine would run correctly; what the
// engine refuses at run time on its own (post-stratification, right
// truncation by percentage, automatic intervals, ...) passes here and is
// refused there with the engine's messages.
//
//   ProjectShape shape = ...;  // the project's layers and fields
//   if (auto fault = CheckDefinitionRules(DefinitionKind::kModelDefinition, text, shape))
//     Refuse("model definition 3 'io', " + fault->ToString());
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/project/definition_reader.h"

namespace pramble::sqlhost {

enum class DefinitionKind { kSurvey, kDataFilter, kModelDefinition };

// "survey", "data filter", "model definition".
std::string DefinitionKindName(DefinitionKind kind);

// The layers of a project as the rules need them: names, layer type codes,
// field names with their host field types and units. Parents come before
// their children; the observation layer (type 30) is the one the engine
// reads observations from.
struct ShapeField {
  std::string name;
  std::int32_t type = 0;
  std::string units;
};
struct ShapeLayer {
  std::string name;
  std::int32_t type = 0;
  std::vector<ShapeField> fields;
};
struct ProjectShape {
  std::vector<ShapeLayer> layers;
};

// The first way `definition` (already well formed) breaks the rules of its
// kind, at the offending name or value; nullopt when it keeps them.
std::optional<DefinitionSyntaxError> CheckDefinitionRules(DefinitionKind kind,
                                                          const std::string& definition,
                                                          const ProjectShape& shape);

}  // namespace pramble::sqlhost
