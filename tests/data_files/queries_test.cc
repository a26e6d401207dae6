// The saved queries of every layer shape, the rows they give and the data
// files written from them, on real projects.
#include <gtest/gtest.h>

#include "data_files/harness.h"

namespace pramble::testing {
namespace {

const char kRenameHead[] =
    "The following fields will be written to the data file, and can be used in model formulae. "
    "Note that you should use the new names, not the original field names in formulae, and that "
    "formulae names are case sensitive.\r\n"
    "  Format: [layer name].[field name] AS new name\r\n";

struct ShapeCase {
  std::string name;
  std::function<void(json&, Definitions&)> change{};
  MakerOptions options{};
  std::vector<std::string> suffixes{};         // in the order saved
  std::map<std::string, std::string> sql{};    // suffix -> text, "{X}" = saved name of X
  std::map<std::string, std::string> rows{};   // suffix -> DumpRows
  std::map<std::string, std::string> files{};  // name -> bytes
  std::string note{};                          // the rename note after its head
  std::string area_units = "Square kilometer";
};

const std::string kObsSql =
    "SELECT [{Observation}].[ParentID] AS SMP_LINK, [{Observation}].[distance] AS distance, "
    "[{Observation}].[object] AS object, [{Observation}].[observer] AS observer, "
    "[{Observation}].[detected] AS detected, [{Observation}].[size] AS size, "
    "[{Observation}].[sex] AS sex FROM [{Observation}]";
const std::string kSmpSql =
    "SELECT [{Line transect}].[ParentID] AS STR_LINK, [{Line transect}].[ID] AS SMP_LINK, "
    "[{Line transect}].[ID] & \". \" & [{Line transect}].[Label] AS SMP_LABEL, "
    "[{Line transect}].[Line length] AS SMP_EFFORT, [{Line transect}].[Label] AS Label, "
    "[{Line transect}].[Line length] AS [Line.length] FROM ([{Line transect}]) ";
const std::string kRegionFile = "Region.Label\tArea\r\n1. North\t 60\r\n2. South\t 40\r\n";
const std::string kSampleFile =
    "Sample.Label\tRegion.Label\tEffort\r\n1. A\t1. North\t 2.5\r\n2. B\t1. North\t 3\r\n"
    "3. C\t2. South\t 4\r\n4. D\t2. South\t 1.25\r\n";
const std::vector<std::string> kAllSuffixes = {"_Obs", "_Smp",       "_Str",       "_Data",
                                               "_Ddf", "_DhtRegion", "_DhtSample", "_DhtObs"};
const std::vector<std::string> kStrSummed = {"_Obs",       "_Smp",       "_StrArea1", "_StrArea2",
                                             "_StrArea3",  "_Str",       "_Data",     "_Ddf",
                                             "_DhtRegion", "_DhtSample", "_DhtObs"};

std::string StrSummedSql(const std::string& aliases) {
  return "SELECT STR_LINK, STR_LABEL, " + aliases +
         "STR_AREA2 AS STR_AREA FROM {_StrArea1} LEFT JOIN {_StrArea3} ON "
         "{_StrArea1}.STR_LABEL = {_StrArea3}.STR_LABEL2";
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const auto p = text.find(from);
  ASSERT_NE(p, std::string::npos) << from;
  text.replace(p, from.size(), to);
}

// A subsample layer "Segment" (type 21) below the lines holds the effort.
void AddSegments(json& d, Definitions& defs) {
  DropField(Layer(d, "Line transect"), "Line length");
  d["layers"].insert(d["layers"].begin() + 3, json::parse(R"(
    { "name": "Segment", "type": 21, "parent": "Line transect",
      "fields": [ { "name": "ID", "kind": "id" }, { "name": "ParentID", "kind": "link" },
                  { "name": "Length", "kind": "decimal", "units": "Kilometer" } ],
      "rows": [ [1, 1, 1.0], [2, 1, 1.5], [3, 2, 3.0], [4, 3, 4.0], [5, 4, 1.25] ] })"));
  Layer(d, "Observation")["parent"] = "Segment";
  // Observations on segments 1 (line A), 3 (line B) and 5 (line D).
  for (auto& row : Layer(d, "Observation")["rows"]) row[1] = row[1] == 1 ? 1 : row[1] == 2 ? 3 : 5;
  Replace(defs.survey, "Effort /Fld=\"Line length\";", "Effort /Fld=Length;");
}

std::vector<ShapeCase> Cases() {
  std::vector<ShapeCase> cases;
  cases.push_back(
      {"StrataUnderGlobalAreaAtRegion",
       nullptr,
       {},
       kAllSuffixes,
       {{"_Obs", kObsSql},
        {"_Smp", kSmpSql},
        {"_Str",
         "SELECT [{Region}].[ID] AS STR_LINK, [{Region}].[ID] & \". \" & [{Region}].[Label] AS "
         "STR_LABEL, [{Region}].[Area]  AS STR_AREA, [{Region}].[Label] AS [Stratum.Label], "
         "[{Region}].[Area] AS Area, [{Study area}].[Label] AS [Global.Label], [{Study "
         "area}].[Area] AS [Global.Area] FROM (([{Study area}]) INNER JOIN [{Region}] ON [{Study "
         "area}].[ID] = [{Region}].[ParentID]) "},
        {"_Data",
         "SELECT * FROM (({_Str} INNER JOIN {_Smp} ON {_Str}.STR_LINK = {_Smp}.STR_LINK) LEFT "
         "JOIN {_Obs} ON {_Smp}.SMP_LINK = {_Obs}.SMP_LINK) ORDER BY {_Str}.STR_LINK, "
         "{_Smp}.SMP_LINK, object, observer"},
        {"_Ddf",
         "SELECT distance, object, observer, detected, size, sex, Label, [Line.length], "
         "[Stratum.Label], Area, [Global.Label], [Global.Area] FROM {_Data} WHERE "
         "NOT(IsNull(Object))"},
        {"_DhtRegion", "SELECT DISTINCT STR_LABEL AS Region_Label, STR_AREA As Area FROM {_Data}"},
        {"_DhtSample",
         "SELECT DISTINCT SMP_LABEL As Sample_Label, STR_LABEL As Region_Label, SMP_EFFORT As "
         "Effort FROM {_Data}"},
        {"_DhtObs",
         "SELECT DISTINCT object, STR_LABEL As Region_Label, SMP_LABEL As Sample_Label FROM "
         "{_Data} WHERE object>0"}},
       {{"_Str",
         "STR_LINK\tSTR_LABEL\tSTR_AREA\tStratum.Label\tArea\tGlobal.Label\tGlobal.Area\n"
         "1\t1. North\t60\tNorth\t60\tWhole\t100\n2\t2. South\t40\tSouth\t40\tWhole\t100\n"}},
       {{"ddf.dat.r",
         "distance\tobject\tobserver\tdetected\tsize\tsex\tLabel\tLine.length\tStratum.Label\t"
         "Area\tGlobal.Label\tGlobal.Area\r\n"
         " 10.5\t 1\t 1\t 1\t 2\tF\tA\t 2.5\tNorth\t 60\tWhole\t 100\r\n"
         " 10.5\t 1\t 2\t 0\t 2\tF\tA\t 2.5\tNorth\t 60\tWhole\t 100\r\n"
         " 3.25\t 2\t 1\t 1\t 1\tM\tB\t 3\tNorth\t 60\tWhole\t 100\r\n"
         " 3.25\t 2\t 2\t 1\t 1\tM\tB\t 3\tNorth\t 60\tWhole\t 100\r\n"
         " 0\t 3\t 1\t 0\t 3\t\tD\t 1.25\tSouth\t 40\tWhole\t 100\r\n"
         " 0\t 3\t 2\t 1\t 3\t\tD\t 1.25\tSouth\t 40\tWhole\t 100\r\n"},
        {"region.dat.r", kRegionFile},
        {"sample.dat.r", kSampleFile},
        {"obs.dat.r",
         "object\tRegion.Label\tSample.Label\r\n 1\t1. North\t1. A\r\n 2\t1. North\t2. B\r\n"
         " 3\t2. South\t4. D\r\n"}},
       "  [Observation].[distance] AS distance\r\n  [Observation].[object] AS object\r\n"
       "  [Observation].[observer] AS observer\r\n  [Observation].[detected] AS detected\r\n"
       "  [Observation].[size] AS size\r\n  [Observation].[sex] AS sex\r\n"
       "  [Line transect].[Label] AS Label\r\n  [Line transect].[Line length] AS Line.length\r\n"
       "  [Region].[Label] AS Stratum.Label\r\n  [Region].[Area] AS Area\r\n"
       "  [Study area].[Label] AS Global.Label\r\n  [Study area].[Area] AS Global.Area\r\n"});

  cases.push_back(
      {"NoStratificationSumsTheRegionAreas",
       [](json&, Definitions& defs) { defs.model = "Method io;"; },
       {},
       kStrSummed,
       {{"_StrArea1",
         "SELECT [{Region}].[ID] AS STR_LINK, [{Region}].[Area]  AS STR_AREA, [{Region}].[ID] AS "
         "STR_AREA_ID, \"1.\" AS STR_LABEL, [{Region}].[Label] AS [Stratum.Label], "
         "[{Region}].[Area] AS Area, [{Study area}].[Label] AS [Global.Label], [{Study "
         "area}].[Area] AS [Global.Area] FROM (([{Study area}]) INNER JOIN [{Region}] ON [{Study "
         "area}].[ID] = [{Region}].[ParentID]) "},
        {"_StrArea2",
         "SELECT FIRST(STR_LABEL) AS STR_LABEL1, FIRST(STR_AREA) AS STR_AREA1, "
         "FIRST(STR_AREA_ID) AS STR_AREA_ID1 FROM {_StrArea1} GROUP BY STR_AREA_ID"},
        {"_StrArea3",
         "SELECT FIRST(STR_LABEL1) AS STR_LABEL2, SUM(STR_AREA1) AS STR_AREA2 FROM {_StrArea2} "
         "GROUP BY STR_LABEL1"},
        {"_Str", StrSummedSql("[Stratum.Label], Area, [Global.Label], [Global.Area], ")}},
       {{"_Str",
         "STR_LINK\tSTR_LABEL\tStratum.Label\tArea\tGlobal.Label\tGlobal.Area\tSTR_AREA\n"
         "1\t1.\tNorth\t60\tWhole\t100\t100\n2\t1.\tSouth\t40\tWhole\t100\t100\n"}},
       {{"region.dat.r", "Region.Label\tArea\r\n1.\t 100\r\n"}}});

  cases.push_back(
      {"NoStratumLayerNoAreaField",
       [](json& d, Definitions& defs) {
         d["layers"].erase(1);
         Layer(d, "Line transect")["parent"] = "Study area";
         for (auto& row : Layer(d, "Line transect")["rows"]) row[1] = 1;
         Replace(defs.survey, "Area /Fld=Area;", "Area /Fld=None;");
         defs.model = "Method io; Stratification None;";
       },
       {},
       kAllSuffixes,
       {{"_Str",
         "SELECT 0 AS STR_AREA, [{Study area}].[ID] AS STR_LINK, \"1.\" AS STR_LABEL, [{Study "
         "area}].[Label] AS [Global.Label], [{Study area}].[Area] AS Area FROM ([{Study area}]) "}},
       {},
       {{"region.dat.r", "Region.Label\tArea\r\n1.\t 0\r\n"},
        {"sample.dat.r",
         "Sample.Label\tRegion.Label\tEffort\r\n1. A\t1.\t 2.5\r\n2. B\t1.\t 3\r\n3. C\t1.\t 4\r\n"
         "4. D\t1.\t 1.25\r\n"}},
       "",
       ""});

  cases.push_back(
      {"AreaAboveTheRegionLayer",
       [](json& d, Definitions&) { DropField(Layer(d, "Region"), "Area"); },
       {},
       kStrSummed,
       {{"_StrArea1",
         "SELECT [{Region}].[ID] AS STR_LINK, [{Region}].[ID] & \". \" & [{Region}].[Label] AS "
         "STR_LABEL, [{Study area}].[Area]  AS STR_AREA, [{Study area}].[ID] AS STR_AREA_ID, "
         "[{Region}].[Label] AS [Stratum.Label], [{Study area}].[Label] AS [Global.Label], "
         "[{Study area}].[Area] AS Area FROM (([{Study area}]) INNER JOIN [{Region}] ON [{Study "
         "area}].[ID] = [{Region}].[ParentID]) "},
        {"_Str", StrSummedSql("[Stratum.Label], [Global.Label], Area, ")}},
       // One area record: the first region it reaches carries it.
       {{"_Str",
         "STR_LINK\tSTR_LABEL\tStratum.Label\tGlobal.Label\tArea\tSTR_AREA\n"
         "1\t1. North\tNorth\tWhole\t100\t100\n2\t2. South\tSouth\tWhole\t100\tNULL\n"}},
       {}});

  cases.push_back(
      {"AreaBelowTheRegionLayerIsSummed",
       [](json& d, Definitions&) {
         DropField(Layer(d, "Region"), "Area");
         d["layers"].insert(d["layers"].begin() + 2, json::parse(R"(
           { "name": "Block", "type": 11, "parent": "Region",
             "fields": [ { "name": "ID", "kind": "id" }, { "name": "ParentID", "kind": "link" },
                         { "name": "Area", "kind": "decimal", "units": "Square kilometer" } ],
             "rows": [ [1, 1, 25.0], [2, 1, 35.0], [3, 2, 40.0] ] })"));
         Layer(d, "Line transect")["parent"] = "Block";
         for (auto& row : Layer(d, "Line transect")["rows"])
           row[1] = row[0] == 4 ? json(3) : row[0];
       },
       {},
       kStrSummed,
       {{"_StrArea1",
         "SELECT [{Block}].[ID] AS STR_LINK, [{Block}].[Area]  AS STR_AREA, [{Block}].[ID] AS "
         "STR_AREA_ID, [{Region}].[ID] & \". \" & [{Region}].[Label] AS STR_LABEL, "
         "[{Block}].[Area] AS Area, [{Region}].[Label] AS [Stratum.Label], [{Study "
         "area}].[Label] AS [Global.Label], [{Study area}].[Area] AS [Global.Area] FROM ((([{Study "
         "area}]) INNER JOIN [{Region}] ON [{Study area}].[ID] = [{Region}].[ParentID]) INNER "
         "JOIN [{Block}] ON [{Region}].[ID] = [{Block}].[ParentID]) "}},
       {{"_Str",
         "STR_LINK\tSTR_LABEL\tArea\tStratum.Label\tGlobal.Label\tGlobal.Area\tSTR_AREA\n"
         "1\t1. North\t25\tNorth\tWhole\t100\t60\n2\t1. North\t35\tNorth\tWhole\t100\t60\n"
         "3\t2. South\t40\tSouth\tWhole\t100\t40\n"}},
       {{"region.dat.r", kRegionFile}}});

  ShapeCase factor{
      "AreaFactor",
      [](json&, Definitions& defs) { defs.filter = "Distance /Width=50; Units /Area=Hectare;"; },
      {},
      kAllSuffixes,
      {{"_Str",
        "SELECT [{Region}].[ID] AS STR_LINK, [{Region}].[ID] & \". \" & [{Region}].[Label] AS "
        "STR_LABEL, [{Region}].[Area] * 100 AS STR_AREA, [{Region}].[Label] AS [Stratum.Label], "
        "[{Region}].[Area] AS Area, [{Study area}].[Label] AS [Global.Label], [{Study "
        "area}].[Area] AS [Global.Area] FROM (([{Study area}]) INNER JOIN [{Region}] ON [{Study "
        "area}].[ID] = [{Region}].[ParentID]) "}},
      {},
      {{"region.dat.r", "Region.Label\tArea\r\n1. North\t 6000\r\n2. South\t 4000\r\n"}}};
  factor.area_units = "Hectare";
  cases.push_back(factor);

  cases.push_back(
      {"EffortOnASubsampleLayerIsSummed",
       AddSegments,
       {},
       {"_Obs", "_SmpEffort1", "_SmpEffort2", "_SmpEffort3", "_Smp", "_Str", "_Data", "_Ddf",
        "_DhtRegion", "_DhtSample", "_DhtObs"},
       {{"_SmpEffort1",
         "SELECT [{Segment}].[ID] AS SMP_LINK, [{Segment}].[Length] AS SMP_EFFORT, "
         "[{Segment}].[ID] AS SMP_EFFORT_ID, [{Line transect}].[ParentID] AS STR_LINK, [{Line "
         "transect}].[ID] & \". \" & [{Line transect}].[Label] AS SMP_LABEL, [{Segment}].[Length] "
         "AS Length, [{Line transect}].[Label] AS Label FROM (([{Line transect}]) INNER JOIN "
         "[{Segment}] ON [{Line transect}].[ID] = [{Segment}].[ParentID]) "},
        {"_SmpEffort2",
         "SELECT FIRST(SMP_LABEL) AS SMP_LABEL1, FIRST(SMP_EFFORT) AS SMP_EFFORT1, "
         "FIRST(SMP_EFFORT_ID) AS SMP_EFFORT_ID1 FROM {_SmpEffort1} GROUP BY SMP_EFFORT_ID"},
        {"_SmpEffort3",
         "SELECT FIRST(SMP_LABEL1) AS SMP_LABEL2, SUM(SMP_EFFORT1) AS SMP_EFFORT2 FROM "
         "{_SmpEffort2} GROUP BY SMP_LABEL1"},
        {"_Smp",
         "SELECT STR_LINK, SMP_LINK, SMP_LABEL, Length, Label, SMP_EFFORT2 AS SMP_EFFORT FROM "
         "{_SmpEffort1} LEFT JOIN {_SmpEffort3} ON {_SmpEffort1}.SMP_LABEL = "
         "{_SmpEffort3}.SMP_LABEL2"}},
       {{"_Smp",
         "STR_LINK\tSMP_LINK\tSMP_LABEL\tLength\tLabel\tSMP_EFFORT\n1\t1\t1. A\t1\tA\t2.5\n"
         "1\t2\t1. A\t1.5\tA\t2.5\n1\t3\t2. B\t3\tB\t3\n2\t4\t3. C\t4\tC\t4\n"
         "2\t5\t4. D\t1.25\tD\t1.25\n"}},
       {{"sample.dat.r", kSampleFile}}});

  cases.push_back(
      {"SampleLayerTypeOtherThan20",
       [](json& d, Definitions& defs) {
         AddSegments(d, defs);
         defs.model += " Sample /LayerType=21;";
       },
       {},
       kAllSuffixes,
       {{"_Smp",
         "SELECT [{Segment}].[ID] AS SMP_LINK, [{Segment}].[ID] & \". \" AS SMP_LABEL, "
         "[{Segment}].[Length] AS SMP_EFFORT, [{Line transect}].[ParentID] AS STR_LINK, "
         "[{Segment}].[Length] AS Length, [{Line transect}].[Label] AS Label FROM (([{Line "
         "transect}]) INNER JOIN [{Segment}] ON [{Line transect}].[ID] = "
         "[{Segment}].[ParentID]) "}},
       {},
       {{"sample.dat.r",
         "Sample.Label\tRegion.Label\tEffort\r\n1. \t1. North\t 1\r\n2. \t1. North\t 1.5\r\n"
         "3. \t1. North\t 3\r\n4. \t2. South\t 4\r\n5. \t2. South\t 1.25\r\n"}}});

  MakerOptions single_ddf;
  single_ddf.single = true;
  single_ddf.dht = false;
  cases.push_back(
      {"SingleObserverUnclusteredClashesHiddenFieldsAndNonAsciiNames",
       [](json& d, Definitions& defs) {
         json& obs = Layer(d, "Observation");
         obs = json::parse(R"(
           { "name": "Sichtung Ö", "type": 30, "parent": "Line transect",
             "fields": [ { "name": "ID", "kind": "id" }, { "name": "ParentID", "kind": "link" },
                         { "name": "Perp dist", "kind": "decimal", "units": "Meter" },
                         { "name": "Geom", "kind": "shape" }, { "name": "Label", "kind": "text" },
                         { "name": "size", "kind": "integer" }, { "name": "Größe", "kind": "decimal" },
                         { "name": "Secret", "kind": "hidden" } ],
             "rows": [ [1, 1, 10.5, null, "F", 2, 1.5, null], [2, 2, 3.25, null, "M", 1, -2.5, null],
                       [3, 4, 0.0, null, "X", 3, 0.0, null] ] })");
         defs.survey =
             "Type Line; Distance Perp; Object Single; PDist /Fld=\"Perp dist\"; ObjID /Fld=None; "
             "Area /Fld=Area; Effort /Fld=\"Line length\";";
       },
       single_ddf,
       {"_Obs", "_Smp", "_Str", "_Data", "_Ddf"},
       {{"_Obs",
         "SELECT [{Sichtung Ö}].[ID] AS object, [{Sichtung Ö}].[ParentID] AS SMP_LINK, "
         "[{Sichtung Ö}].[Perp dist] AS distance, [{Sichtung Ö}].[Label] AS Label, [{Sichtung "
         "Ö}].[size] AS size, [{Sichtung Ö}].[Größe] AS [Gr..e], 1 AS observer FROM [{Sichtung "
         "Ö}]"},
        {"_Ddf",
         "SELECT object, distance, Label, size, [Gr..e], observer, [Sample.Label], [Line.length], "
         "[Stratum.Label], Area, [Global.Label], [Global.Area] FROM {_Data} WHERE "
         "NOT(IsNull(Object))"}},
       {},
       {{"ddf.dat.r",
         "object\tdistance\tLabel\tsize\tGr..e\tobserver\tSample.Label\tLine.length\t"
         "Stratum.Label\tArea\tGlobal.Label\tGlobal.Area\r\n"
         " 1\t 10.5\tF\t 2\t 1.5\t 1\tA\t 2.5\tNorth\t 60\tWhole\t 100\r\n"
         " 2\t 3.25\tM\t 1\t-2.5\t 1\tB\t 3\tNorth\t 60\tWhole\t 100\r\n"
         " 3\t 0\tX\t 3\t 0\t 1\tD\t 1.25\tSouth\t 40\tWhole\t 100\r\n"}},
       "  [Sichtung Ö].[ID] AS object\r\n  [Sichtung Ö].[Perp dist] AS distance\r\n"
       "  [Sichtung Ö].[Label] AS Label\r\n  [Sichtung Ö].[size] AS size\r\n"
       "  [Sichtung Ö].[Größe] AS Gr..e\r\n  [Line transect].[Label] AS Sample.Label\r\n"
       "  [Line transect].[Line length] AS Line.length\r\n  [Region].[Label] AS Stratum.Label\r\n"
       "  [Region].[Area] AS Area\r\n  [Study area].[Label] AS Global.Label\r\n"
       "  [Study area].[Area] AS Global.Area\r\n"});

  MakerOptions nothing;
  nothing.ddf = false;
  nothing.dht = false;
  cases.push_back({"NeitherFileRequested", nullptr, nothing, {"_Obs", "_Smp", "_Str", "_Data"}});
  return cases;
}

class ShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeTest, SavesTheQueriesAndWritesTheFiles) {
  const ShapeCase& c = GetParam();
  json description = BaseDescription();
  Definitions defs;
  if (c.change) c.change(description, defs);
  const MakerRun run = RunMaker(description, defs, c.options);

  EXPECT_TRUE(run.ok);
  EXPECT_EQ(run.Problems(), (std::vector<std::pair<std::string, int>>{}));
  EXPECT_EQ(run.Suffixes(), c.suffixes);
  EXPECT_EQ(run.left, std::vector<std::string>{});
  for (const auto& [suffix, sql] : c.sql) {
    const SavedQuery* q = run.Find(suffix);
    ASSERT_NE(q, nullptr) << suffix;
    EXPECT_EQ(q->sql, run.Expand(sql)) << suffix;
    EXPECT_EQ(q->flag, suffix == "_StrArea1") << suffix;
  }
  for (const auto& [suffix, rows] : c.rows) {
    const SavedQuery* q = run.Find(suffix);
    ASSERT_NE(q, nullptr) << suffix;
    EXPECT_EQ(q->rows, rows) << suffix;
  }
  std::set<std::string> names;
  for (const auto& [name, bytes] : run.files) names.insert(name);
  std::set<std::string> expected_names;
  if (c.options.ddf) expected_names.insert("ddf.dat.r");
  if (c.options.dht) expected_names.insert({"region.dat.r", "sample.dat.r", "obs.dat.r"});
  EXPECT_EQ(names, expected_names);
  for (const auto& [name, bytes] : c.files) EXPECT_EQ(run.files.at(name), bytes) << name;

  if (c.options.ddf) {
    EXPECT_EQ(run.ddf_file, run.folder + "/ddf.dat.r");
    if (!c.note.empty()) {
      EXPECT_EQ(run.log.at(1), std::make_pair(std::string(kRenameHead) + c.note, 0));
    }
  }
  if (c.options.dht) {
    EXPECT_EQ(run.region_file, run.folder + "/region.dat.r");
    EXPECT_EQ(run.sample_file, run.folder + "/sample.dat.r");
    EXPECT_EQ(run.obs_file, run.folder + "/obs.dat.r");
  }
  EXPECT_EQ(run.log.at(0), std::make_pair(std::string("Making data files"), 0));
  EXPECT_EQ(run.distance_units, "Meter");
  EXPECT_EQ(run.effort_units, "Kilometer");
  EXPECT_EQ(run.area_units, c.area_units);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ShapeTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pramble::testing
