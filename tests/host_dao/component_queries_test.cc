// The saved queries that the data file maker writes, in the shapes it writes
// them, run over a survey's layer tables: strata under a global layer, lines
// (samples) under the strata, observations under the lines.
#include <gtest/gtest.h>

#include <algorithm>

#include "dao_test_util.h"
#include "sqlhost/dao/sqlite_database.h"

namespace pramble::sqlhost {
namespace {

using testing::FieldNames;
using testing::ReadRows;
using testing::Show;
using testing::Sql;
using testing::TempDir;
namespace dao = host::dao;

struct Query {
  std::string name;
  std::string jet;
};

// The layer queries of an item (the data filter applied to the observations).
std::vector<Query> LayerQueries(const std::string& q) {
  return {{q + " Global", "SELECT * FROM [Global]"},
          {q + " Région", "SELECT * FROM [Région]"},
          {q + " Line", "SELECT * FROM [Line]"},
          {q + " Observation", "SELECT * FROM [Observation] WHERE ([dist] <= 50)"}};
}

std::vector<Query> ObsAndSmpQueries(const std::string& q) {
  const std::string o = "[" + q + " Observation]";
  const std::string l = "[" + q + " Line]";
  return {
      {q + "_Obs", "SELECT " + o + ".[LineID] AS SMP_LINK, " + o + ".[dist] AS distance, " + o +
                       ".[size] AS size, " + o + ".[obj] AS object, " + o +
                       ".[obs] AS observer, " + o + ".[det] AS detected, " + o +
                       ".[Sex] AS Sex FROM " + o},
      {q + "_Smp", "SELECT " + l + ".[RégionID] AS STR_LINK, " + l + ".[ID] AS SMP_LINK, " + l +
                       ".[ID] & \". \" & " + l + ".[Label] AS SMP_LABEL, " + l +
                       ".[Line length] AS SMP_EFFORT, " + l + ".[Label] AS Label, " + l +
                       ".[Line length] AS Line_length FROM (" + l + ") "},
  };
}

std::vector<Query> DataQueries(const std::string& q) {
  const std::string d = q + "_Data";
  return {
      {d, "SELECT * FROM ((" + q + "_Str INNER JOIN " + q + "_Smp ON " + q + "_Str.STR_LINK = " +
              q + "_Smp.STR_LINK) LEFT JOIN " + q + "_Obs ON " + q + "_Smp.SMP_LINK = " + q +
              "_Obs.SMP_LINK) ORDER BY " + q + "_Str.STR_LINK, " + q +
              "_Smp.SMP_LINK, object, observer"},
      {q + "_Ddf", "SELECT distance, size, object, observer, detected, Sex, Label, Line_length, "
                   "Name, Area, Global_Name FROM " + d + " WHERE NOT(IsNull(Object))"},
      {q + "_DhtRegion", "SELECT DISTINCT STR_LABEL AS Region_Label, STR_AREA As Area FROM " + d},
      {q + "_DhtSample", "SELECT DISTINCT SMP_LABEL As Sample_Label, STR_LABEL As Region_Label, "
                         "SMP_EFFORT As Effort FROM " + d},
      {q + "_DhtObs", "SELECT DISTINCT object, STR_LABEL As Region_Label, SMP_LABEL As "
                      "Sample_Label FROM " + d + " WHERE object>0"},
  };
}

class ComponentQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = SqliteDatabase::Open(folder_ / "data.sqlite", OpenMode::kCreate);
    Sql(*db_,
        "CREATE TABLE Global (ID INTEGER, Name TEXT);"
        "CREATE TABLE [Région] (ID INTEGER, GlobalID INTEGER, Name TEXT, Area REAL);"
        "CREATE TABLE Line (ID INTEGER, [RégionID] INTEGER, Label TEXT, [Line length] REAL);"
        "CREATE TABLE Observation (ID INTEGER, LineID INTEGER, dist REAL, size INTEGER, "
        "  obj INTEGER, obs INTEGER, det INTEGER, Sex TEXT);"
        "INSERT INTO Global VALUES (1, 'Study area');"
        "INSERT INTO [Région] VALUES (1, 1, 'North', 10.5), (2, 1, 'South', 20);"
        "INSERT INTO Line VALUES (1, 1, 'A', 2), (2, 1, 'B', 3), (3, 2, 'C', 4);"
        "INSERT INTO Observation VALUES (1, 1, 5.5, 2, 1, 1, 1, 'm'), (2, 1, 5.5, 2, 1, 2, 0, 'm'),"
        "  (3, 2, 12, NULL, 2, 2, 1, 'f'), (4, 2, 12, NULL, 2, 1, 1, 'f'),"
        "  (5, 2, 80, 1, 3, 1, 1, 'f');");
  }

