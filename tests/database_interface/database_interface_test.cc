// The database interface on its own: the analyses the engine refuses before
// any file is made (one item per case of tests/data/database_interface/
// restrictions.txt; an item that passes goes on until the temporary folder,
// which the test withholds), the command folder, and SaveResults beyond what
// the runs of tests/engine show: the statistics lines, the results table and
// its row, compression, a results table that cannot be made and a project
// database that another process holds locked.
#include <sqlite3.h>

#include <filesystem>
#include <set>

#include "database_interface/c_cls_database_interface.h"
#include "engine/engine_fixture.h"
#include "sqlhost/util/results_utilities.h"
#include "support/child_lock.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

// The engine fixture's project and faulty services, a fresh global log, and
// database interfaces made for an item the way the engine makes them.
class DatabaseInterfaceFixture : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    NewLog();
  }
  void NewLog() { gLog = tp_->services().NewLog(); }
  std::string Contents() const { return gLog->Contents(); }

  std::unique_ptr<CClsDatabaseInterface> NewInterface(std::int32_t id = kItem) {
    auto dbi = std::make_unique<CClsDatabaseInterface>();
    dbi->ProjectDatabase(tp_->project());
    host::BrowserList& browsers = tp_->project()->Browsers();
    dbi->BrowserItem(browsers.Item(browsers.IndexOfItem(id)).Items().Item(id));
    return dbi;
  }
  // A database interface whose MakeFiles has run (and must have succeeded).
  std::unique_ptr<CClsDatabaseInterface> Prepared() {
    auto dbi = NewInterface();
    EXPECT_TRUE(dbi->MakeFiles()) << Contents();
    return dbi;
  }
};

constexpr char kSurveyRest[] =
    " Type Line; Distance Perp; Object Cluster; PDist /Fld=distance; CSize /Fld=size; "
    "ObjID /Fld=object; Obs /Fld=observer; Detected /Fld=detected; Area /Fld=Area; "
    "Effort /Fld=\"Line length\";";

using RestrictionsTest = DatabaseInterfaceFixture;

TEST_F(RestrictionsTest, EachCaseEndsWithItsOneMessage) {
  const auto rows = ReadCases("database_interface/restrictions.txt");
  nlohmann::json d = Description12();
  for (const char* list : {"surveys", "data_filters", "model_definitions", "analyses"})
    d[list] = nlohmann::json::array();
  std::set<std::string> messages;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Case& r = rows[i];
    const int id = 100 + static_cast<int>(i);
    d["surveys"].push_back({{"id", id}, {"name", r.name},
                            {"definition", r.Get("configuration") + kSurveyRest}});
    d["data_filters"].push_back({{"id", id}, {"name", r.name}, {"definition", r.Get("filter")}});
    d["model_definitions"].push_back({{"id", id}, {"name", r.name}, {"definition", r.Get("model")}});
    d["analyses"].push_back({{"id", id}, {"name", r.name}, {"survey", id}, {"data_filter", id},
                             {"model_definition", id}});
    messages.insert(r.Get("message"));
  }
  Open(d);
  services_->faults.Break("GetTempFolderName");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    NewLog();
    auto dbi = NewInterface(100 + static_cast<int>(i));
    EXPECT_FALSE(dbi->MakeFiles());
    const std::string log = Contents();
    EXPECT_EQ(gLog->Severity(), 2);
    for (const std::string& m : messages) EXPECT_EQ(Has(log, m), m == rows[i].Get("message")) << m;
    EXPECT_FALSE(Has(log, "Encountered an error"));
    EXPECT_EQ(dbi->CmdFolder(), "");
  }
  EXPECT_TRUE(services_->files.created.empty());
}

using PreparationTest = DatabaseInterfaceFixture;

TEST_F(PreparationTest, CommandFolderWithAndWithoutTheLastSlash) {
  auto dbi = NewInterface();
  EXPECT_EQ(dbi->CmdFolder(), "");
  EXPECT_EQ(dbi->CmdFolder(true), "/");
  ASSERT_TRUE(dbi->MakeFiles()) << Contents();
  ASSERT_EQ(services_->files.created.size(), 1u);
  const std::string folder = services_->files.created[0];
  EXPECT_EQ(dbi->CmdFolder(), folder);
  EXPECT_EQ(dbi->CmdFolder(true), folder + "/");
  EXPECT_EQ(dbi->InputFile(), folder + "/in.r");
  EXPECT_EQ(dbi->LogFile(), folder + "/log.r");
  EXPECT_EQ(ReadFile(dbi->LogFile()), "");
  EXPECT_FALSE(Has(Contents(), "Debug mode"));
  fs::remove_all(folder);
}

