#include "sqlhost/project/description_json.h"

#include <cmath>

namespace pramble::sqlhost::description {

void FailAtPath(const std::string& path, const std::string& what) {
  throw Problem{path, what, true};
}
void FailAtPlace(const std::string& place, const std::string& what) {
  throw Problem{place, what, false};
}

std::string MemberPath(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}
std::string ElementPath(const std::string& path, std::size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

std::string JsonTypeName(const json& j) {
  switch (j.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "true or false";
    case json::value_t::string:
      return "a text";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "a number";
  }
}

std::string JoinTexts(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
  return out;
}

void RefuseUnknownMembers(const json& obj, const std::string& path,
                          const std::vector<std::string>& allowed, const std::string& what) {
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool known = false;
    for (const auto& a : allowed) known = known || it.key() == a;
    if (!known) {
      FailAtPath(MemberPath(path, it.key()),
                 "unknown member (" + what + " has " + JoinTexts(allowed, ", ") + ")");
    }
  }
}

const json& RequiredMember(const json& obj, const std::string& path, const std::string& key) {
  auto it = obj.find(key);
  if (it == obj.end()) FailAtPath(path, "the member '" + key + "' is missing");
  return *it;
}

const json* OptionalMember(const json& obj, const std::string& key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

void ExpectObject(const json& j, const std::string& path) {
  if (!j.is_object()) FailAtPath(path, "must be an object, not " + JsonTypeName(j));
}
void ExpectArray(const json& j, const std::string& path) {
  if (!j.is_array()) FailAtPath(path, "must be an array, not " + JsonTypeName(j));
}

std::string ReadText(const json& j, const std::string& path) {
  if (!j.is_string()) FailAtPath(path, "must be a text, not " + JsonTypeName(j));
  return j.get<std::string>();
}

std::optional<std::int64_t> WholeNumber(const json& j) {
  if (j.is_number_integer()) {
    if (j.is_number_unsigned() && j.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
      return std::nullopt;
    return j.get<std::int64_t>();
  }
  if (j.is_number_float()) {
    const double d = j.get<double>();
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) <= 9007199254740992.0)
      return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

std::int64_t ReadWholeNumber(const json& j, const std::string& path) {
  auto v = WholeNumber(j);
  if (!v)
    FailAtPath(path, "must be a whole number, not " + (j.is_number() ? j.dump() : JsonTypeName(j)));
  return *v;
}

std::int32_t ReadId(const json& j, const std::string& path) {
  const std::int64_t v = ReadWholeNumber(j, path);
  if (v < INT32_MIN || v > INT32_MAX) {
    FailAtPath(path, "must lie between " + std::to_string(INT32_MIN) + " and " +
                         std::to_string(INT32_MAX) + ", not " + std::to_string(v));
  }
  return static_cast<std::int32_t>(v);
}

void CheckName(const std::string& name, const std::string& path, bool sql_name) {
  if (name.empty()) FailAtPath(path, "must not be empty");
  if (name.front() == ' ' || name.back() == ' ') {
    FailAtPath(path, "'" + name + "' must not start or end with a blank");
  }
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) FailAtPath(path, "'" + name + "' holds a control character");
    if (sql_name && (c == '[' || c == ']')) {
      FailAtPath(path, "'" + name + "' holds '" + std::string(1, c) +
                           "'; layer and field names must not hold '[' or ']'");
    }
  }
}

}  // namespace pramble::sqlhost::description
