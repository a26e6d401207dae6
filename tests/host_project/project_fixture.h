// Shared pieces of the project tests: real projects in temporary folders,
// made by the host's own create code.
#pragma once

#include <gtest/gtest.h>

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

// A survey with every kind of layer below the global one (the area and
// effort lookups walk them):
//   Global (1) > Region (10) > Block (11) > Line (20) > Segment (21) > Obs (30)
inline nlohmann::json LayeredDescription() {
  return nlohmann::json::parse(pramble::testing::ReadFile(
      std::string(PRAMBLE_SOURCE_DIR) + "/tests/data/host_project/layered.json"));
}

// The rows of one kind in tests/data/host_project/temp_queries.tsv: input,
// second, third, expected.
inline std::vector<std::vector<std::string>> Cases(const std::string& kind) {
  std::vector<std::vector<std::string>> out;
  for (auto row : pramble::testing::ReadTable("host_project/temp_queries.tsv")) {
    row.resize(5);
    if (row[0] == kind) out.emplace_back(row.begin() + 1, row.end());
  }
  EXPECT_FALSE(out.empty()) << kind;
  return out;
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

  // The single value of a one-row, one-column query on the data database.
  host::Value Scalar(const std::string& jet_sql) {
    auto rs = project().DataDatabase().OpenRecordset(jet_sql, host::dao::kOpenSnapshot);
    EXPECT_FALSE(rs->Eof()) << jet_sql;
    return rs->Eof() ? host::Value{} : rs->Fields(0).GetValue();
  }

  pramble::testing::TempDir temp_;
  std::shared_ptr<Project> project_;
};

}  // namespace pramble::sqlhost::test
