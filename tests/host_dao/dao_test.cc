// The DAO on real SQLite files: the steps of tests/data/host_dao/dao_script.tsv
// (statements, saved queries, recordsets, a second connection), then opening
// files, table definitions and another process's lock.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "pramble/host/errors.h"
#include "sqlhost/dao/sqlite_database.h"
#include "support/child_lock.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

namespace dao = host::dao;
using pramble::testing::Has;
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

// Runs the steps of the script on one database file, keeping a current
// recordset, and answers what each gave, or "error N: description".
class Script {
 public:
  explicit Script(const std::string& path) : path_(path) {
    dbs_.push_back(SqliteDatabase::Open(path, OpenMode::kCreate));
  }
  std::string Run(const std::vector<std::string>& step) {
    try {
      return Step(step[0], step[1], step[2]);
    } catch (const host::HostError& e) {
      return "error " + std::to_string(e.number()) + ": " + e.description();
    }
  }

 private:
  // "<N x c>" for N times c, whole numbers, true and false; else a text.
  static host::Value Parse(const std::string& text) {
    std::size_t n = 0;
    char c = 0;
    if (std::sscanf(text.c_str(), "<%zu x %c>", &n, &c) == 2) return std::string(n, c);
    if (text == "true" || text == "false") return text == "true";
    if (!text.empty() && text.find_first_not_of("-0123456789") == std::string::npos)
      return std::int64_t{std::stoll(text)};
    if (text == "<null>") return host::Value{};
    if (!text.empty() && text.find_first_not_of("-.0123456789") == std::string::npos)
      return std::stod(text);
    return text;
  }
  static std::string Shown(const host::Value& v) {
    const std::string text = Show(v);
    if (text.size() < 1000 || text.find_first_not_of(text[0]) != std::string::npos) return text;
    return "<" + std::to_string(text.size()) + " x " + text[0] + ">";
  }
  std::string Step(const std::string& op, const std::string& a, const std::string& b) {
    SqliteDatabase& db = *dbs_[current_];
    const auto type =
        b == "table" ? dao::kOpenTable : b == "snapshot" ? dao::kOpenSnapshot : dao::kOpenDynaset;
    if (op == "sql") Sql(db, a);
    else if (op == "exec") db.Execute(a);
    else if (op == "save") db.CreateQueryDef(a, b);
    else if (op == "delete") db.DeleteQueryDef(a);
    else if (op == "querysql") return db.QueryDefSql(a);
    else if (op == "querydefs") return Join(db.QueryDefNames(), ", ");
    else if (op == "exists")
      return std::string(db.QueryDefExists(a) ? "query" : "") + (db.TableExists(a) ? "table" : "");
    else if (op == "rows") return Join(ReadRows(*db.OpenRecordset(a, type)), " ; ");
    else if (op == "fields") {
      auto rs = db.OpenRecordset(a, type);
      std::vector<std::string> fields;
      for (int i = 0; i < rs->FieldCount(); ++i)
        fields.push_back(rs->Fields(i).Name() + ":" + std::to_string(rs->Fields(i).Type()));
      return Join(fields, " ");
    } else if (op == "use") {
      current_ = a == "main" ? 0 : dbs_.size();
      if (a != "main")
        dbs_.push_back(SqliteDatabase::Open(
            path_, a == "readonly" ? OpenMode::kReadOnly : OpenMode::kReadWrite));
    } else if (op == "tabledef") {
      def_ = b == "existing" ? db.GetTableDef(a) : db.CreateTableDef(a);
      return def_->Name();
    } else if (op == "append") {  // "NAME TYPE [required] [empty]", the default
      std::istringstream words(a);
      dao::FieldDef field;
      words >> field.name >> field.type;
      field.required = Has(a, " required");
      field.allow_zero_length = Has(a, " empty");
      field.default_value = Parse(b);
      def_->AppendField(field);
    } else if (op == "create") db.AppendTableDef(*def_);
    else if (op == "key") def_->AddPrimaryKey({a});
    else if (op == "fielddefs") {
      std::string shown;
      for (const auto& f : db.GetTableDef(a)->FieldDefs())
        shown += f.name + " " + std::to_string(f.type) + (f.required ? " required" : "") +
                 (f.allow_zero_length ? " empty" : "") + " = " + Show(f.default_value) + "; ";
      return shown;
    } else if (op == "results table") {
      auto def = db.CreateTableDef(a);
      def->AppendField({"ID", dao::kLong, true, true, {}});
      def->AppendField({"Output", dao::kMemo, false, true, std::string("\"\"")});
      def->AppendField({"Log", dao::kMemo, false, true, std::string("\"\"")});
      db.AppendTableDef(*def);
      def->AddPrimaryKey({"ID"});
    } else if (op == "open") rs_ = db.OpenRecordset(a, type);
    else if (op == "move") (a == "first" ? rs_->MoveFirst() : a == "last" ? rs_->MoveLast() : rs_->MoveNext());
    else if (op == "count") return std::to_string(rs_->RecordCount());
    else if (op == "eof") return rs_->Eof() ? "yes" : "no";
    else if (op == "rest") return Join(ReadRows(*rs_), " ; ");
    else if (op == "value")
      return Shown((std::isdigit(a[0]) ? rs_->Fields(std::stoi(a)) : rs_->Fields(a)).GetValue());
    else if (op == "set") rs_->Fields(a).SetValue(Parse(b));
    else if (op == "edit") rs_->Edit();
    else if (op == "addnew") rs_->AddNew();
    else if (op == "update") rs_->Update();
    else if (op == "close") rs_->Close();
    else if (op == "index") rs_->SetIndex(a);
    else if (op == "seek") {
      rs_->Seek(a, Parse(b));
      return rs_->NoMatch() ? "no match" : "match";
    } else return "unknown step";
    return "";
  }

  std::string path_;
  std::vector<std::unique_ptr<SqliteDatabase>> dbs_;  // the first is the main one
  std::size_t current_ = 0;
  std::unique_ptr<dao::Recordset> rs_;
  std::unique_ptr<dao::TableDef> def_;
};

TEST(DaoScriptTest, StepsFromFile) {
  TempDir folder;
  const std::string path = folder / "data.sqlite";
  Script script(path);
  for (auto step : pramble::testing::ReadTable("host_dao/dao_script.tsv")) {
    step.resize(4);
    SCOPED_TRACE(Join(step, " | "));
    for (auto at = step[3].find("<db>"); at != std::string::npos; at = step[3].find("<db>"))
      step[3].replace(at, 4, path);
    const std::string got = script.Run(step);
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
  if (geteuid() != 0) {  // permissions do not bind root
    chmod(path_.c_str(), 0444);
    ExpectHostError([&] { SqliteDatabase::Open(path_, OpenMode::kReadWrite); }, host::kErrReadOnly,
                    "for writing: the file is read-only.");
  }
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








}  // namespace
}  // namespace pramble::sqlhost
