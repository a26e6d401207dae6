#include "sqlhost/dao/sqlite_recordset.h"

#include <gtest/gtest.h>

#include "dao_test_util.h"
#include "sqlhost/dao/sqlite_database.h"

namespace pramble::sqlhost {
namespace {

using testing::ExpectHostError;
using testing::ReadRows;
using testing::Show;
using testing::Sql;
using testing::TempDir;
namespace dao = host::dao;

class RecordsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = SqliteDatabase::Open(folder_ / "data.sqlite", OpenMode::kCreate);
    Sql(*db_,
        "CREATE TABLE t (i INTEGER, r REAL, s TEXT, m LONGTEXT, b BOOLEAN, d DATETIME, "
        "n INTEGER, sh SMALLINT, sg SINGLE, c CURRENCY, x);"
        "INSERT INTO t VALUES (1, 1.5, 'one', 'memo', 1, '2001-01-31', NULL, 7, 2.5, 3, 'x'),"
        " (2, -2.5, 'two', NULL, 0, NULL, 5, 8, 1, 4, 2), (3, 0, NULL, '', 1, NULL, NULL, 9, 0, 5, 3);");
  }

  TempDir folder_;
  std::unique_ptr<SqliteDatabase> db_;
};

TEST_F(RecordsetTest, EmptyResult) {
  auto rs = db_->OpenRecordset("SELECT i FROM t WHERE i > 10");
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->RecordCount(), 0);
  for (auto move : {&dao::Recordset::MoveFirst, &dao::Recordset::MoveLast,
                    &dao::Recordset::MoveNext}) {
    ExpectHostError([&] { ((*rs).*move)(); }, host::kErrNoCurrentRecord, {"No current record."});
  }
  ExpectHostError([&] { rs->Fields("i").GetValue(); }, host::kErrNoCurrentRecord,
                  {"No current record."});
  EXPECT_TRUE(rs->Eof());
}

TEST_F(RecordsetTest, MovesAndCounts) {
  Sql(*db_,
      "CREATE TABLE big (k INTEGER);"
      "WITH RECURSIVE c(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM c WHERE k < 100000) "
      "INSERT INTO big SELECT k FROM c;");
  auto rs = db_->OpenRecordset("SELECT k FROM big ORDER BY k DESC");
  struct Step {
    void (dao::Recordset::*move)();
    std::int64_t count;
    std::string value;
  };
  const std::vector<Step> steps = {
      {nullptr, 1, "100000"},
      {&dao::Recordset::MoveNext, 2, "99999"},
      {&dao::Recordset::MoveNext, 3, "99998"},
      {&dao::Recordset::MoveFirst, 3, "100000"},
      {&dao::Recordset::MoveLast, 100000, "1"},
      {&dao::Recordset::MoveFirst, 100000, "100000"},
  };
  for (const Step& s : steps) {
    if (s.move) ((*rs).*s.move)();
    EXPECT_FALSE(rs->Eof());
    EXPECT_EQ(rs->RecordCount(), s.count);
    EXPECT_EQ(Show(rs->Fields("K").GetValue()), s.value);
  }
  rs->MoveLast();
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  ExpectHostError([&] { rs->MoveNext(); }, host::kErrNoCurrentRecord, {"No current record."});
  rs->Close();
  rs->Close();
  ExpectHostError([&] { rs->MoveFirst(); }, host::kErrObjectClosed, {"is closed"});
}

