// The temporary queries of an item on a real project: their names, the
// per-layer queries with the data filter's selections, saving and deleting,
// and where the area and effort of a survey come from.
#include "sqlhost/project/temp_queries.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "pramble/host/errors.h"
#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/schema.h"
#include "sqlhost/util/text_log.h"
#include "host_project/project_fixture.h"

namespace pramble::sqlhost::test {
namespace {

class TempQueriesTest : public ProjectTest {
 protected:
  std::vector<std::string> QueriesOf(std::int32_t id) {
    std::vector<std::string> names;
    for (const auto& n : project().DataDatabase().QueryDefNames()) {
      if (n.rfind(TempQueryPrefix(id), 0) == 0) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::int64_t Count(const std::string& source) {
    return host::ToLong(Scalar(project().DataDatabase(), "SELECT COUNT(*) FROM " + source));
  }
  // The log after a lookup: empty when it succeeded, else a level-2 message
  // that holds `message`.
  void ExpectLogged(bool ok, const char* message) {
    if (ok) {
      EXPECT_EQ(log_.Contents(), "");
      return;
    }
    EXPECT_EQ(log_.Severity(), 2);
    EXPECT_NE(log_.Contents().find(message), std::string::npos) << log_.Contents();
  }

  TextDefinitionReader reader_;
  SqliteTempQueries queries_{reader_};
  TextLog log_;
};

TEST(TempQueryNameTest, NamesArePlainIdentifiersDistinctPerItem) {
  TextDefinitionReader reader;
  SqliteTempQueries queries(reader);
  const struct {
    const char* what;
    std::int32_t id;
    const char* name;
  } cases[] = {{"_Obs", 12, "tq12_Obs"},
               {"_SmpEffort1", 1, "tq1_SmpEffort1"},
               {"Observation", 1, "tq1_L_Observation"},
               {"Line transect", 1, "tq1_L_Line_20transect"},
               {"Obs_1", 1, "tq1_L_Obs_5F1"},
               {"Ré", 3, "tq3_L_R_C3_A9"},
               {"_x y", 3, "tq3_S__5Fx_20y"},
               {"_", 3, "tq3_L__5F"},
               {"_Data", -5, "tqn5_Data"}};
  for (const auto& c : cases) EXPECT_EQ(queries.GetTempQueryName(c.what, c.id), c.name);

  // No two of these meet, even compared without regard to case as SQLite does.
  const char* names[] = {"_Obs",  "_Smp",    "_Str",  "_Data",  "_Ddf", "Obs",  "obs_", "Obs 1",
                         "Obs_1", "Obs_201", "L_Obs", "_L_Obs", "S_x",  "_S_x", "Ré",   "Rè"};
  std::set<std::string> seen;
  for (std::int32_t id : {1, 12, -1}) {
    for (const char* n : names) {
      std::string name = queries.GetTempQueryName(n, id);
      EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
      })) << name;
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      EXPECT_TRUE(seen.insert(name).second) << n << " of item " << id << " meets another name";
      EXPECT_FALSE(IsReservedLayerName(n)) << n;
      EXPECT_TRUE(IsReservedLayerName(queries.GetTempQueryName(n, id)));
    }
  }
}

TEST(TempQueryNameTest, ReservedLayerNames) {
  const std::pair<const char*, bool> cases[] = {{"tq1_x", true},
                                                {"TQ12_", true},
                                                {"tqn3_Obs", true},
                                                {"sqlite_stat1", true},
                                                {"pramble_querydefs", true},
                                                {"tq_x", false},
                                                {"tqx1_", false},
                                                {"tq12", false},
                                                {"Region", false},
                                                {"tq 1_x", false}};
  for (const auto& [name, reserved] : cases) EXPECT_EQ(IsReservedLayerName(name), reserved) << name;
}

TEST(LayerTypeNameTest, EveryTypeHasAPlainName) {
  TextDefinitionReader reader;
  SqliteTempQueries queries(reader);
  const std::pair<std::int32_t, const char*> cases[] = {
      {1, "Global"},  {10, "Stratum"},    {11, "Substratum1"}, {15, "Substratum5"},
      {20, "Sample"}, {21, "Subsample1"}, {25, "Subsample5"},  {30, "Observation"},
      {0, "0"},       {16, "16"},         {-2, "-2"}};
  for (const auto& [type, name] : cases) EXPECT_EQ(queries.GetLayerTypeName(type), name);
}

TEST_F(TempQueriesTest, ObservationLayerIsTheLayerOfType30) {
  CreateFromExample();
  std::string name;
  EXPECT_TRUE(queries_.GetObsLayerName(name, "Type Line;", project().Layers(), log_));
  EXPECT_EQ(name, "Observation");
}

TEST_F(TempQueriesTest, LayerQueriesWithoutSelectionKeepEveryRow) {
  CreateFromExample();
  ASSERT_TRUE(queries_.MakeLayerQueries(project(), 1, "Observation", "Distance /Width=50;", log_));
  EXPECT_EQ(QueriesOf(1), (std::vector<std::string>{"tq1_L_Line_20transect", "tq1_L_Observation",
                                                    "tq1_L_Region", "tq1_L_Study_20area"}));
  EXPECT_EQ(Count(queries_.GetTempQueryName("Observation", 1)), 304);
  EXPECT_EQ(Count("[" + queries_.GetTempQueryName("Line transect", 1) + "]"), 12);
  EXPECT_EQ(project().DataDatabase().QueryDefSql("tq1_L_Line_20transect"),
            "SELECT * FROM [Line transect]");
  EXPECT_EQ(log_.Contents(), "");
  // Made again: the leftovers go first.
  EXPECT_TRUE(queries_.MakeLayerQueries(project(), 1, "Observation", "", log_));
  EXPECT_EQ(QueriesOf(1).size(), 4u);
}

TEST_F(TempQueriesTest, SelectCriteriaFilterTheirLayer) {
  CreateFromExample();
  const std::string filter =
      "Distance /Width=50; Select /Layer=Observation /Criteria=\"[distance] < 10\";\n"
      "select /layer=OBSERVATION /criteria=\"[size] = 1\"; Select /Layer=\"Line transect\" "
      "/Criteria=\"[Label] <> \"\"T1\"\"\";";
  ASSERT_TRUE(queries_.MakeLayerQueries(project(), 4, "Observation", filter, log_))
      << log_.Contents();
  EXPECT_EQ(project().DataDatabase().QueryDefSql("tq4_L_Observation"),
            "SELECT * FROM [Observation] WHERE ([distance] < 10) AND ([size] = 1)");
  EXPECT_EQ(Count("tq4_L_Observation"),
            Count("[Observation] WHERE [distance] < 10 AND [size] = 1"));
  EXPECT_EQ(Count("tq4_L_Observation"), 60);
  EXPECT_EQ(Count("tq4_L_Line_20transect"), 11);
  EXPECT_EQ(Count("tq4_L_Region"), 2);
}

TEST_F(TempQueriesTest, BadSelectionsAreRefusedWithTheFilterAndCriterion) {
  CreateFromExample();
  const std::string filter = "The data filter 'Truncate at 50 m' (ID 1) ";
  const struct {
    const char* definition;
    const char* message;
  } cases[] = {
      {"Select /Layer=Observation /Criteria=\"1=1; DROP TABLE [Region]\";",
       "has a Select criterion for layer 'Observation' that is not one condition: 1=1; DROP "
       "TABLE [Region] (Jet SQL error"},
      {"Select /Layer=Observation /Criteria=\"[size] = 1) OR (1=1\";",
       "has a Select criterion for layer 'Observation' that is not one condition: [size] = 1) "
       "OR (1=1 (Jet SQL error"},
      {"Select /Layer=Nowhere /Criteria=\"[x] = 1\";",
       "selects on layer 'Nowhere', which this survey does not have (criterion: [x] = 1)."},
      {"Select /Layer=Observation /Criteria=\"[nosuch] = 1\";",
       "has a Select criterion for layer 'Observation' that cannot be used: [nosuch] = 1 ("},
      {"Select /Criteria=\"[size] = 1\";",
       "has a Select command without /Layer=NAME (criterion: [size] = 1)."},
      {"Select /Layer=Observation;",
       "has a Select command for layer 'Observation' without /Criteria=TEXT."},
  };
  for (const auto& c : cases) {
    TextLog log;
    EXPECT_FALSE(queries_.MakeLayerQueries(project(), 1, "Observation", c.definition, log));
    EXPECT_EQ(log.Severity(), 2);
    EXPECT_NE(log.Contents().find(filter + c.message), std::string::npos)
        << "expected: " << filter + c.message << "\nlogged: " << log.Contents();
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
  const std::string logged = log_.Contents();
  EXPECT_NE(logged.find("Could not save the temporary query 'tq1_Bad': "), std::string::npos)
      << logged;
  EXPECT_NE(logged.find("no such column"), std::string::npos) << logged;
  EXPECT_NE(logged.find("SELECT [nosuch] FROM tq1_L_Observation"), std::string::npos) << logged;

  EXPECT_EQ(QueriesOf(1).size(), 6u);
  EXPECT_TRUE(queries_.DeleteTempQueries(1, data));
  EXPECT_TRUE(QueriesOf(1).empty());
  EXPECT_EQ(QueriesOf(2).size(), 4u);                // other items keep theirs
  EXPECT_TRUE(queries_.DeleteTempQueries(1, data));  // nothing left is no failure
  EXPECT_EQ(Count("[Observation]"), 304);
}

TEST_F(TempQueriesTest, AreaFilterTextIsTheUnitsAreaOption) {
  const std::pair<const char*, const char*> cases[] = {
      {"Units /Area=\"Square kilometer\";", "Square kilometer"},
      {"Distance /Width=50; units /area=Hectare", "Hectare"},
      {"Units;", ""},
      {"Distance /Width=50;", ""}};
  for (const auto& [definition, text] : cases) {
    std::string out = "x";
    EXPECT_TRUE(queries_.GetAreaFilterText(out, definition, log_));
    EXPECT_EQ(out, text) << definition;
  }
}

struct AreaCase {
  const char* survey;
  const char* filter_text;
  const char* start;
  bool ok;
  const char* field;
  const char* layer;
  double factor;
  const char* units;
  const char* message;  // logged at level 2 when not ok
};

class AreaSourceTest : public TempQueriesTest, public ::testing::WithParamInterface<AreaCase> {};

TEST_P(AreaSourceTest, WalksUpFromTheStartLayer) {
  const AreaCase& c = GetParam();
  CreateFrom(LayeredDescription(c.survey));
  std::string field, layer, units;
  double factor = -1;
  EXPECT_EQ(queries_.GetAreaSource(field, layer, factor, units, project(), c.survey,
                                   c.filter_text, c.start, 1, 10, log_),
            c.ok);
  if (c.ok) {
    EXPECT_EQ(field, c.field);
    EXPECT_EQ(layer, c.layer);
    EXPECT_DOUBLE_EQ(factor, c.factor);
    EXPECT_EQ(units, c.units);
  }
  ExpectLogged(c.ok, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AreaSourceTest,
    ::testing::Values(
        AreaCase{"Type Line; Area /Fld=None;", "", "Region", true, "None", "", 0, "", ""},
        AreaCase{"Type Line;", "Hectare", "Region", true, "None", "", 0, "", ""},
        // At the region layer itself.
        AreaCase{"Area /Fld=RegArea;", "", "Region", true, "RegArea", "Region", 0,
                 "Square kilometer", ""},
        AreaCase{"Area /Fld=regarea;", "square KILOMETER", "Region", true, "RegArea", "Region", 0,
                 "Square kilometer", ""},
        // Above the start layer.
        AreaCase{"Area /Fld=RegArea;", "", "Block", true, "RegArea", "Region", 0,
                 "Square kilometer", ""},
        AreaCase{"Area /Fld=Total;", "", "Block", true, "Total", "Global", 0, "Square kilometer",
                 ""},
        // Below the region layer (the start is the lowest stratum layer).
        AreaCase{"Area /Fld=SubArea;", "", "Block", true, "SubArea", "Block", 0, "Hectare", ""},
        // Converted to the data filter's units.
        AreaCase{"Area /Fld=RegArea;", "Hectare", "Region", true, "RegArea", "Region", 100,
                 "Hectare", ""},
        AreaCase{"Area /Fld=SubArea;", "Square kilometer", "Block", true, "SubArea", "Block", 0.01,
                 "Square kilometer", ""},
        AreaCase{"Area /Fld=Nope;", "", "Block", false, "", "", 0, "",
                 "The survey's area field 'Nope' does not exist in layer 'Block' or any layer "
                 "above it."},
        AreaCase{"Area /Fld=Cover;", "", "Region", false, "", "", 0, "",
                 "The survey's area field 'Cover' does not exist in layer 'Region' or any layer "
                 "above it."},
        AreaCase{"Area /Fld=Bare;", "", "Region", false, "", "", 0, "",
                 "The area field 'Bare' of layer 'Region' has no units."},
        AreaCase{"Area /Fld=Name;", "", "Region", false, "", "", 0, "",
                 "The area field 'Name' of layer 'Region' is not a number field."},
        AreaCase{"Area /Fld=Perimeter;", "", "Region", false, "", "", 0, "",
                 "The area field 'Perimeter' of layer 'Region' has the units 'Kilometer', which "
                 "are not an area unit."},
        AreaCase{"Area /Fld=RegArea;", "Acres", "Region", false, "", "", 0, "",
                 "The data filter asks for areas in 'Acres', which is not an area unit."},
        AreaCase{"Area /Fld=RegArea;", "", "Nowhere", false, "", "", 0, "",
                 "Could not look for the area field 'RegArea': the survey has no layer "
                 "'Nowhere'."}));

struct EffortCase {
  const char* survey;
  const char* start;
  bool ok;
  const char* field;
  const char* layer;
  const char* units;
  const char* message;
};

class EffortSourceTest : public TempQueriesTest,
                         public ::testing::WithParamInterface<EffortCase> {};

TEST_P(EffortSourceTest, WalksUpTheSampleLayers) {
  const EffortCase& c = GetParam();
  CreateFrom(LayeredDescription(c.survey));
  std::string field, layer, units;
  EXPECT_EQ(
      queries_.GetEffortSource(field, layer, units, project(), c.survey, c.start, 20, 1, 10, log_),
      c.ok);
  if (c.ok) {
    EXPECT_EQ(field, c.field);
    EXPECT_EQ(layer, c.layer);
    EXPECT_EQ(units, c.units);
  }
  ExpectLogged(c.ok, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EffortSourceTest,
    ::testing::Values(
        EffortCase{"Effort /Fld=Length;", "Line", true, "Length", "Line", "Kilometer", ""},
        EffortCase{"Effort /Fld=\"length\";", "Segment", true, "Length", "Line", "Kilometer", ""},
        EffortCase{"Effort /Fld=Seg;", "Segment", true, "Seg", "Segment", "Meter", ""},
        EffortCase{"Type Line;", "Line", false, "", "", "",
                   "The survey definition names no effort field (Effort /Fld=NAME)."},
        EffortCase{"Effort /Fld=None;", "Line", false, "", "", "",
                   "The survey definition names no effort field (Effort /Fld=NAME)."},
        EffortCase{"Effort /Fld=RegArea;", "Line", false, "", "", "",
                   "The survey's effort field 'RegArea' does not exist in layer 'Line' or the "
                   "sample layers above it."},
        EffortCase{"Effort /Fld=Seg;", "Line", false, "", "", "",
                   "The survey's effort field 'Seg' does not exist in layer 'Line' or the sample "
                   "layers above it."},
        EffortCase{"Effort /Fld=Plain;", "Line", false, "", "", "",
                   "The effort field 'Plain' of layer 'Line' has no units."},
        EffortCase{"Effort /Fld=Cover;", "Segment", false, "", "", "",
                   "The effort field 'Cover' of layer 'Line' has the units 'Hectare', which are "
                   "not a length unit."}));

}  // namespace
}  // namespace pramble::sqlhost::test
