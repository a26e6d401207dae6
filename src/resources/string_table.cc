#include "resources/string_table.h"

namespace pramble {

std::optional<std::string> LoadResString(std::int32_t id) {
  switch (id) {
    case kResProjectDatabaseNotSet:
      return "Cannot use method as ProjectDatabase property is not set.";
    case kResCannotFindItem:
      return "Cannot find item <ID>.";
    case kResSurveyDefinition:
      return "Encountered problems trying to retrieve the survey definition for this analysis.";
    case kResDataFilterDefinition:
      return "Encountered problems trying to retrieve the data filter definition for this analysis.";
    case kResModelDefinition:
      return "Encountered problems trying to retrieve the model definition's definition for this analysis.";
    default:
      return std::nullopt;
  }
}

}  // namespace pramble
