#include "sqlhost/dao/sqlite_database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <set>

#include "sqlhost/dao/field_types.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "sqlhost/dao/sqlite_recordset.h"
#include "sqlhost/dao/sqlite_tabledef.h"
#include "pramble/host/errors.h"
#include "sqlhost/jet/jet_functions.h"
#include "sqlhost/jet/jet_sql.h"

namespace pramble::sqlhost {
namespace {

using host::HostError;
using host::Trim;
namespace dao = host::dao;

constexpr const char* kQueryDefsTable = "pramble_querydefs";

// A name as the caller wrote it, with optional [ ] removed.
std::string Unbracket(const std::string& name) {
  std::string n = Trim(name);
  if (n.size() >= 2 && n.front() == '[' && n.back() == ']') n = n.substr(1, n.size() - 2);
  return n;
}

std::string FirstWord(const std::string& text) {
  std::string w;
  for (char c : Trim(text)) {
    if (!std::isalpha(static_cast<unsigned char>(c))) break;
    w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return w;
}

// A SQLite default value text (pragma table_info's dflt_value) as a Value.
host::Value ParseDefault(const host::Value& dflt) {
  if (!std::holds_alternative<std::string>(dflt)) return dflt;
  const std::string text = Trim(std::get<std::string>(dflt));
  if (text.empty() || host::ToLowerAscii(text) == "null") return std::monostate{};
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
    std::string inner;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      inner += text[i];
      if (text[i] == '\'' && text[i + 1] == '\'') ++i;
    }
    return inner;
  }
  if (host::IsNumeric(text)) {
    if (text.find_first_of(".eE") == std::string::npos) {
      try {
        return static_cast<std::int64_t>(std::stoll(text));
      } catch (const std::exception&) {
      }
    }
    return host::ParseNumber(text);
  }
  return text;
}

class SqliteFileDatabase final : public SqliteDatabase {
 public:
  explicit SqliteFileDatabase(std::shared_ptr<Connection> conn) : conn_(std::move(conn)) {}

  sqlite3* handle() override { return conn_->db(); }
  const Connection& connection() const override { return *conn_; }
  std::string path() const override { return conn_->path(); }
  void SetBusyTimeout(int milliseconds) override { conn_->SetBusyTimeout(milliseconds); }

  void Execute(const std::string& jet_sql) override {
    const std::string what = "Cannot execute the statement";
    const std::string sql = Translate(jet_sql, what);
    Statement statement(*conn_, sql, what, jet_sql);
    if (sqlite3_column_count(statement.get()) > 0)
      throw HostError(host::kErrInvalidOperation,
                      "Cannot execute a select query (database '" + conn_->path() +
                          "'); open it as a recordset. SQL: " + jet_sql);
    statement.Run();
  }

  std::unique_ptr<dao::Recordset> OpenRecordset(const std::string& source,
                                                std::int32_t type) override {
    if (type != dao::kOpenTable && type != dao::kOpenDynaset && type != dao::kOpenSnapshot)
      throw HostError(host::kErrInvalidOperation,
                      "Cannot open the recordset '" + source + "': the recordset type " +
                          std::to_string(type) + " is not 1 (table), 2 (dynaset) or 4 (snapshot).");
    const std::string name = Unbracket(source);
    const auto [kind, actual] = ObjectOf(name);
    RecordsetSource src;
    src.jet = source;
    if (kind == "table") {
      src.sql = "SELECT rowid, * FROM " + QuoteIdentifier(actual);
      src.table = actual;
      src.table_type = type == dao::kOpenTable;
      src.updatable = type != dao::kOpenSnapshot;
    } else if (kind == "view") {
      if (type == dao::kOpenTable)
        throw HostError(host::kErrInvalidOperation,
                        "Invalid operation: the saved query '" + actual + "' of database '" +
                            conn_->path() +
                            "' cannot be opened as a table-type recordset; open it as a dynaset.");
      src.sql = "SELECT * FROM " + QuoteIdentifier(actual);
    } else {
      const std::string word = FirstWord(source);
      const bool select = word == "SELECT" || Trim(source).rfind('(', 0) == 0;
      if (!select)
        throw HostError(host::kErrTableNotFound, "The database '" + conn_->path() +
                                                     "' has no table or saved query named '" +
                                                     name + "'.");
      if (type == dao::kOpenTable)
        throw HostError(host::kErrInvalidOperation,
                        "Invalid operation: an SQL statement cannot be opened as a table-type "
                        "recordset (database '" + conn_->path() + "'). SQL: " + source);
      src.sql = Translate(source, "Cannot open the recordset");
    }
    return NewSqliteRecordset(conn_, std::move(src));
  }

