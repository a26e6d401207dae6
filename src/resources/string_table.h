// The component's string resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pramble {

inline constexpr std::int32_t kResProjectDatabaseNotSet = 7950;
inline constexpr std::int32_t kResCannotFindItem = 7951;
inline constexpr std::int32_t kResSurveyDefinition = 7970;
inline constexpr std::int32_t kResDataFilterDefinition = 7971;
inline constexpr std::int32_t kResModelDefinition = 7972;

// The resource text for `id`, or nullopt when the table has none.
std::optional<std::string> LoadResString(std::int32_t id);

}  // namespace pramble