// Neither Detection nor Density: the data queries are still made and a command
// file is asked for, but no data file is written.
TEST_F(PreparationTest, NothingToDoStillMakesTheCommandFile) {
  nlohmann::json d = Description12();
  d["model_definitions"][0]["definition"] = "Method io; Detection F; Density F;";
  Open(d);
  NewLog();
  auto dbi = NewInterface();
  ASSERT_TRUE(dbi->MakeFiles()) << Contents();
  EXPECT_TRUE(fs::exists(dbi->InputFile()));
  for (const char* name : {"ddf.dat.r", "region.dat.r", "sample.dat.r", "obs.dat.r"})
    EXPECT_FALSE(fs::exists(dbi->CmdFolder() + "/" + name)) << name;
  fs::remove_all(dbi->CmdFolder());
}

TEST_F(PreparationTest, FolderThatCannotBeCreated) {
  services_->faults.Break("CreateFolder");
  auto dbi = NewInterface();
  EXPECT_FALSE(dbi->MakeFiles());
  ASSERT_EQ(services_->files.created.size(), 1u);
  EXPECT_TRUE(Has(Contents(), "Could not create temporary folder '" +
                                  services_->files.created[0] + "'."))
      << Contents();
  EXPECT_EQ(gLog->Severity(), 2);
}


constexpr char kResults[] = "Summary for io.fi object\r\nNumber of observations : 120\r\n";
constexpr char kStats[] = "0001\t120\r\n0002\t0.75\r\n";

using SaveResultsTest = DatabaseInterfaceFixture;

// A prepared interface with R's files written; answers SaveResults(status).
bool Save(std::unique_ptr<CClsDatabaseInterface>& dbi, const char* results, const char* stats,
          std::int32_t status = 1) {
  const std::string folder = dbi->CmdFolder();
  WriteFile(folder + "/log.r", "> ddf.12 <- ddf()\n");
  if (results) WriteFile(folder + "/res.r", results);
  if (stats) WriteFile(folder + "/stat.r", stats);
  return dbi->SaveResults(status);
}

TEST_F(SaveResultsTest, StatisticsLines) {
  for (const char* stats : {"", "Code\tValue\r\n\r\n0012\t3.5\r\n0013\t1e40\r\n0014  -2.25e1 \r\n"
                                "abcd\t1\r\n00x5\t1\r\n0016\tnot a number\r\n17\t4\r\n0018\r\n"
                                "+019\t0.5\r\n0020\t7"}) {
    auto dbi = Prepared();
    ASSERT_TRUE(Save(dbi, kResults, stats));
    std::vector<std::pair<std::int32_t, float>> stored;
    for (const sqlhost::ItemStat& s : tp_->project()->ItemStats(kItem))
      stored.emplace_back(s.code, s.value);
    if (*stats)
      EXPECT_EQ(stored, (std::vector<std::pair<std::int32_t, float>>{
                            {12, 3.5f}, {14, -22.5f}, {19, 0.5f}, {20, 7.0f}}));
    else
      EXPECT_TRUE(stored.empty());
    EXPECT_EQ(Row()->output, kResults);
    EXPECT_EQ(gLog->Severity(), 0) << Contents();
  }
}

