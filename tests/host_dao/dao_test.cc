// The DAO on real SQLite files: the steps of tests/data/host_dao/dao_script.tsv,
// then what needs a recordset in hand, a second connection or another process.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pramble/host/errors.h"
#include "sqlhost/dao/sqlite_database.h"
#include "support/child_lock.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

namespace dao = host::dao;
using pramble::testing::TempDir;

std::string Show(const host::Value& v) { return host::IsNull(v) ? "<null>" : host::ToText(v); }

// Every row from the current one on, each value shown, joined by "|".
std::vector<std::string> ReadRows(dao::Recordset& rs) {
  std::vector<std::string> rows;
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string row;
    for (int i = 0; i < rs.FieldCount(); ++i)
      row += (i ? "|" : "") + Show(rs.Fields(i).GetValue());
    rows.push_back(row);
  }
  return rows;
}

std::string Join(const std::vector<std::string>& parts, const std::string& by) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : by) + p;
  return out;
}

void Sql(SqliteDatabase& db, const std::string& sql) {
  ASSERT_EQ(sqlite3_exec(db.handle(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
}

// Expects `body` to throw HostError `number` with a description holding `part`.
template <typename F>
void ExpectHostError(F&& body, std::int32_t number, const std::string& part) {
  try {
    body();
    ADD_FAILURE() << "no HostError thrown; expected " << number;
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), number) << e.description();
    EXPECT_TRUE(pramble::testing::Has(e.description(), part)) << e.description();
  }
}

// One step of the script: what it gave, or "error N: description".
std::string RunStep(SqliteDatabase& db, const std::vector<std::string>& step) {
  const std::string &op = step[0], &a = step[1], &b = step[2];
  try {
    if (op == "sql") Sql(db, a);
    if (op == "exec") db.Execute(a);
    if (op == "save") db.CreateQueryDef(a, b);
    if (op == "delete") db.DeleteQueryDef(a);
    if (op == "querysql") return db.QueryDefSql(a);
    if (op == "querydefs") return Join(db.QueryDefNames(), ", ");
    if (op == "exists")
      return std::string(db.QueryDefExists(a) ? "query" : "") + (db.TableExists(a) ? "table" : "");
    if (op != "rows" && op != "fields" && op != "field") return "";
    auto rs = db.OpenRecordset(
        a, b == "table" ? dao::kOpenTable : b == "snapshot" ? dao::kOpenSnapshot : dao::kOpenDynaset);
    if (op == "rows") return Join(ReadRows(*rs), " ; ");
    if (op == "field")
      return Show((std::isdigit(b[0]) ? rs->Fields(std::stoi(b)) : rs->Fields(b)).GetValue());
    std::vector<std::string> fields;
    for (int i = 0; i < rs->FieldCount(); ++i)
      fields.push_back(rs->Fields(i).Name() + ":" + std::to_string(rs->Fields(i).Type()));
    return Join(fields, " ");
  } catch (const host::HostError& e) {
    return "error " + std::to_string(e.number()) + ": " + e.description();
  }
}

TEST(DaoScriptTest, StepsFromFile) {
  TempDir folder;
  const std::string path = folder / "data.sqlite";
  auto db = SqliteDatabase::Open(path, OpenMode::kCreate);
  for (auto step : pramble::testing::ReadTable("host_dao/dao_script.tsv")) {
    step.resize(4);
    SCOPED_TRACE(Join(step, " | "));
    for (auto at = step[3].find("<db>"); at != std::string::npos; at = step[3].find("<db>"))
      step[3].replace(at, 4, path);
    const std::string got = RunStep(*db, step);
    if (step[3].rfind("error ", 0) != 0) {
      EXPECT_EQ(got, step[3]);
      continue;
    }
    const std::size_t colon = step[3].find(": ");
    EXPECT_EQ(got.substr(0, colon), step[3].substr(0, colon)) << got;
    std::string rest = step[3].substr(colon + 2);
    for (std::size_t at; !rest.empty(); rest = at == std::string::npos ? "" : rest.substr(at + 5)) {
      at = rest.find(" ... ");
      EXPECT_TRUE(pramble::testing::Has(got, rest.substr(0, at))) << got;
    }
  }
}

class DaoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_ / "data.sqlite";
    db_ = SqliteDatabase::Open(path_, OpenMode::kCreate);
    Sql(*db_, "CREATE TABLE t (i INTEGER, s TEXT, b BOOLEAN, n INTEGER);"
              "INSERT INTO t VALUES (1, 'one', 1, NULL), (2, 'two', 0, 5), (3, NULL, 1, NULL);");
  }
  std::vector<std::string> Rows(const std::string& source) {
    return ReadRows(*db_->OpenRecordset(source));
  }

  TempDir folder_;
  std::string path_;
  std::unique_ptr<SqliteDatabase> db_;
};

