// The temporary queries of an item on a real project: their names, the
// per-layer queries with the data filter's selections, saving and deleting,
// and where the area and effort of a survey come from. The input->expected
// rows are tests/data/host_project/temp_queries.tsv.
#include "sqlhost/project/temp_queries.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "host_project/project_fixture.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/schema.h"
#include "sqlhost/util/text_log.h"

namespace pramble::sqlhost::test {
namespace {

// What a lookup gave: its answer when it succeeded and logged nothing, else
// "error: " and the log (which must be a level-2 message).
std::string Outcome(bool ok, const std::string& answer, const TextLog& log) {
  if (ok && log.Contents().empty()) return answer;
  if (log.Severity() != 2) return "severity " + std::to_string(log.Severity());
  std::string text = log.Contents();
  text = text.substr(text.rfind("Error: ", 0) == 0 ? 7 : 0);
  return "error: " + text.substr(0, text.find_last_not_of('\n') + 1);
}

class TempQueriesTest : public ProjectTest {
 protected:
  std::vector<std::string> QueriesOf(std::int32_t id) {
    std::vector<std::string> names;
    for (const auto& n : project().DataDatabase().QueryDefNames())
      if (n.rfind(TempQueryPrefix(id), 0) == 0) names.push_back(n);
    std::sort(names.begin(), names.end());
    return names;
  }
  std::int64_t Count(const std::string& source) {
    return host::ToLong(Scalar("SELECT COUNT(*) FROM " + source));
  }

  TextDefinitionReader reader_;
  SqliteTempQueries queries_{reader_};
  TextLog log_;
};

TEST_F(TempQueriesTest, NamesReservedNamesLayerTypesAndAreaUnits) {
  for (const auto& c : Cases("name"))
    EXPECT_EQ(queries_.GetTempQueryName(c[0], std::stoi(c[1])), c[3]) << c[0];
  for (const auto& c : Cases("reserved"))
    EXPECT_EQ(IsReservedLayerName(c[0]) ? "yes" : "no", c[3]) << c[0];
  for (const auto& c : Cases("layer type"))
    EXPECT_EQ(queries_.GetLayerTypeName(std::stoi(c[0])), c[3]);
  for (const auto& c : Cases("area filter")) {
    std::string out = "x";
    EXPECT_TRUE(queries_.GetAreaFilterText(out, c[0], log_));
    EXPECT_EQ(out, c[3]) << c[0];
  }
  // No two names meet, even compared without regard to case as SQLite does.
  const char* names[] = {"_Obs",  "_Smp",    "_Str",  "_Data",  "_Ddf", "Obs",  "obs_", "Obs 1",
                         "Obs_1", "Obs_201", "L_Obs", "_L_Obs", "S_x",  "_S_x", "Ré",   "Rè"};
  std::set<std::string> seen;
  for (std::int32_t id : {1, 12, -1}) {
    for (const char* n : names) {
      std::string name = queries_.GetTempQueryName(n, id);
      EXPECT_TRUE(IsReservedLayerName(name));
      EXPECT_FALSE(IsReservedLayerName(n)) << n;
      EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
      })) << name;
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      EXPECT_TRUE(seen.insert(name).second) << n << " of item " << id << " meets another name";
    }
  }
}

// The area field walks up from the start layer (and converts to the data
// filter's units); the effort field walks up the sample layers.
TEST_F(TempQueriesTest, AreaAndEffortSources) {
  CreateFrom(LayeredDescription());
  for (const auto& c : Cases("area")) {
    TextLog log;
    std::string field, layer, units;
    double factor = -1;
    const bool ok = queries_.GetAreaSource(field, layer, factor, units, project(), c[0], c[1],
                                           c[2], 1, 10, log);
    std::ostringstream answer;
    answer << field << "|" << layer << "|" << factor << "|" << units;
    EXPECT_EQ(Outcome(ok, answer.str(), log), c[3]) << c[0] << " " << c[1] << " " << c[2];
  }
  for (const auto& c : Cases("effort")) {
    TextLog log;
    std::string field, layer, units;
    const bool ok =
        queries_.GetEffortSource(field, layer, units, project(), c[0], c[1], 20, 1, 10, log);
    EXPECT_EQ(Outcome(ok, field + "|" + layer + "|" + units, log), c[3]) << c[0] << " " << c[1];
  }
}

