// Checks of a project description's JSON, shared by the description reader:
// paths for messages, the type a value has, members that must or may be
// there, and texts, whole numbers, IDs and names read with their checks.
//
// A check that fails throws Problem, which names the JSON path (or a place
// of its own, "x.csv:4") and says what is wrong; CreateProject turns it into
// a DescriptionError that starts with the description's file name.
//
//   const json& name = RequiredMember(layer, "layers[0]", "name");
//   CheckName(ReadText(name, "layers[0].name"), "layers[0].name", true);
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace pramble::sqlhost::description {

using json = nlohmann::json;

// A problem found in the description. `where` is a JSON path, which is
// shown after the description's file name, or a place of its own ("x.csv:4").
struct Problem {
  std::string where;
  std::string what;
  bool json_path = true;
};

// Throws the Problem `what` at JSON path `path`.
[[noreturn]] void FailAtPath(const std::string& path, const std::string& what);
// Throws the Problem `what` at a place that is no JSON path ("x.csv:4").
[[noreturn]] void FailAtPlace(const std::string& place, const std::string& what);

// The path of member `key` of the value at `path` ("layers[0]" "name" ->
// "layers[0].name"; "" "layers" -> "layers").
std::string MemberPath(const std::string& path, const std::string& key);
// The path of element `i` of the array at `path` ("layers" 2 -> "layers[2]").
std::string ElementPath(const std::string& path, std::size_t i);

// What a value is, as messages say it: "null", "true or false", "a text",
// "an array", "an object" or "a number".
std::string JsonTypeName(const json& j);

// `items` joined by `separator`.
std::string JoinTexts(const std::vector<std::string>& items, const std::string& separator);

// Fails at the first member of `obj` not among `allowed`; `what` names the
// kind of object for the message ("a layer").
void RefuseUnknownMembers(const json& obj, const std::string& path,
                          const std::vector<std::string>& allowed, const std::string& what);
// Member `key` of `obj` (at `path`); fails when it is missing.
const json& RequiredMember(const json& obj, const std::string& path, const std::string& key);
// Member `key` of `obj`, or null when it is missing.
const json* OptionalMember(const json& obj, const std::string& key);

// Fail unless `j` is an object / an array.
void ExpectObject(const json& j, const std::string& path);
void ExpectArray(const json& j, const std::string& path);

// The text `j`; fails for anything else.
std::string ReadText(const json& j, const std::string& path);
// A JSON number that is a whole number (1 and 1.0 alike); nullopt otherwise.
std::optional<std::int64_t> WholeNumber(const json& j);
// The whole number `j`; fails for anything else.
std::int64_t ReadWholeNumber(const json& j, const std::string& path);
// The whole number `j` within the range of a 32-bit ID.
std::int32_t ReadId(const json& j, const std::string& path);

// Names of people's things: not empty, no blanks at either end, no control
// characters (they would break the tab-separated output of `status`). Names
// that go into SQL (`sql_name`: layers, fields) must not hold '[' or ']' either.
void CheckName(const std::string& name, const std::string& path, bool sql_name);

}  // namespace pramble::sqlhost::description