  void Save(const std::vector<Query>& queries) {
    for (const Query& q : queries) {
      SCOPED_TRACE(q.name);
      db_->CreateQueryDef(q.name, q.jet);
    }
  }

  std::vector<std::string> Rows(const std::string& source, bool sorted = false) {
    auto rs = db_->OpenRecordset(source, dao::kOpenDynaset);
    auto rows = ReadRows(*rs);
    if (sorted) std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::int64_t CountAfterMoveLast(const std::string& source) {
    auto rs = db_->OpenRecordset(source, dao::kOpenDynaset);
    rs->MoveLast();
    return rs->RecordCount();
  }

  TempDir folder_;
  std::unique_ptr<SqliteDatabase> db_;
};

TEST_F(ComponentQueriesTest, StratifiedItem) {
  const std::string s = "[q12 Région]";
  const std::string g = "[q12 Global]";
  Save(LayerQueries("q12"));
  Save(ObsAndSmpQueries("q12"));
  Save({{"q12_Str", "SELECT " + s + ".[ID] AS STR_LINK, " + s + ".[ID] & \". \" & " + s +
                        ".[Name] AS STR_LABEL, " + s + ".[Area]  AS STR_AREA, " + s +
                        ".[Name] AS Name, " + s + ".[Area] AS Area, " + g +
                        ".[Name] AS Global_Name FROM ((" + g + ") INNER JOIN " + s + " ON " + g +
                        ".[ID] = " + s + ".[GlobalID]) "}});
  Save(DataQueries("q12"));

  // The main query: plain column names (first source wins), every sample,
  // Null observation columns for a sample without observations, sorted.
  auto data = db_->OpenRecordset("q12_Data", dao::kOpenDynaset);
  EXPECT_EQ(FieldNames(*data),
            (std::vector<std::string>{"STR_LINK", "STR_LABEL", "STR_AREA", "Name", "Area",
                                      "Global_Name", "SMP_LINK", "SMP_LABEL", "SMP_EFFORT",
                                      "Label", "Line_length", "distance", "size", "object",
                                      "observer", "detected", "Sex"}));
  EXPECT_EQ(ReadRows(*data),
            (std::vector<std::string>{
                "1|1. North|10.5|North|10.5|Study area|1|1. A|2|A|2|5.5|2|1|1|1|m",
                "1|1. North|10.5|North|10.5|Study area|1|1. A|2|A|2|5.5|2|1|2|0|m",
                "1|1. North|10.5|North|10.5|Study area|2|2. B|3|B|3|12|<null>|2|1|1|f",
                "1|1. North|10.5|North|10.5|Study area|2|2. B|3|B|3|12|<null>|2|2|1|f",
                "2|2. South|20|South|20|Study area|3|3. C|4|C|4|<null>|<null>|<null>|<null>|"
                "<null>|<null>"}));

  // The detection-function query: the field list's columns, observations only.
  auto ddf = db_->OpenRecordset("q12_Ddf", dao::kOpenDynaset);
  const std::vector<std::pair<std::string, std::int32_t>> columns = {
      {"distance", dao::kDouble}, {"size", dao::kLong},      {"object", dao::kLong},
      {"observer", dao::kLong},   {"detected", dao::kLong},  {"Sex", dao::kText},
      {"Label", dao::kText},      {"Line_length", dao::kDouble}, {"Name", dao::kText},
      {"Area", dao::kDouble},     {"Global_Name", dao::kText}};
  ASSERT_EQ(ddf->FieldCount(), static_cast<int>(columns.size()));
  for (int i = 0; i < ddf->FieldCount(); ++i) {
    EXPECT_EQ(ddf->Fields(i).Name(), columns[i].first);
    EXPECT_EQ(ddf->Fields(i).Type(), columns[i].second) << columns[i].first;
  }
  EXPECT_EQ(ReadRows(*ddf), (std::vector<std::string>{
                                "5.5|2|1|1|1|m|A|2|North|10.5|Study area",
                                "5.5|2|1|2|0|m|A|2|North|10.5|Study area",
                                "12|<null>|2|1|1|f|B|3|North|10.5|Study area",
                                "12|<null>|2|2|1|f|B|3|North|10.5|Study area"}));
  EXPECT_EQ(db_->OpenRecordset("q12_Data")->Fields("STR_LABEL").Type(), dao::kText);
  EXPECT_EQ(db_->OpenRecordset("q12_Data")->Fields("SMP_EFFORT").Type(), dao::kDouble);

  // The density queries, and the uniqueness test of objects (R = N).
  EXPECT_EQ(Rows("q12_DhtRegion", true),
            (std::vector<std::string>{"1. North|10.5", "2. South|20"}));
  EXPECT_EQ(FieldNames(*db_->OpenRecordset("q12_DhtSample")),
            (std::vector<std::string>{"Sample_Label", "Region_Label", "Effort"}));
  EXPECT_EQ(Rows("q12_DhtSample", true),
            (std::vector<std::string>{"1. A|1. North|2", "2. B|1. North|3", "3. C|2. South|4"}));
  EXPECT_EQ(Rows("q12_DhtObs", true),
            (std::vector<std::string>{"1|1. North|1. A", "2|1. North|2. B"}));
  EXPECT_EQ(CountAfterMoveLast("q12_DhtObs"), 2);
  EXPECT_EQ(CountAfterMoveLast("SELECT DISTINCT object FROM q12_DhtObs"), 2);

  // The saved texts are the Jet texts; deleting the item's queries leaves the layers.
  EXPECT_EQ(db_->QueryDefSql("q12_DhtObs"), DataQueries("q12")[4].jet);
  for (const std::string& name : db_->QueryDefNames()) db_->DeleteQueryDef(name);
  EXPECT_TRUE(db_->QueryDefNames().empty());
  EXPECT_EQ(Rows("SELECT count(*) AS n FROM [Observation]"), (std::vector<std::string>{"5"}));
}

TEST_F(ComponentQueriesTest, UnstratifiedItemSumsAreaIntoOneRegion) {
  const std::string s = "[q13 Région]";
  const std::string g = "[q13 Global]";
  Save(LayerQueries("q13"));
  Save(ObsAndSmpQueries("q13"));
  Save({{"q13_StrArea1", "SELECT " + s + ".[ID] AS STR_LINK, " + s + ".[Area]  AS STR_AREA, " +
                             s + ".[ID] AS STR_AREA_ID, \"1.\" AS STR_LABEL, " + s +
                             ".[Name] AS Name, " + s + ".[Area] AS Area, " + g +
                             ".[Name] AS Global_Name FROM ((" + g + ") INNER JOIN " + s + " ON " +
                             g + ".[ID] = " + s + ".[GlobalID]) "},
        {"q13_StrArea2", "SELECT FIRST(STR_LABEL) AS STR_LABEL1, FIRST(STR_AREA) AS STR_AREA1, "
                         "FIRST(STR_AREA_ID) AS STR_AREA_ID1 FROM q13_StrArea1 GROUP BY "
                         "STR_AREA_ID"},
        {"q13_StrArea3", "SELECT FIRST(STR_LABEL1) AS STR_LABEL2, SUM(STR_AREA1) AS STR_AREA2 "
                         "FROM q13_StrArea2 GROUP BY STR_LABEL1"},
        {"q13_Str", "SELECT STR_LINK, STR_LABEL, Name, Area, Global_Name, STR_AREA2 AS STR_AREA "
                    "FROM q13_StrArea1 LEFT JOIN q13_StrArea3 ON q13_StrArea1.STR_LABEL = "
                    "q13_StrArea3.STR_LABEL2"}});
  Save(DataQueries("q13"));

  EXPECT_EQ(Rows("q13_StrArea2", true),
            (std::vector<std::string>{"1.|10.5|1", "1.|20|2"}));
  EXPECT_EQ(Rows("q13_Str"), (std::vector<std::string>{"1|1.|North|10.5|Study area|30.5",
                                                       "2|1.|South|20|Study area|30.5"}));
  EXPECT_EQ(Rows("q13_DhtRegion"), (std::vector<std::string>{"1.|30.5"}));
  EXPECT_EQ(Rows("q13_DhtSample", true),
            (std::vector<std::string>{"1. A|1.|2", "2. B|1.|3", "3. C|1.|4"}));
  EXPECT_EQ(CountAfterMoveLast("q13_Ddf"), 4);
}

TEST_F(ComponentQueriesTest, SingleGlobalStratumWithoutArea) {
  Save(LayerQueries("q14"));
  Save({{"q14_Str", "SELECT 0 AS STR_AREA, [q14 Global].[ID] AS STR_LINK, \"1.\" AS STR_LABEL, "
                    "[q14 Global].[Name] AS Name FROM ([q14 Global]) "}});
  auto rs = db_->OpenRecordset("q14_Str", dao::kOpenDynaset);
  EXPECT_EQ(ReadRows(*rs), (std::vector<std::string>{"0|1|1.|Study area"}));
  EXPECT_EQ(db_->OpenRecordset("q14_Str")->Fields("STR_AREA").Type(), dao::kLong);
}

}  // namespace
}  // namespace pramble::sqlhost
