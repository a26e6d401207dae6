#include "sqlhost/dao/sqlite_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "dao_test_util.h"
#include "support/child_lock.h"

namespace pramble::sqlhost {
namespace {

using testing::ExpectHostError;
using testing::FieldNames;
using testing::ReadRows;
using testing::Sql;
using testing::TempDir;
namespace dao = host::dao;

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_ / "data.sqlite";
    db_ = SqliteDatabase::Open(path_, OpenMode::kCreate);
    Sql(*db_,
        "CREATE TABLE [Line data] (ID INTEGER, Label TEXT, [Line length] REAL);"
        "INSERT INTO [Line data] VALUES (1, 'A', 2.5), (2, 'B', 3.0), (3, NULL, 4.0);");
  }

  TempDir folder_;
  std::string path_;
  std::unique_ptr<SqliteDatabase> db_;
};

TEST_F(DatabaseTest, OpenModes) {
  EXPECT_EQ(db_->path(), path_);
  ExpectHostError([&] { SqliteDatabase::Open(folder_ / "none.sqlite", OpenMode::kReadWrite); },
                  host::kErrFileNotFound,
                  {"Cannot open the database '" + (folder_ / "none.sqlite") +
                   "': the file does not exist."});
  ExpectHostError([&] { SqliteDatabase::Open(folder_ / "none.sqlite", OpenMode::kReadOnly); },
                  host::kErrFileNotFound, {"the file does not exist."});
  std::ofstream((folder_ / "text.sqlite")) << "this is not a database, but long enough to tell "
                                                 "that it is not one: 0123456789012345678901234";
  ExpectHostError([&] { SqliteDatabase::Open(folder_ / "text.sqlite", OpenMode::kReadWrite); },
                  host::kErrReadOnly,
                  {"Cannot open the database (database '" + (folder_ / "text.sqlite") +
                   "'): file is not a database"});
  auto again = SqliteDatabase::Open(path_, OpenMode::kReadOnly);
  auto rs = again->OpenRecordset("[Line data]", dao::kOpenSnapshot);
  EXPECT_EQ(ReadRows(*rs).size(), 3u);
}

TEST_F(DatabaseTest, ExecuteRunsOneJetStatement) {
  db_->Execute("DELETE * FROM [Line data] WHERE ID = 2");
  db_->Execute("UPDATE [Line data] SET Label = \"it's \" & [Label] WHERE ID = 1");
  auto rs = db_->OpenRecordset("SELECT ID, Label FROM [Line data] ORDER BY ID");
  EXPECT_EQ(ReadRows(*rs), (std::vector<std::string>{"1|it's A", "3|<null>"}));

  ExpectHostError([&] { db_->Execute("DELETE * FROM AnalysisQuoxResults WHERE ID = 12"); },
                  host::kErrTableNotFound,
                  {"Cannot execute the statement (database '" + path_ +
                       "'): no such table: AnalysisQuoxResults",
                   "SQL: DELETE FROM \"AnalysisQuoxResults\" WHERE \"ID\" = 12",
                   "Jet SQL: DELETE * FROM AnalysisQuoxResults WHERE ID = 12"});
  ExpectHostError([&] { db_->Execute("DELETE * FROM [Line data]; DROP TABLE [Line data]"); },
                  host::kErrSql,
                  {"Cannot execute the statement (database '" + path_ +
                   "'): Jet SQL error at position 26: ';' is not allowed"});
  ExpectHostError([&] { db_->Execute("SELECT * FROM [Line data]"); }, host::kErrInvalidOperation,
                  {"Cannot execute a select query"});
  EXPECT_TRUE(db_->TableExists("Line data"));
  // A misspelt name is an error, not a text (double-quoted texts are off).
  ExpectHostError([&] { db_->Execute("UPDATE [Line data] SET Label = [Lable]"); }, host::kErrSql,
                  {"no such column: Lable"});
}

TEST_F(DatabaseTest, OpenRecordsetSources) {
  db_->CreateQueryDef("Lines q", "SELECT * FROM [Line data] WHERE ID < 3");
  struct Source {
    std::string source;
    std::int32_t type;
    std::size_t rows;
  };
  for (const Source& s : std::vector<Source>{{"Line data", dao::kOpenTable, 3},
                                             {"[Line data]", dao::kOpenDynaset, 3},
                                             {"line DATA", dao::kOpenSnapshot, 3},
                                             {"Lines q", dao::kOpenDynaset, 2},
                                             {"[Lines q]", dao::kOpenSnapshot, 2},
                                             {"SELECT * FROM [Lines q] WHERE ID = 2", 2, 1}}) {
    auto rs = db_->OpenRecordset(s.source, s.type);
    EXPECT_EQ(ReadRows(*rs).size(), s.rows) << s.source;
    EXPECT_EQ(FieldNames(*rs), (std::vector<std::string>{"ID", "Label", "Line length"}));
  }
  ExpectHostError([&] { db_->OpenRecordset("Nothing", dao::kOpenDynaset); },
                  host::kErrTableNotFound,
                  {"The database '" + path_ + "' has no table or saved query named 'Nothing'."});
  ExpectHostError([&] { db_->OpenRecordset("Lines q", dao::kOpenTable); },
                  host::kErrInvalidOperation,
                  {"the saved query 'Lines q' of database '" + path_ +
                   "' cannot be opened as a table-type recordset"});
  ExpectHostError([&] { db_->OpenRecordset("SELECT nope FROM [Line data]", dao::kOpenDynaset); },
                  host::kErrSql,
                  {"Cannot open the recordset 'SELECT nope FROM [Line data]' (database '" + path_ +
                       "'): no such column: nope",
                   "SQL: SELECT \"nope\" FROM \"Line data\""});
}