TEST_F(RecordsetTest, FieldTypes) {
  auto rs = db_->OpenRecordset(
      "SELECT i, r, s, m, b, d, n, sh, sg, c, x, [i] & \"x\" AS cat, 1 AS one, 1.5 AS half, "
      "IIf([i] > 1, [i] * 10, Null) AS late, Null AS nothing FROM t ORDER BY i");
  const std::vector<std::pair<std::string, std::int32_t>> expected = {
      {"i", dao::kLong},     {"r", dao::kDouble},    {"s", dao::kText},
      {"m", dao::kMemo},     {"b", dao::kBoolean},   {"d", dao::kDate},
      {"n", dao::kLong},     {"sh", dao::kInteger},  {"sg", dao::kSingle},
      {"c", dao::kCurrency}, {"x", dao::kText},      {"cat", dao::kText},
      {"one", dao::kLong},   {"half", dao::kDouble}, {"late", dao::kLong},
      {"nothing", dao::kText}};
  ASSERT_EQ(rs->FieldCount(), static_cast<int>(expected.size()));
  for (int i = 0; i < rs->FieldCount(); ++i) {
    EXPECT_EQ(rs->Fields(i).Name(), expected[i].first);
    EXPECT_EQ(rs->Fields(i).Type(), expected[i].second) << expected[i].first;
  }
  // A type once known stays the same on every row; Boolean columns give bool.
  EXPECT_EQ(ReadRows(*rs),
            (std::vector<std::string>{
                "1|1.5|one|memo|True|2001-01-31|<null>|7|2.5|3|x|1x|1|1.5|<null>|<null>",
                "2|-2.5|two|<null>|False|<null>|5|8|1|4|2|2x|1|1.5|20|<null>",
                "3|0|<null>||True|<null>|<null>|9|0|5|3|3x|1|1.5|30|<null>"}));
  EXPECT_EQ(rs->Fields("late").Type(), dao::kLong);
  EXPECT_TRUE(std::holds_alternative<bool>(
      db_->OpenRecordset("SELECT b FROM t")->Fields(0).GetValue()));
  ExpectHostError([&] { rs->Fields("nope"); }, host::kErrItemNotFound,
                  {"Item not found in this collection", "has no field 'nope'"});
  ExpectHostError([&] { rs->Fields(16); }, host::kErrItemNotFound, {"no field number 16"});
  EXPECT_EQ(db_->OpenRecordset("SELECT SUM(r) AS total FROM t")->Fields(0).Type(), dao::kDouble);
}

TEST_F(RecordsetTest, ExpressionTypeFromLaterRows) {
  // The first row is Null: the type comes from the first non-Null value.
  auto rs = db_->OpenRecordset("SELECT IIf([i] > 1, [s], Null) AS e FROM t ORDER BY i");
  EXPECT_EQ(rs->Fields("e").Type(), dao::kText);
  EXPECT_EQ(ReadRows(*rs), (std::vector<std::string>{"<null>", "two", "<null>"}));
}

TEST_F(RecordsetTest, ReadOnlyKinds) {
  db_->CreateQueryDef("q", "SELECT i FROM t");
  struct Case {
    std::string source;
    std::int32_t type;
  };
  for (const Case& c : std::vector<Case>{{"t", dao::kOpenSnapshot},
                                         {"q", dao::kOpenDynaset},
                                         {"SELECT i FROM t", dao::kOpenDynaset}}) {
    auto rs = db_->OpenRecordset(c.source, c.type);
    ExpectHostError([&] { rs->AddNew(); }, host::kErrNotUpdatable,
                    {"Cannot update. Database or object is read-only: the recordset '" + c.source +
                     "'"});
    ExpectHostError([&] { rs->Edit(); }, host::kErrNotUpdatable, {"read-only"});
    ExpectHostError([&] { rs->Seek("=", std::int64_t{1}); }, host::kErrNotSupported,
                    {"Seek needs a table-type recordset"});
    ExpectHostError([&] { rs->SetIndex("PrimaryKey"); }, host::kErrNotSupported,
                    {"SetIndex needs a table-type recordset"});
  }
  auto rs = db_->OpenRecordset("t", dao::kOpenDynaset);
  ExpectHostError([&] { rs->Fields("s").SetValue(std::string("z")); },
                  host::kErrUpdateWithoutEdit, {"Update or CancelUpdate without AddNew or Edit"});
  ExpectHostError([&] { rs->Update(); }, host::kErrUpdateWithoutEdit, {"without AddNew or Edit"});
}