TEST_F(SaveResultsTest, TableMadeByTheFirstSaveRowAndStatisticsReplacedByTheNext) {
  host::dao::Database& db = tp_->project()->Database();
  ASSERT_FALSE(db.TableExists("AnalysisQuoxResults"));
  auto first = Prepared();
  ASSERT_TRUE(Save(first, "first output", "0001\t120\r\n0007\t9\r\n"));
  std::vector<std::pair<std::string, std::int32_t>> fields;
  for (const host::dao::FieldDef& f : db.GetTableDef("AnalysisQuoxResults")->FieldDefs())
    fields.emplace_back(f.name, f.type);
  EXPECT_EQ(fields, (std::vector<std::pair<std::string, std::int32_t>>{
                        {"ID", host::dao::kLong}, {"Output", host::dao::kMemo},
                        {"Log", host::dao::kMemo}}));
  auto table = db.OpenRecordset("AnalysisQuoxResults", host::dao::kOpenTable);
  table->SetIndex("PrimaryKey");
  table->Seek("=", host::Value{std::int64_t{kItem}});
  EXPECT_FALSE(table->NoMatch());
  table->Close();
  ASSERT_EQ(tp_->project()->ItemStats(kItem).size(), 2u);

  // A later run that writes fewer statistics leaves none of the first run's.
  NewLog();
  auto second = Prepared();
  ASSERT_TRUE(Save(second, "second output", "0001\t80\r\n", 2));
  auto rows = db.OpenRecordset("SELECT ID FROM AnalysisQuoxResults");
  rows->MoveLast();
  EXPECT_EQ(rows->RecordCount(), 1);
  EXPECT_EQ(Row()->output, "second output");
  EXPECT_EQ(Row()->log, Contents());
  const auto stats = tp_->project()->ItemStats(kItem);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].code, 1);
  EXPECT_EQ(stats[0].value, 80.0f);

  // A stopped run stores no statistics and keeps none either.
  NewLog();
  auto third = Prepared();
  ASSERT_TRUE(Save(third, nullptr, nullptr, 0));
  EXPECT_TRUE(tp_->project()->ItemStats(kItem).empty());
}

TEST_F(SaveResultsTest, CompressionLevel) {
  for (const host::Value& level : {host::Value{std::int64_t{6}}, host::Value{std::int64_t{0}},
                                   host::Value{std::int64_t{-1}}, host::Value{}}) {
    SCOPED_TRACE(host::ToText(level));
    SetSetting("General", "CompressionLevel", level);
    NewLog();
    auto dbi = Prepared();
    ASSERT_TRUE(Save(dbi, kResults, kStats));
    const StoredRow row = *Row();
    const bool compressed = !host::IsNull(level) && host::ToLong(level) > 0;
    EXPECT_EQ(sqlhost::IsCompressedText(row.output), compressed);
    EXPECT_EQ(sqlhost::IsCompressedText(row.log), compressed);
    EXPECT_EQ(sqlhost::DecompressText(row.output), kResults);
    EXPECT_EQ(sqlhost::DecompressText(row.log), Contents());
  }
}

// A table of that name that is no table: the level-3 source, False, and the
// folder goes all the same.
TEST_F(SaveResultsTest, ResultsTableThatCannotBeMade) {
  sqlite3* handle = tp_->project()->project_database().handle();
  ASSERT_EQ(sqlite3_exec(handle, "CREATE VIEW AnalysisQuoxResults AS SELECT 1 AS Other", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  auto dbi = Prepared();
  EXPECT_FALSE(Save(dbi, kResults, kStats));
  EXPECT_TRUE(Has(Contents(), "DatabaseInterface.OpenQuoxResultsTable")) << Contents();
  EXPECT_EQ(gLog->Severity(), 3);
  EXPECT_FALSE(fs::exists(dbi->CmdFolder()));
}

// Another process holds the project database: the row cannot be stored, the
// log says why, and the folder with R's output stays.
TEST_F(SaveResultsTest, ProjectDatabaseLockedByAnotherConnection) {
  auto first = Prepared();
  ASSERT_TRUE(Save(first, kResults, kStats));
  NewLog();
  auto dbi = Prepared();
  ChildLock other(tp_->project()->project_database().path());
  ASSERT_TRUE(other.locked());
  // The lock is held until released: waiting for it would only slow the test.
  tp_->project()->project_database().SetBusyTimeout(0);
  const bool saved = Save(dbi, "new output", "");
  other.Release();

  EXPECT_FALSE(saved);
  EXPECT_TRUE(Has(Contents(),
                  "Could not store the results of this analysis in the project database: "))
      << Contents();
  EXPECT_TRUE(Has(Contents(), "locked")) << Contents();
  EXPECT_EQ(gLog->Severity(), 2);
  EXPECT_TRUE(fs::exists(dbi->CmdFolder()));
  EXPECT_EQ(Row()->output, kResults);  // the earlier row is untouched
  fs::remove_all(dbi->CmdFolder());
}

}  // namespace
}  // namespace pramble::testing