TEST_F(DatabaseTest, SavedQueriesReferToEachOther) {
  db_->CreateQueryDef("q12 Line", "SELECT * FROM [Line data] WHERE [Line length] > 2.6");
  db_->CreateQueryDef("q12_Smp",
                      "SELECT [q12 Line].[ID] & \". \" & [q12 Line].[Label] AS SMP_LABEL, "
                      "[q12 Line].[Line length] AS SMP_EFFORT FROM ([q12 Line]) ");
  db_->CreateQueryDef("q12_Total", "SELECT SUM(SMP_EFFORT) AS Total FROM q12_Smp");
  EXPECT_TRUE(db_->QueryDefExists("q12_Smp"));
  EXPECT_TRUE(db_->QueryDefExists("[Q12_SMP]"));
  EXPECT_FALSE(db_->QueryDefExists("Line data"));
  EXPECT_EQ(db_->QueryDefNames(), (std::vector<std::string>{"q12 Line", "q12_Smp", "q12_Total"}));
  EXPECT_EQ(db_->QueryDefSql("q12_Total"), "SELECT SUM(SMP_EFFORT) AS Total FROM q12_Smp");

  auto smp = db_->OpenRecordset("q12_Smp");
  EXPECT_EQ(ReadRows(*smp), (std::vector<std::string>{"2. B|3", "3. |4"}));
  auto total = db_->OpenRecordset("q12_Total");
  EXPECT_EQ(ReadRows(*total), (std::vector<std::string>{"7"}));

  db_->DeleteQueryDef("q12_Total");
  EXPECT_FALSE(db_->QueryDefExists("q12_Total"));
  ExpectHostError([&] { db_->DeleteQueryDef("q12_Total"); }, host::kErrItemNotFound,
                  {"has no saved query 'q12_Total'"});
  ExpectHostError([&] { db_->QueryDefSql("q12_Total"); }, host::kErrItemNotFound,
                  {"has no saved query 'q12_Total'"});
}

TEST_F(DatabaseTest, CreateQueryDefRefusals) {
  db_->CreateQueryDef("q1", "SELECT ID FROM [Line data]");
  struct Refusal {
    std::string name;
    std::string jet;
    std::int32_t number;
    std::vector<std::string> parts;
  };
  const std::vector<Refusal> refusals = {
      {"q1", "SELECT Label FROM [Line data]", host::kErrObjectExists,
       {"Cannot save the query 'q1' (database '" + path_ +
        "'): a saved query of that name already exists; delete it first."}},
      {"LINE DATA", "SELECT 1 AS x", host::kErrObjectExists,
       {"a table named 'Line data' already exists."}},
      {"q2", "SELECT [Nope] FROM [Line data]", host::kErrSql,
       {"Cannot save the query 'q2' (database '" + path_ + "'): no such column: Nope",
        "SQL: SELECT \"Nope\" FROM \"Line data\"", "Jet SQL: SELECT [Nope] FROM [Line data]"}},
      {"q2", "SELECT Unknown([ID]) FROM [Line data]", host::kErrSql,
       {"no such function: Unknown"}},
      {"q2", "DELETE * FROM [Line data]", host::kErrInvalidOperation,
       {"only SELECT queries can be saved"}},
      {"q2", "SELECT 1 AS x; DROP TABLE [Line data]", host::kErrSql,
       {"Cannot save the query 'q2' (database '" + path_ +
        "'): Jet SQL error at position 14: ';' is not allowed"}},
  };
  for (const Refusal& r : refusals)
    ExpectHostError([&] { db_->CreateQueryDef(r.name, r.jet); }, r.number, r.parts);
  EXPECT_FALSE(db_->QueryDefExists("q2"));
  EXPECT_EQ(db_->QueryDefNames(), (std::vector<std::string>{"q1"}));
  EXPECT_TRUE(db_->TableExists("Line data"));
}