TEST_F(TempQueriesTest, LayerQueriesKeepEveryRowOrTheSelectedOnes) {
  CreateFromExample();
  std::string name;
  EXPECT_TRUE(queries_.GetObsLayerName(name, "Type Line;", project().Layers(), log_));
  EXPECT_EQ(name, "Observation");
  ASSERT_TRUE(queries_.MakeLayerQueries(project(), 1, "Observation", "Distance /Width=50;", log_));
  EXPECT_EQ(QueriesOf(1), (std::vector<std::string>{"tq1_L_Line_20transect", "tq1_L_Observation",
                                                    "tq1_L_Region", "tq1_L_Study_20area"}));
  EXPECT_EQ(Count("tq1_L_Observation"), 304);
  EXPECT_EQ(Count("[tq1_L_Line_20transect]"), 12);
  EXPECT_EQ(project().DataDatabase().QueryDefSql("tq1_L_Line_20transect"),
            "SELECT * FROM [Line transect]");
  EXPECT_TRUE(queries_.MakeLayerQueries(project(), 1, "Observation", "", log_));  // made again
  EXPECT_EQ(QueriesOf(1).size(), 4u);
  EXPECT_EQ(log_.Contents(), "");

  const std::string filter =
      "Distance /Width=50; Select /Layer=Observation /Criteria=\"[distance] < 10\";\n"
      "select /layer=OBSERVATION /criteria=\"[size] = 1\"; Select /Layer=\"Line transect\" "
      "/Criteria=\"[Label] <> \"\"T1\"\"\";";
  ASSERT_TRUE(queries_.MakeLayerQueries(project(), 4, "Observation", filter, log_))
      << log_.Contents();
  EXPECT_EQ(project().DataDatabase().QueryDefSql("tq4_L_Observation"),
            "SELECT * FROM [Observation] WHERE ([distance] < 10) AND ([size] = 1)");
  EXPECT_EQ(Count("tq4_L_Observation"), 60);
  EXPECT_EQ(Count("[Observation] WHERE [distance] < 10 AND [size] = 1"), 60);
  EXPECT_EQ(Count("tq4_L_Line_20transect"), 11);
  EXPECT_EQ(Count("tq4_L_Region"), 2);
}

TEST_F(TempQueriesTest, BadSelectionsAreRefusedWithTheFilterAndCriterion) {
  CreateFromExample();
  for (const auto& c : Cases("bad select")) {
    TextLog log;
    EXPECT_FALSE(queries_.MakeLayerQueries(project(), 1, "Observation", c[0], log));
    EXPECT_EQ(log.Severity(), 2);
    EXPECT_TRUE(pramble::testing::Has(log.Contents(), c[3])) << c[3] << "\n" << log.Contents();
    queries_.DeleteTempQueries(1, project().DataDatabase());
  }
  EXPECT_EQ(Count("[Region]"), 2);
}

TEST_F(TempQueriesTest, TempQueriesAreSavedReplacedAndDeleted) {
  CreateFromExample();
  auto& data = project().DataDatabase();
  ASSERT_TRUE(queries_.MakeLayerQueries(project(), 1, "Observation", "", log_));
  ASSERT_TRUE(queries_.MakeLayerQueries(project(), 2, "Observation", "", log_));
  ASSERT_TRUE(queries_.MakeTempQuery("_Obs", "SELECT [ID], [distance] FROM tq1_L_Observation", 1,
                                     data, log_, false));
  ASSERT_TRUE(queries_.MakeTempQuery("_Data", "SELECT * FROM tq1_Obs WHERE [distance] < 10", 1,
                                     data, log_, true));
  ASSERT_TRUE(queries_.MakeTempQuery("_Obs", "SELECT [ID] FROM tq1_L_Observation", 1, data, log_,
                                     false));  // replaces the first
  EXPECT_EQ(data.QueryDefSql("tq1_Obs"), "SELECT [ID] FROM tq1_L_Observation");
  EXPECT_EQ(log_.Contents(), "");
  EXPECT_FALSE(queries_.MakeTempQuery("_Bad", "SELECT [nosuch] FROM tq1_L_Observation", 1, data,
                                      log_, false));
  EXPECT_EQ(log_.Severity(), 2);
  for (const char* part : {"Could not save the temporary query 'tq1_Bad': ", "no such column",
                           "SELECT [nosuch] FROM tq1_L_Observation"})
    EXPECT_TRUE(pramble::testing::Has(log_.Contents(), part)) << log_.Contents();
  EXPECT_EQ(QueriesOf(1).size(), 6u);
  EXPECT_TRUE(queries_.DeleteTempQueries(1, data));
  EXPECT_TRUE(QueriesOf(1).empty());
  EXPECT_EQ(QueriesOf(2).size(), 4u);                // other items keep theirs
  EXPECT_TRUE(queries_.DeleteTempQueries(1, data));  // nothing left is no failure
  EXPECT_EQ(Count("[Observation]"), 304);
}

}  // namespace
}  // namespace pramble::sqlhost::test