  bool TableExists(const std::string& name) override {
    return ObjectOf(Unbracket(name)).first == "table";
  }

  std::unique_ptr<dao::TableDef> GetTableDef(const std::string& name) override {
    const auto [kind, actual] = ObjectOf(Unbracket(name));
    if (kind != "table")
      throw HostError(host::kErrItemNotFound, "Item not found in this collection: the database '" +
                                                  conn_->path() + "' has no table '" + name + "'.");
    std::string create_sql;
    {
      Statement sql(*conn_, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?",
                    "Cannot read the definition of the table '" + actual + "'");
      sql.Bind(1, actual);
      if (sql.Step()) create_sql = host::ToText(sql.Column(0));
    }
    std::vector<dao::FieldDef> fields;
    Statement info(*conn_,
                   "SELECT name, type, \"notnull\", dflt_value FROM pragma_table_info(?) ORDER BY cid",
                   "Cannot read the fields of the table '" + actual + "'");
    info.Bind(1, actual);
    while (info.Step()) {
      dao::FieldDef f;
      f.name = host::ToText(info.Column(0));
      const std::string declared = host::ToText(info.Column(1));
      f.type = declared.empty() ? dao::kText : DaoTypeOfDeclaredType(declared);
      f.required = sqlite3_column_int(info.get(), 2) != 0;
      f.default_value = ParseDefault(info.Column(3));
      f.allow_zero_length = create_sql.find("CHECK (" + QuoteIdentifier(f.name) + " <> '')") ==
                            std::string::npos;
      fields.push_back(std::move(f));
    }
    return std::make_unique<SqliteTableDef>(conn_, actual, true, std::move(fields));
  }

  std::unique_ptr<dao::TableDef> CreateTableDef(const std::string& name) override {
    if (Trim(name).empty())
      throw HostError(host::kErrInvalidOperation,
                      "A table definition needs a name (database '" + conn_->path() + "').");
    return std::make_unique<SqliteTableDef>(conn_, name, false, std::vector<dao::FieldDef>{});
  }

  void AppendTableDef(dao::TableDef& table) override {
    const std::string name = table.Name();
    const auto [kind, actual] = ObjectOf(name);
    if (!kind.empty())
      throw HostError(host::kErrObjectExists, "Cannot append the table definition '" + name +
                                                  "': the database '" + conn_->path() +
                                                  "' already has a " + kind + " named '" + actual +
                                                  "'.");
    auto* mine = dynamic_cast<SqliteTableDef*>(&table);
    if (mine != nullptr && mine->BelongsTo(conn_.get())) {
      mine->Create();
    } else {
      SqliteTableDef copy(conn_, name, false, table.FieldDefs());
      copy.Create();
    }
  }