TEST_F(DatabaseTest, TableDefinitions) {
  auto def = db_->CreateTableDef("Results é");
  def->AppendField({"ID", dao::kLong, true, true, {}});
  def->AppendField({"Output", dao::kMemo, false, true, std::string("\"\"")});
  def->AppendField({"Name", dao::kText, false, false, std::string("\"it\"\"s\"")});
  def->AppendField({"Flag", dao::kBoolean, false, true, true});
  def->AppendField({"Ratio", dao::kDouble, false, true, 0.5});
  EXPECT_FALSE(db_->TableExists("Results é"));
  db_->AppendTableDef(*def);
  def->AddPrimaryKey({"ID"});
  EXPECT_TRUE(db_->TableExists("results é"));

  ExpectHostError([&] { db_->AppendTableDef(*db_->CreateTableDef("Line data")); },
                  host::kErrObjectExists,
                  {"Cannot append the table definition 'Line data': the database '" + path_ +
                   "' already has a table named 'Line data'."});
  ExpectHostError([&] { db_->GetTableDef("Nope"); }, host::kErrItemNotFound,
                  {"has no table 'Nope'"});

  auto read = db_->GetTableDef("Results é");
  EXPECT_EQ(read->Name(), "Results é");
  const auto fields = read->FieldDefs();
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[0].type, dao::kLong);
  EXPECT_TRUE(fields[0].required);
  EXPECT_EQ(fields[1].type, dao::kMemo);
  EXPECT_EQ(fields[1].default_value, host::Value(std::string("")));
  EXPECT_EQ(fields[2].type, dao::kText);
  EXPECT_FALSE(fields[2].allow_zero_length);
  EXPECT_TRUE(fields[1].allow_zero_length);
  EXPECT_EQ(fields[2].default_value, host::Value(std::string("it\"s")));
  EXPECT_EQ(fields[3].type, dao::kBoolean);
  EXPECT_EQ(fields[4].default_value, host::Value(0.5));

  // Defaults apply; the primary key refuses a second row of the same ID;
  // a text that may not be empty refuses "".
  db_->Execute("INSERT INTO [Results é] (ID) VALUES (1)");
  auto rs = db_->OpenRecordset("Results é", dao::kOpenSnapshot);
  EXPECT_EQ(ReadRows(*rs), (std::vector<std::string>{"1||it\"s|True|0.5"}));
  ExpectHostError([&] { db_->Execute("INSERT INTO [Results é] (ID) VALUES (1)"); }, host::kErrSql,
                  {"UNIQUE constraint failed"});
  ExpectHostError([&] { db_->Execute("INSERT INTO [Results é] (ID, Name) VALUES (2, \"\")"); },
                  host::kErrSql, {"CHECK constraint failed"});

  // A field added to an existing table.
  read->AppendField({"Extra", dao::kLong, false, true, {}});
  EXPECT_EQ(db_->GetTableDef("Results é")->FieldDefs().size(), 6u);
}

TEST_F(DatabaseTest, LockedByAnotherProcess) {
  db_->SetBusyTimeout(100);
  {
    pramble::testing::ChildLock lock(path_, "BEGIN EXCLUSIVE; DELETE FROM [Line data] WHERE ID = 3;");
    ASSERT_TRUE(lock.locked());
    ExpectHostError([&] { db_->Execute("DELETE * FROM [Line data] WHERE ID = 1"); },
                    host::kErrDatabaseLocked,
                    {"Cannot execute the statement: the database '" + path_ +
                         "' is locked by another process (gave up after 100 milliseconds",
                     "SQL: DELETE FROM \"Line data\" WHERE \"ID\" = 1"});
    ExpectHostError([&] { db_->OpenRecordset("Line data"); }, host::kErrDatabaseLocked,
                    {"is locked by another process"});
  }
  db_->Execute("DELETE * FROM [Line data] WHERE ID = 1");
  auto rs = db_->OpenRecordset("SELECT ID FROM [Line data]");
  EXPECT_EQ(ReadRows(*rs), (std::vector<std::string>{"2", "3"}));
}

TEST_F(DatabaseTest, ReadOnly) {
  db_->CreateQueryDef("q1", "SELECT ID FROM [Line data]");
  auto ro = SqliteDatabase::Open(path_, OpenMode::kReadOnly);
  ExpectHostError([&] { ro->Execute("DELETE * FROM [Line data]"); }, host::kErrReadOnly,
                  {"Cannot execute the statement: the database '" + path_ + "' is read-only",
                   "SQL: DELETE FROM \"Line data\""});
  ExpectHostError([&] { ro->CreateQueryDef("q2", "SELECT ID FROM [Line data]"); },
                  host::kErrReadOnly, {"is read-only"});
  auto rs = ro->OpenRecordset("Line data", dao::kOpenTable);
  rs->Edit();
  rs->Fields("Label").SetValue(std::string("Z"));
  ExpectHostError([&] { rs->Update(); }, host::kErrReadOnly, {"is read-only"});
  EXPECT_EQ(ReadRows(*ro->OpenRecordset("q1")).size(), 3u);

  if (geteuid() != 0) {  // permissions do not bind root
    chmod(path_.c_str(), 0444);
    ExpectHostError([&] { SqliteDatabase::Open(path_, OpenMode::kReadWrite); },
                    host::kErrReadOnly, {"for writing: the file is read-only."});
  }
}

}  // namespace
}  // namespace pramble::sqlhost
