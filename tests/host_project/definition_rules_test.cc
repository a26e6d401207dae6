// Definitions as they enter a project: each row of tests/data/definitions/
// rules.tsv puts one definition into the example description and creates the
// project in-process; a refused definition names its place and leaves nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sqlhost/project/description.h"

namespace pramble::sqlhost {
namespace {

namespace fs = std::filesystem;

struct RuleCase {
  std::string kind, definition, message;
};

std::vector<RuleCase> ReadCases() {
  std::ifstream in(std::string(PRAMBLE_SOURCE_DIR) + "/tests/data/definitions/rules.tsv");
  std::vector<RuleCase> cases;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    RuleCase c;
    std::getline(fields, c.kind, '\t');
    std::getline(fields, c.definition, '\t');
    std::getline(fields, c.message);
    cases.push_back(c);
  }
  return cases;
}

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.kind << ": " << c.definition; }

class DefinitionRulesTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(DefinitionRulesTest, RefusedWithPlaceOrAccepted) {
  const RuleCase& c = GetParam();
  const std::string examples = PRAMBLE_EXAMPLES_DIR "/double-observer";
  nlohmann::json description = nlohmann::json::parse(std::ifstream(examples + "/project.json"));
  const std::string section = c.kind == "survey"        ? "surveys"
                              : c.kind == "data filter" ? "data_filters"
                                                        : "model_definitions";
  description[section][0]["definition"] = c.definition;
  const fs::path dir =
      fs::path(::testing::TempDir()) / ("rules-project-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  std::string message = "ok";
  try {
    CreateProjectFromJson(dir.string(), description, examples);
  } catch (const DescriptionError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, c.message) << c.definition;
  EXPECT_EQ(fs::exists(dir), c.message == "ok");
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Rows, DefinitionRulesTest, ::testing::ValuesIn(ReadCases()));

}  // namespace
}  // namespace pramble::sqlhost