// The results table as it is saved: created with a primary key, sought,
// added to or edited, updated, and reset.
TEST_F(RecordsetTest, ResultsTableSaveAndReset) {
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
                  {"No current record."});
  ExpectHostError([&] { rs->SetIndex("ByName"); }, host::kErrItemNotFound,
                  {"'ByName' is not an index of the table 'AnalysisQuoxResults'"});
  rs->Close();

  db_->Execute("DELETE * FROM AnalysisQuoxResults WHERE ID = 12");
  auto left = db_->OpenRecordset("SELECT ID, Output FROM AnalysisQuoxResults");
  EXPECT_EQ(ReadRows(*left), (std::vector<std::string>{"7|other"}));
}

TEST_F(RecordsetTest, EditKeepsPositionAndShowsNewValues) {
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
  auto all = db_->OpenRecordset("SELECT i, s FROM t ORDER BY i");
  EXPECT_EQ(ReadRows(*all),
            (std::vector<std::string>{"1|one", "2|deux", "3|<null>", "4|<null>"}));
}

TEST_F(RecordsetTest, WritesAfterAnotherConnectionCommittedAndMovesOnAfterwards) {
  Sql(*db_, "PRAGMA journal_mode = WAL");
  auto rs = db_->OpenRecordset("t", dao::kOpenTable);  // reads from here on
  rs->MoveFirst();
  // Another process commits while the table is open.
  auto other = SqliteDatabase::Open(folder_ / "data.sqlite", OpenMode::kReadWrite);
  other->Execute("UPDATE t SET n = 99 WHERE i = 3");
  rs->Edit();
  rs->Fields("s").SetValue(std::string("uno"));
  rs->Update();  // would fail at once on the old snapshot
  rs->AddNew();
  rs->Fields("i").SetValue(std::int64_t{4});
  rs->Update();
  rs->MoveNext();  // the cursor goes on after the row it stood on
  EXPECT_EQ(Show(rs->Fields("i").GetValue()), "2");
  auto all = db_->OpenRecordset("SELECT i, s, n FROM t ORDER BY i");
  EXPECT_EQ(ReadRows(*all), (std::vector<std::string>{"1|uno|<null>", "2|two|5", "3|<null>|99",
                                                      "4|<null>|<null>"}));
}

TEST_F(RecordsetTest, TableWithDeclaredPrimaryKey) {
  Sql(*db_,
      "CREATE TABLE k (code TEXT PRIMARY KEY COLLATE NOCASE, v INTEGER);"
      "INSERT INTO k VALUES ('b', 2), ('a', 1), ('c', 3);");
  auto rs = db_->OpenRecordset("k", dao::kOpenTable);
  rs->SetIndex("PrimaryKey");
  EXPECT_EQ(ReadRows(*rs), (std::vector<std::string>{"a|1", "b|2", "c|3"}));
  rs->Seek("=", std::string("B"));
  ASSERT_FALSE(rs->NoMatch());
  EXPECT_EQ(Show(rs->Fields("v").GetValue()), "2");
}

TEST_F(RecordsetTest, JetFunctions) {
  auto rs = db_->OpenRecordset(
      "SELECT FIRST(s) AS f, LAST(s) AS l, Nz(FIRST(n), -1) AS z, Left(\"Größe\", 3) AS lt, "
      "Right(\"Größe\", 2) AS rt, Int(-2.5) AS it, Fix(-2.5) AS fx, CLng(2.5) AS cl, "
      "Val(\" 12.5kg\") AS vl, CStr(1.5) & \"\" AS cs, Len(\"abc\") AS ln, Mid(\"abcdef\", 2, 3) AS "
      "md FROM (SELECT s, n FROM t ORDER BY i)");
  EXPECT_EQ(ReadRows(*rs),
            (std::vector<std::string>{"one|<null>|-1|Grö|ße|-3|-2|2|12.5|1.5|3|bcd"}));
  ExpectHostError([&] { db_->OpenRecordset("SELECT CDbl(\"abc\") AS v FROM t"); }, host::kErrSql,
                  {"Type mismatch"});
}

}  // namespace
}  // namespace pramble::sqlhost
