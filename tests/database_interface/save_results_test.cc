// SaveResults: which of R's files are read for each engine status, the scan of
// the R log, the statistics file, the results table and its row, compression,
// and the faults of a results table that cannot be made or a project database
// that another process holds locked.
#include <sqlite3.h>

#include <filesystem>

#include "database_interface/database_interface_fixture.h"
#include "sqlhost/util/results_utilities.h"
#include "support/child_lock.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kRLog[] = "> library(quox)\n> ddf.12 <- ddf(dsmodel = ~cds(key = \"hn\"))\n";
constexpr char kResults[] = "Summary for io.fi object\r\nNumber of observations : 120\r\n";
constexpr char kStats[] = "0001\t120\r\n0002\t0.75\r\n";

// What R leaves in the command folder.
void WriteROutput(const std::string& folder, const char* r_log, const char* results,
                  const char* stats) {
  if (r_log) WriteFile(folder + "/log.r", r_log);
  else fs::remove(folder + "/log.r");
  if (results) WriteFile(folder + "/res.r", results);
  if (stats) WriteFile(folder + "/stat.r", stats);
}

struct SaveCase {
  const char* name;
  std::int32_t status;
  bool debug;
  const char* r_log;
  std::int32_t status_after;
  bool log_read;
  bool results_read;
  bool stats_read;
  bool run_finished;
};

const SaveCase kSaveCases[] = {
    {"Stopped", 0, false, kRLog, 0, true, false, false, true},
    {"Finished", 1, false, kRLog, 1, true, true, true, true},
    {"Warnings", 2, false, kRLog, 2, true, true, true, true},
    {"RError", 3, false, kRLog, 3, true, true, false, true},
    {"Abnormal", 4, false, kRLog, 4, true, true, false, true},
    {"Killed", 5, false, kRLog, 5, true, false, false, true},
    {"NotStarted", 6, false, kRLog, 6, false, false, false, false},
    {"DebugReadsNothing", 2, true, kRLog, 2, false, false, false, true},
    {"DebugEvenWhenNotStarted", 6, true, kRLog, 6, false, false, false, true},
    {"ErrorInTheLogStopsTheStatistics", 1, false, "Error in solve(): singular\n", 3, true, true,
     false, true},
    {"HaltedInTheLog", 2, false, "Execution halted\n", 3, true, true, false, true},
    {"AnErrorStaysAbnormal", 4, false, "ERROR\n", 4, true, true, false, true},
};

class SaveResultsTableTest : public DatabaseInterfaceFixture,
                             public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveResultsTableTest, ReadsWhatTheStatusCallsFor) {
  const SaveCase& c = GetParam();
  auto dbi = Prepared(c.debug);
  const std::string folder = dbi->CmdFolder();
  WriteROutput(folder, c.r_log, kResults, kStats);
  NewLog();

  std::int32_t status = c.status;
  EXPECT_TRUE(dbi->SaveResults(status));
  EXPECT_EQ(status, c.status_after);

  const std::string log = Contents();
  EXPECT_EQ(Has(log, "-- Start of Analyis Engine Log File --"), c.log_read) << log;
  EXPECT_EQ(Has(log, c.r_log), c.log_read) << log;
  EXPECT_EQ(Has(log, "-- End of Analyis Engine Log File --"), c.log_read) << log;
  EXPECT_EQ(Has(log, "Analysis engine status '" +
                         tp_->services().Results().GetEngineStatusText(c.status_after) + "'"),
            !c.debug && c.status != 6)
      << log;
  EXPECT_EQ(Has(log, "Reading Results"), c.results_read) << log;
  EXPECT_EQ(Has(log, "Run finished"), c.run_finished) << log;
  EXPECT_EQ(tp_->project()->ItemStats(kItem).size(), c.stats_read ? 2u : 0u);

  const std::optional<StoredRow> row = Row();
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->output, c.results_read ? kResults : "");
  EXPECT_EQ(row->log, log);
  EXPECT_EQ(fs::exists(folder), c.debug);
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(EngineStatus, SaveResultsTableTest, ::testing::ValuesIn(kSaveCases),
                         [](const auto& info) { return std::string(info.param.name); });

using SaveResultsTest = DatabaseInterfaceFixture;

TEST_F(SaveResultsTest, StatisticsLines) {
  auto dbi = Prepared();
  WriteROutput(dbi->CmdFolder(), kRLog, kResults,
               "Code\tValue\r\n"
               "\r\n"
               "0012\t3.5\r\n"
               "0013\t1e40\r\n"          // too large for a 32-bit float
               "0014  -2.25e1 \r\n"
               "abcd\t1\r\n"
               "00x5\t1\r\n"
               "0016\tnot a number\r\n"
               "17\t4\r\n"
               "0018\r\n"
               "+019\t0.5\r\n"
               "0020\t7");
  std::int32_t status = 1;
  ASSERT_TRUE(dbi->SaveResults(status));
  std::vector<std::pair<std::int32_t, float>> stored;
  for (const sqlhost::ItemStat& s : tp_->project()->ItemStats(kItem))
    stored.emplace_back(s.code, s.value);
  EXPECT_EQ(stored, (std::vector<std::pair<std::int32_t, float>>{
                        {12, 3.5f}, {14, -22.5f}, {19, 0.5f}, {20, 7.0f}}));
  EXPECT_EQ(Row()->output, kResults);
  EXPECT_EQ(gLog->Severity(), 0) << Contents();
}

TEST_F(SaveResultsTest, EmptyStatisticsFileStoresNothingAndKeepsTheOutput) {
  auto dbi = Prepared();
  WriteROutput(dbi->CmdFolder(), kRLog, kResults, "");
  std::int32_t status = 1;
  ASSERT_TRUE(dbi->SaveResults(status));
  EXPECT_TRUE(tp_->project()->ItemStats(kItem).empty());
  EXPECT_EQ(Row()->output, kResults);
}