TEST_F(DaoTest, OpenModes) {
  EXPECT_EQ(db_->path(), path_);
  for (OpenMode mode : {OpenMode::kReadWrite, OpenMode::kReadOnly})
    ExpectHostError([&] { SqliteDatabase::Open(folder_ / "none.sqlite", mode); },
                    host::kErrFileNotFound,
                    "Cannot open the database '" + (folder_ / "none.sqlite") +
                        "': the file does not exist.");
  pramble::testing::WriteFile(folder_ / "text.sqlite", std::string(100, 'x'));
  ExpectHostError([&] { SqliteDatabase::Open(folder_ / "text.sqlite", OpenMode::kReadWrite); },
                  host::kErrReadOnly,
                  "Cannot open the database (database '" + (folder_ / "text.sqlite") +
                      "'): file is not a database");
  EXPECT_EQ(ReadRows(*SqliteDatabase::Open(path_, OpenMode::kReadOnly)->OpenRecordset("t")).size(),
            3u);
}

TEST_F(DaoTest, TableDefinitions) {
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
  ExpectHostError([&] { db_->AppendTableDef(*db_->CreateTableDef("t")); }, host::kErrObjectExists,
                  "Cannot append the table definition 't': the database '" + path_ +
                      "' already has a table named 't'.");
  ExpectHostError([&] { db_->GetTableDef("Nope"); }, host::kErrItemNotFound, "has no table 'Nope'");

  auto read = db_->GetTableDef("Results é");
  EXPECT_EQ(read->Name(), "Results é");
  std::string shown;
  for (const auto& f : read->FieldDefs())
    shown += f.name + ":" + std::to_string(f.type) + (f.required ? " required" : "") +
             (f.allow_zero_length ? " empty" : "") + " = " + Show(f.default_value) + "; ";
  EXPECT_EQ(shown,
            "ID:4 required empty = <null>; Output:12 empty = ; Name:10 = it\"s; "
            "Flag:1 empty = 1; Ratio:7 empty = 0.5; ");
  // Defaults apply; the primary key refuses a second row of the same ID;
  // a text that may not be empty refuses "".
  db_->Execute("INSERT INTO [Results é] (ID) VALUES (1)");
  EXPECT_EQ(Rows("Results é"), (std::vector<std::string>{"1||it\"s|True|0.5"}));
  ExpectHostError([&] { db_->Execute("INSERT INTO [Results é] (ID) VALUES (1)"); }, host::kErrSql,
                  "UNIQUE constraint failed");
  ExpectHostError([&] { db_->Execute("INSERT INTO [Results é] (ID, Name) VALUES (2, \"\")"); },
                  host::kErrSql, "CHECK constraint failed");
  read->AppendField({"Extra", dao::kLong, false, true, {}});  // to an existing table
  EXPECT_EQ(db_->GetTableDef("Results é")->FieldDefs().size(), 6u);
}

TEST_F(DaoTest, LockedByAnotherProcess) {
  db_->SetBusyTimeout(100);
  {
    pramble::testing::ChildLock lock(path_, "BEGIN EXCLUSIVE; DELETE FROM t WHERE i = 3;");
    ASSERT_TRUE(lock.locked());
    ExpectHostError([&] { db_->Execute("DELETE * FROM t WHERE i = 1"); }, host::kErrDatabaseLocked,
                    "Cannot execute the statement: the database '" + path_ +
                        "' is locked by another process (gave up after 100 milliseconds");
    ExpectHostError([&] { db_->OpenRecordset("t"); }, host::kErrDatabaseLocked,
                    "is locked by another process");
  }
  db_->Execute("DELETE * FROM t WHERE i = 1");
  EXPECT_EQ(Rows("SELECT i FROM t"), (std::vector<std::string>{"2", "3"}));
}

TEST_F(DaoTest, ReadOnly) {
  db_->CreateQueryDef("q1", "SELECT i FROM t");
  auto ro = SqliteDatabase::Open(path_, OpenMode::kReadOnly);
  ExpectHostError([&] { ro->Execute("DELETE * FROM t"); }, host::kErrReadOnly,
                  "Cannot execute the statement: the database '" + path_ +
                      "' is read-only (SQLite: attempt to write a readonly database). SQL: "
                      "DELETE FROM \"t\"");
  ExpectHostError([&] { ro->CreateQueryDef("q2", "SELECT i FROM t"); }, host::kErrReadOnly,
                  "is read-only");
  auto rs = ro->OpenRecordset("t", dao::kOpenTable);
  rs->Edit();
  rs->Fields("s").SetValue(std::string("Z"));
  ExpectHostError([&] { rs->Update(); }, host::kErrReadOnly, "is read-only");
  EXPECT_EQ(ReadRows(*ro->OpenRecordset("q1")).size(), 3u);
  if (geteuid() != 0) {  // permissions do not bind root
    chmod(path_.c_str(), 0444);
    ExpectHostError([&] { SqliteDatabase::Open(path_, OpenMode::kReadWrite); }, host::kErrReadOnly,
                    "for writing: the file is read-only.");
  }
}