  void CreateQueryDef(const std::string& name, const std::string& jet_sql) override {
    const std::string what = "Cannot save the query '" + name + "'";
    if (Trim(name).empty())
      throw HostError(host::kErrInvalidOperation,
                      "A saved query needs a name (database '" + conn_->path() + "').");
    {
      const auto [kind, actual] = ObjectOf(name);
      if (kind == "view")
        throw HostError(host::kErrObjectExists, what + " (database '" + conn_->path() +
                                                    "'): a saved query of that name already "
                                                    "exists; delete it first.");
      if (!kind.empty())
        throw HostError(host::kErrObjectExists, what + " (database '" + conn_->path() +
                                                    "'): a " + kind + " named '" + actual +
                                                    "' already exists.");
    }
    std::string sql = Translate(jet_sql, what);
    {
      Statement check(*conn_, sql, what, jet_sql);
      if (sqlite3_column_count(check.get()) == 0 || !sqlite3_stmt_readonly(check.get()))
        throw HostError(host::kErrInvalidOperation,
                        what + " (database '" + conn_->path() +
                            "'): only SELECT queries can be saved. SQL: " + jet_sql);
      if (HasDuplicateNames(check.get())) {
        const std::string expanded =
            ExpandJetSelectStar(jet_sql, [&](const std::string& source) {
              Statement columns(*conn_, "SELECT * FROM " + QuoteIdentifier(source), what);
              std::vector<std::string> names;
              for (int i = 0; i < sqlite3_column_count(columns.get()); ++i)
                names.push_back(sqlite3_column_name(columns.get(), i));
              return names;
            });
        if (expanded != jet_sql) sql = Translate(expanded, what);
      }
    }
    InSavepoint([&] {
      Statement(*conn_,
                std::string("CREATE TABLE IF NOT EXISTS ") + kQueryDefsTable +
                    " (name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, jet_sql TEXT NOT NULL)",
                what)
          .Run();
      Statement(*conn_, "CREATE VIEW " + QuoteIdentifier(name) + " AS " + sql, what, jet_sql).Run();
      Statement insert(*conn_,
                       std::string("INSERT OR REPLACE INTO ") + kQueryDefsTable +
                           " (name, jet_sql) VALUES (?, ?)",
                       what);
      insert.Bind(1, name);
      insert.Bind(2, jet_sql);
      insert.Run();
      Statement validate(*conn_, "SELECT * FROM " + QuoteIdentifier(name), what, jet_sql);
    });
  }

  void DeleteQueryDef(const std::string& name) override {
    const std::string actual = SavedQueryName(name);
    const std::string what = "Cannot delete the query '" + actual + "'";
    InSavepoint([&] {
      Statement(*conn_, "DROP VIEW " + QuoteIdentifier(actual), what).Run();
      if (ObjectOf(kQueryDefsTable).first == "table") {
        Statement del(*conn_,
                      std::string("DELETE FROM ") + kQueryDefsTable + " WHERE name = ?", what);
        del.Bind(1, actual);
        del.Run();
      }
    });
  }

  bool QueryDefExists(const std::string& name) override {
    return ObjectOf(Unbracket(name)).first == "view";
  }

  std::vector<std::string> QueryDefNames() override {
    Statement names(*conn_, "SELECT name FROM sqlite_master WHERE type = 'view' ORDER BY rowid",
                    "Cannot list the saved queries");
    std::vector<std::string> result;
    while (names.Step()) result.push_back(host::ToText(names.Column(0)));
    return result;
  }

  std::string QueryDefSql(const std::string& name) override {
    const std::string actual = SavedQueryName(name);
    const std::string what = "Cannot read the query '" + actual + "'";
    if (ObjectOf(kQueryDefsTable).first == "table") {
      Statement jet(*conn_, std::string("SELECT jet_sql FROM ") + kQueryDefsTable +
                                " WHERE name = ?",
                    what);
      jet.Bind(1, actual);
      if (jet.Step()) return host::ToText(jet.Column(0));
    }
    Statement sql(*conn_, "SELECT sql FROM sqlite_master WHERE type = 'view' AND name = ?", what);
    sql.Bind(1, actual);
    return sql.Step() ? host::ToText(sql.Column(0)) : std::string();
  }

 private:
  // The kind ("table", "view", "index", "trigger" or "" for none) and the
  // stored name of the schema object called `name` (case ignored).
  std::pair<std::string, std::string> ObjectOf(const std::string& name) {
    Statement find(*conn_,
                   "SELECT type, name FROM sqlite_master WHERE name = ? COLLATE NOCASE "
                   "ORDER BY type = 'table' DESC, type = 'view' DESC LIMIT 1",
                   "Cannot look up '" + name + "'");
    find.Bind(1, name);
    if (!find.Step()) return {"", ""};
    return {host::ToText(find.Column(0)), host::ToText(find.Column(1))};
  }

  // The stored name of the saved query `name` (brackets and case ignored);
  // fails with 3265 when there is none.
  std::string SavedQueryName(const std::string& name) {
    auto [kind, actual] = ObjectOf(Unbracket(name));
    if (kind != "view")
      throw HostError(host::kErrItemNotFound, "Item not found in this collection: the database '" +
                                                  conn_->path() + "' has no saved query '" + name +
                                                  "'.");
    return std::move(actual);
  }

