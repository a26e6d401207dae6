// The DAO on real SQLite files: the steps of tests/data/host_dao/dao_script.tsv
// (statements, saved queries, recordsets, table definitions, a second
// connection, opening files, another process's lock).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
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
    } else if (op == "file") pramble::testing::WriteFile(a, host::ToText(Parse(b)));
    else if (op == "openfile")
      SqliteDatabase::Open(a, b == "readonly" ? OpenMode::kReadOnly : OpenMode::kReadWrite);
    else if (op == "timeout") db.SetBusyTimeout(std::stoi(a));
    else if (op == "lock") {
      lock_.emplace(path_, a);
      return lock_->locked() ? "locked" : "not locked";
    } else if (op == "unlock") lock_.reset();
    else if (op == "open") rs_ = db.OpenRecordset(a, type);
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
  std::optional<pramble::testing::ChildLock> lock_;  // another process's
};

TEST(DaoScriptTest, StepsFromFile) {
  TempDir folder;
  const std::string path = folder / "data.sqlite";
  Script script(path);
  for (auto step : pramble::testing::ReadTable("host_dao/dao_script.tsv")) {
    step.resize(4);
    for (auto& field : step)
      field = pramble::testing::Fill(field, {{"<db>", path}, {"<dir>", folder.path()}});
    SCOPED_TRACE(Join(step, " | "));
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

TEST(DaoTest, AReadOnlyFileIsRefusedForWriting) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir folder;
  SqliteDatabase::Open(folder / "ro.sqlite", OpenMode::kCreate);
  ::chmod((folder / "ro.sqlite").c_str(), 0444);
  const std::string error = pramble::testing::Failure(
      [&] { SqliteDatabase::Open(folder / "ro.sqlite", OpenMode::kReadWrite); });
  EXPECT_EQ(error.substr(0, 6), "3051: ");
  EXPECT_TRUE(Has(error, "for writing: the file is read-only.")) << error;
}

}  // namespace
}  // namespace pramble::sqlhost