TEST_F(DaoTest, MovesAndCounts) {
  auto empty = db_->OpenRecordset("SELECT i FROM t WHERE i > 10");
  EXPECT_TRUE(empty->Eof());
  EXPECT_EQ(empty->RecordCount(), 0);
  for (auto move : {&dao::Recordset::MoveFirst, &dao::Recordset::MoveLast,
                    &dao::Recordset::MoveNext})
    ExpectHostError([&] { ((*empty).*move)(); }, host::kErrNoCurrentRecord, "No current record.");
  ExpectHostError([&] { empty->Fields("i").GetValue(); }, host::kErrNoCurrentRecord,
                  "No current record.");

  Sql(*db_, "CREATE TABLE big (k INTEGER); WITH RECURSIVE c(k) AS (SELECT 1 UNION ALL SELECT "
            "k + 1 FROM c WHERE k < 100000) INSERT INTO big SELECT k FROM c;");
  auto rs = db_->OpenRecordset("SELECT k FROM big ORDER BY k DESC");
  std::string seen;
  for (auto move : {&dao::Recordset::MoveNext, &dao::Recordset::MoveNext,
                    &dao::Recordset::MoveFirst, &dao::Recordset::MoveLast,
                    &dao::Recordset::MoveFirst}) {
    seen += std::to_string(rs->RecordCount()) + ":" + Show(rs->Fields("K").GetValue()) + " ";
    ((*rs).*move)();
  }
  EXPECT_EQ(seen, "1:100000 2:99999 3:99998 3:100000 100000:1 ");
  EXPECT_EQ(Show(rs->Fields("K").GetValue()), "100000");
  rs->MoveLast();
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  ExpectHostError([&] { rs->MoveNext(); }, host::kErrNoCurrentRecord, "No current record.");
  rs->Close();
  rs->Close();
  ExpectHostError([&] { rs->MoveFirst(); }, host::kErrObjectClosed, "is closed");
}