  // Translates Jet SQL, naming the database in a translation error.
  std::string Translate(const std::string& jet_sql, const std::string& what) {
    try {
      return TranslateJetSql(jet_sql);
    } catch (const HostError& e) {
      throw HostError(e.number(),
                      what + " (database '" + conn_->path() + "'): " + e.description());
    }
  }

  static bool HasDuplicateNames(sqlite3_stmt* stmt) {
    std::set<std::string> seen;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const char* n = sqlite3_column_name(stmt, i);
      if (!seen.insert(host::ToLowerAscii(n ? n : "")).second) return true;
    }
    return false;
  }

  // Runs `body` so that it takes effect whole or not at all.
  template <typename F>
  void InSavepoint(F&& body) {
    // Outside a transaction the change takes the write lock at once, waiting
    // for it under the busy timeout: a deferred transaction would read first
    // and then fail at once (SQLITE_BUSY, no waiting) when another process
    // had written in between, as a run of another item of the project does.
    const bool outer = sqlite3_get_autocommit(conn_->db()) != 0;
    Statement(*conn_, outer ? "BEGIN IMMEDIATE" : "SAVEPOINT pramble_change",
              "Cannot start a change")
        .Run();
    try {
      body();
    } catch (...) {
      sqlite3_exec(conn_->db(),
                   outer ? "ROLLBACK" : "ROLLBACK TO pramble_change; RELEASE pramble_change",
                   nullptr, nullptr, nullptr);
      throw;
    }
    Statement(*conn_, outer ? "COMMIT" : "RELEASE pramble_change", "Cannot complete a change")
        .Run();
  }

  std::shared_ptr<Connection> conn_;
};

}  // namespace

std::unique_ptr<SqliteDatabase> SqliteDatabase::Open(const std::string& path, OpenMode mode) {
  const std::string what = "Cannot open the database";
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists && mode != OpenMode::kCreate)
    throw HostError(host::kErrFileNotFound,
                    what + " '" + path + "': the file does not exist.");
  if (exists && S_ISDIR(st.st_mode))
    throw HostError(host::kErrPathFileAccess, what + " '" + path + "': it is a folder.");
  int flags = SQLITE_OPEN_READWRITE;
  if (mode == OpenMode::kCreate) flags |= SQLITE_OPEN_CREATE;
  if (mode == OpenMode::kReadOnly) flags = SQLITE_OPEN_READONLY;
  flags |= SQLITE_OPEN_NOMUTEX;  // one thread at a time (see the header)
  std::string message;
  auto conn = Connection::Open(path, flags, kDefaultBusyTimeoutMs, message);
  if (!conn) throw HostError(host::kErrReadOnly, what + " '" + path + "': " + message + ".");
  sqlite3* db = conn->db();
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  const int frc = RegisterJetFunctions(db);
  if (frc != SQLITE_OK) conn->Fail(frc, what, "");
  {
    Statement probe(*conn, "SELECT count(*) FROM sqlite_master", what);
    probe.Step();
  }
  if (mode == OpenMode::kReadWrite && sqlite3_db_readonly(db, "main") == 1)
    throw HostError(host::kErrReadOnly,
                    what + " '" + path + "' for writing: the file is read-only.");
  if (mode != OpenMode::kReadOnly) {
    // A project's databases run in WAL mode, where a commit that is not
    // synced to the disk at once is still atomic and survives a crash of the
    // process: only a crash of the whole machine may lose the last commits,
    // never corrupt the file. So commits do not wait for the disk (an item's
    // run saves and drops a dozen queries and changes its status several
    // times before R starts); the WAL is synced when it is checkpointed.
    Statement journal(*conn, "PRAGMA journal_mode", what);
    if (journal.Step() && host::EqualsNoCase(host::ToText(journal.Column(0)), "wal"))
      Statement(*conn, "PRAGMA synchronous = NORMAL", what).Run();
  }
  return std::make_unique<SqliteFileDatabase>(std::move(conn));
}

}  // namespace pramble::sqlhost
