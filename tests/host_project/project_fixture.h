// Shared pieces of the project tests: real projects in temporary folders,
// made by the host's own create code.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "sqlhost/project/description.h"
#include "sqlhost/project/project.h"
#include "support/test_project.h"

namespace pramble::sqlhost::test {

inline std::string ExampleFile() {
  return std::string(PRAMBLE_EXAMPLES_DIR) + "/double-observer/project.json";
}

// A survey with every kind of layer below the global one, for the area and
// effort lookups:
//   Global (1) > Region (10) > Block (11) > Line (20) > Segment (21) > Obs (30)
inline nlohmann::json LayeredDescription(const std::string& survey_definition) {
  using nlohmann::json;
  auto f = [](const char* name, const char* kind, const char* units = nullptr) {
    json j = {{"name", name}, {"kind", kind}};
    if (units) j["units"] = units;
    return j;
  };
  json d;
  d["layers"] = json::array({
      {{"name", "Global"},
       {"type", 1},
       {"fields", {f("ID", "id"), f("Total", "decimal", "Square kilometer")}},
       {"rows", {{1, 100.0}}}},
      {{"name", "Region"},
       {"type", 10},
       {"parent", "Global"},
       {"fields",
        {f("ID", "id"), f("PID", "link"), f("Name", "label"),
         f("RegArea", "decimal", "Square kilometer"), f("Perimeter", "decimal", "Kilometer"),
         f("Bare", "decimal")}},
       {"rows", {{1, 1, "North", 60.0, 30.0, 1.0}, {2, 1, "South", 40.0, 25.0, 2.0}}}},
      {{"name", "Block"},
       {"type", 11},
       {"parent", "Region"},
       {"fields", {f("ID", "id"), f("PID", "link"), f("SubArea", "decimal", "Hectare")}},
       {"rows", {{1, 1, 3000.0}, {2, 1, 3000.0}, {3, 2, 4000.0}}}},
      {{"name", "Line"},
       {"type", 20},
       {"parent", "Block"},
       {"fields",
        {f("ID", "id"), f("PID", "link"), f("Length", "decimal", "Kilometer"),
         f("Plain", "integer"), f("Cover", "decimal", "Hectare")}},
       {"rows", {{1, 1, 2.0, 1, 1.0}, {2, 2, 3.0, 1, 1.0}, {3, 3, 4.0, 1, 1.0}}}},
      {{"name", "Segment"},
       {"type", 21},
       {"parent", "Line"},
       {"fields", {f("ID", "id"), f("PID", "link"), f("Seg", "decimal", "Meter")}},
       {"rows", {{1, 1, 500.0}, {2, 1, 1500.0}, {3, 2, 3000.0}, {4, 3, 4000.0}}}},
      {{"name", "Obs"},
       {"type", 30},
       {"parent", "Segment"},
       {"fields", {f("ID", "id"), f("PID", "link"), f("distance", "decimal", "Meter")}},
       {"rows", {{1, 1, 5.0}, {2, 2, 15.0}, {3, 4, 25.0}}}},
  });
  d["surveys"] = json::array({{{"id", 1}, {"name", "s"}, {"definition", survey_definition}}});
  d["data_filters"] = json::array({{{"id", 1}, {"name", "f"}, {"definition", ""}}});
  d["model_definitions"] = json::array({{{"id", 1}, {"name", "m"}, {"definition", ""}}});
  d["analyses"] = json::array(
      {{{"id", 1}, {"name", "a"}, {"survey", 1}, {"data_filter", 1}, {"model_definition", 1}}});
  return d;
}

// A project created in a fresh temporary folder and opened.
class ProjectTest : public ::testing::Test {
 protected:
  void CreateFromExample() {
    CreateProject(dir(), ExampleFile());
    project_ = Project::Open(dir());
  }
  void CreateFrom(const nlohmann::json& description) {
    CreateProjectFromJson(dir(), description, temp_.path());
    project_ = Project::Open(dir());
  }
  std::string dir() const { return temp_.path() + "/project"; }
  Project& project() { return *project_; }

  // The single value of a one-row, one-column query on `db`.
  static host::Value Scalar(host::dao::Database& db, const std::string& jet_sql) {
    auto rs = db.OpenRecordset(jet_sql, host::dao::kOpenSnapshot);
    EXPECT_FALSE(rs->Eof()) << jet_sql;
    if (rs->Eof()) return host::Value{};
    return rs->Fields(0).GetValue();
  }

  pramble::testing::TempDir temp_;
  std::shared_ptr<Project> project_;
};

}  // namespace pramble::sqlhost::test