TEST_F(SaveResultsTest, MissingFiles) {
  auto dbi = Prepared();
  WriteROutput(dbi->CmdFolder(), nullptr, nullptr, nullptr);
  std::int32_t status = 1;
  ASSERT_TRUE(dbi->SaveResults(status));
  const std::string log = Contents();
  EXPECT_TRUE(Has(log, "Analysis engine finished, but Corvane could not read the log file."));
  EXPECT_TRUE(Has(log, "Could not read the results file.  Results not saved."));
  EXPECT_TRUE(Has(log, "DatabaseInterface.SaveStatsFileContents"));
  EXPECT_TRUE(Has(log, "Could not read the stats file.  Results not saved."));
  EXPECT_EQ(gLog->Severity(), 3);
  // Lost results are no clean finish.
  EXPECT_EQ(status, 2);
  EXPECT_EQ(Row()->output, "");
}

TEST_F(SaveResultsTest, TableMadeByTheFirstSaveAndRowReplacedByTheSecond) {
  host::dao::Database& db = tp_->project()->Database();
  ASSERT_FALSE(db.TableExists("AnalysisQuoxResults"));

  auto first = Prepared();
  WriteROutput(first->CmdFolder(), kRLog, "first output", kStats);
  std::int32_t status = 1;
  ASSERT_TRUE(first->SaveResults(status));
  ASSERT_TRUE(db.TableExists("AnalysisQuoxResults"));
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

  NewLog();
  auto second = Prepared();
  WriteROutput(second->CmdFolder(), kRLog, "second output", kStats);
  status = 2;
  ASSERT_TRUE(second->SaveResults(status));
  auto rows = db.OpenRecordset("SELECT ID, Output FROM AnalysisQuoxResults");
  int count = 0;
  for (; !rows->Eof(); rows->MoveNext()) ++count;
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Row()->output, "second output");
  EXPECT_EQ(Row()->log, Contents());
}

TEST_F(SaveResultsTest, EverySaveReplacesTheStatisticsOfTheEarlierRun) {
  auto first = Prepared();
  WriteROutput(first->CmdFolder(), kRLog, "first output", "0001\t120\r\n0007\t9\r\n");
  std::int32_t status = 1;
  ASSERT_TRUE(first->SaveResults(status));
  ASSERT_EQ(tp_->project()->ItemStats(kItem).size(), 2u);

  // A later run that writes fewer statistics leaves none of the first run's.
  NewLog();
  auto second = Prepared();
  WriteROutput(second->CmdFolder(), kRLog, "second output", "0001\t80\r\n");
  status = 1;
  ASSERT_TRUE(second->SaveResults(status));
  auto stats = tp_->project()->ItemStats(kItem);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].code, 1);
  EXPECT_EQ(stats[0].value, 80.0f);

  // A stopped run stores no statistics and keeps none either.
  NewLog();
  auto third = Prepared();
  WriteROutput(third->CmdFolder(), kRLog, nullptr, nullptr);
  status = 0;
  ASSERT_TRUE(third->SaveResults(status));
  EXPECT_TRUE(tp_->project()->ItemStats(kItem).empty());
}

TEST_F(SaveResultsTest, CompressionLevel) {
  for (const host::Value& level : {host::Value{std::int64_t{6}}, host::Value{std::int64_t{0}},
                                   host::Value{std::int64_t{-1}}, host::Value{}}) {
    SCOPED_TRACE(host::ToText(level));
    SetSetting("General", "CompressionLevel", level);
    NewLog();
    auto dbi = Prepared();
    WriteROutput(dbi->CmdFolder(), kRLog, kResults, kStats);
    std::int32_t status = 1;
    ASSERT_TRUE(dbi->SaveResults(status));
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
  const std::string folder = dbi->CmdFolder();
  WriteROutput(folder, kRLog, kResults, kStats);
  std::int32_t status = 1;
  EXPECT_FALSE(dbi->SaveResults(status));
  EXPECT_TRUE(Has(Contents(), "DatabaseInterface.OpenQuoxResultsTable")) << Contents();
  EXPECT_EQ(gLog->Severity(), 3);
  EXPECT_FALSE(fs::exists(folder));
}

// Another process holds the project database: the row cannot be stored, the
// log says why, and the folder with R's output stays.
TEST_F(SaveResultsTest, ProjectDatabaseLockedByAnotherConnection) {
  auto first = Prepared();
  WriteROutput(first->CmdFolder(), kRLog, kResults, kStats);
  std::int32_t status = 1;
  ASSERT_TRUE(first->SaveResults(status));

  NewLog();
  auto dbi = Prepared();
  const std::string folder = dbi->CmdFolder();
  WriteROutput(folder, kRLog, "new output", "");

  ChildLock other(tp_->project()->project_database().path());
  ASSERT_TRUE(other.locked());
  // The lock is held until released: waiting for it would only slow the test.
  tp_->project()->project_database().SetBusyTimeout(0);
  status = 1;
  const bool saved = dbi->SaveResults(status);
  other.Release();

  EXPECT_FALSE(saved);
  EXPECT_TRUE(Has(Contents(),
                  "Could not store the results of this analysis in the project database: "))
      << Contents();
  EXPECT_TRUE(Has(Contents(), "locked")) << Contents();
  EXPECT_EQ(gLog->Severity(), 2);
  EXPECT_TRUE(fs::exists(folder));
  EXPECT_EQ(Row()->output, kResults);  // the earlier row is untouched
  fs::remove_all(folder);
}

}  // namespace
}  // namespace pramble::testing