TEST_F(DaoTest, ReadOnlyKinds) {
  db_->CreateQueryDef("q", "SELECT i FROM t");
  for (const auto& [source, type] : std::vector<std::pair<std::string, std::int32_t>>{
           {"t", dao::kOpenSnapshot}, {"q", dao::kOpenDynaset}, {"SELECT i FROM t", 2}}) {
    auto rs = db_->OpenRecordset(source, type);
    ExpectHostError([&] { rs->AddNew(); }, host::kErrNotUpdatable,
                    "Cannot update. Database or object is read-only: the recordset '" + source);
    ExpectHostError([&] { rs->Edit(); }, host::kErrNotUpdatable, "read-only");
    ExpectHostError([&] { rs->Seek("=", std::int64_t{1}); }, host::kErrNotSupported,
                    "Seek needs a table-type recordset");
    ExpectHostError([&] { rs->SetIndex("PrimaryKey"); }, host::kErrNotSupported,
                    "SetIndex needs a table-type recordset");
  }
  auto rs = db_->OpenRecordset("t", dao::kOpenDynaset);
  ExpectHostError([&] { rs->Fields("s").SetValue(std::string("z")); },
                  host::kErrUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit");
  ExpectHostError([&] { rs->Update(); }, host::kErrUpdateWithoutEdit, "without AddNew or Edit");
}

// The results table as it is saved: created with a primary key, sought,
// added to or edited, updated, and reset.
TEST_F(DaoTest, ResultsTableSaveAndReset) {
  auto def = db_->CreateTableDef("AnalysisQuoxResults");
  def->AppendField({"ID", dao::kLong, true, true, {}});
  def->AppendField({"Output", dao::kMemo, false, true, std::string("\"\"")});
  def->AppendField({"Log", dao::kMemo, false, true, std::string("\"\"")});
  db_->AppendTableDef(*def);
  def->AddPrimaryKey({"ID"});
  const std::string big(5 * 1024 * 1024, 'o');
  auto save = [&](std::int64_t id, const std::string& output, const std::string& log) {
    auto rs = db_->OpenRecordset("AnalysisQuoxResults", dao::kOpenTable);
    rs->SetIndex("PrimaryKey");
    rs->Seek("=", id);
    if (rs->NoMatch()) {
      rs->AddNew();
      rs->Fields("ID").SetValue(id);
    } else {
      rs->Edit();
    }
    rs->Fields("Log").SetValue(log);
    rs->Fields("Output").SetValue(output);
    rs->Update();
    rs->Close();
  };
  save(12, "first", "log 1");
  save(7, "other", "log 7");
  save(12, big, "log 2");

  auto rs = db_->OpenRecordset("AnalysisQuoxResults", dao::kOpenTable);
  EXPECT_EQ(rs->RecordCount(), 2);
  rs->SetIndex("PrimaryKey");
  EXPECT_EQ(Show(rs->Fields("ID").GetValue()), "7");  // index order
  rs->Seek("=", std::int64_t{12});
  ASSERT_FALSE(rs->NoMatch());
  EXPECT_EQ(std::get<std::string>(rs->Fields("Output").GetValue()), big);
  EXPECT_EQ(Show(rs->Fields("Log").GetValue()), "log 2");
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  rs->Seek(">=", std::int64_t{8});
  EXPECT_EQ(Show(rs->Fields("ID").GetValue()), "12");
  rs->Seek("<", std::int64_t{12});
  EXPECT_EQ(Show(rs->Fields("ID").GetValue()), "7");
  rs->Seek("=", std::int64_t{99});
  EXPECT_TRUE(rs->NoMatch());
  ExpectHostError([&] { rs->Fields("ID").GetValue(); }, host::kErrNoCurrentRecord,
                  "No current record.");
  ExpectHostError([&] { rs->SetIndex("ByName"); }, host::kErrItemNotFound,
                  "'ByName' is not an index of the table 'AnalysisQuoxResults'");
  rs->Close();
  db_->Execute("DELETE * FROM AnalysisQuoxResults WHERE ID = 12");
  EXPECT_EQ(Rows("SELECT ID, Output FROM AnalysisQuoxResults"),
            (std::vector<std::string>{"7|other"}));
}

TEST_F(DaoTest, EditKeepsPositionAndShowsNewValues) {
  auto rs = db_->OpenRecordset("t", dao::kOpenDynaset);
  rs->MoveNext();
  rs->Edit();
  EXPECT_EQ(Show(rs->Fields("s").GetValue()), "two");
  rs->Fields("s").SetValue(std::string("deux"));
  rs->Fields("b").SetValue(true);
  rs->Update();
  EXPECT_EQ(Show(rs->Fields("s").GetValue()), "deux");
  EXPECT_EQ(Show(rs->Fields("b").GetValue()), "True");
  rs->AddNew();
  rs->Fields("i").SetValue(std::int64_t{4});
  rs->Update();
  EXPECT_EQ(Show(rs->Fields("i").GetValue()), "2");  // still the row before AddNew
  EXPECT_EQ(Rows("SELECT i, s FROM t ORDER BY i"),
            (std::vector<std::string>{"1|one", "2|deux", "3|<null>", "4|<null>"}));
}

TEST_F(DaoTest, WritesAfterAnotherConnectionCommittedAndMovesOnAfterwards) {
  Sql(*db_, "PRAGMA journal_mode = WAL");
  auto rs = db_->OpenRecordset("t", dao::kOpenTable);  // reads from here on
  rs->MoveFirst();
  SqliteDatabase::Open(path_, OpenMode::kReadWrite)->Execute("UPDATE t SET n = 99 WHERE i = 3");
  rs->Edit();
  rs->Fields("s").SetValue(std::string("uno"));
  rs->Update();  // would fail at once on the old snapshot
  rs->AddNew();
  rs->Fields("i").SetValue(std::int64_t{4});
  rs->Update();
  rs->MoveNext();  // the cursor goes on after the row it stood on
  EXPECT_EQ(Show(rs->Fields("i").GetValue()), "2");
  EXPECT_EQ(Rows("SELECT i, s, n FROM t ORDER BY i"),
            (std::vector<std::string>{"1|uno|<null>", "2|two|5", "3|<null>|99", "4|<null>|<null>"}));
}

TEST_F(DaoTest, TableWithDeclaredPrimaryKey) {
  Sql(*db_, "CREATE TABLE k (code TEXT PRIMARY KEY COLLATE NOCASE, v INTEGER);"
            "INSERT INTO k VALUES ('b', 2), ('a', 1), ('c', 3);");
  auto rs = db_->OpenRecordset("k", dao::kOpenTable);
  rs->SetIndex("PrimaryKey");
  EXPECT_EQ(ReadRows(*rs), (std::vector<std::string>{"a|1", "b|2", "c|3"}));
  rs->Seek("=", std::string("B"));
  ASSERT_FALSE(rs->NoMatch());
  EXPECT_EQ(Show(rs->Fields("v").GetValue()), "2");
}

}  // namespace
}  // namespace pramble::sqlhost
