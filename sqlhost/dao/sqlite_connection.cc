#include "sqlhost/dao/sqlite_connection.h"

#include <cctype>

#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

bool OnlySpace(const char* p) {
  for (; p != nullptr && *p != '\0'; ++p)
    if (!std::isspace(static_cast<unsigned char>(*p))) return false;
  return true;
}

std::string Seconds(int ms) {
  const int s = ms / 1000;
  if (ms % 1000 == 0) return std::to_string(s) + (s == 1 ? " second" : " seconds");
  return std::to_string(ms) + " milliseconds";
}

// The host error number for SQLite result code `rc` with SQLite's `message`.
std::int32_t ErrorNumber(int rc, const std::string& message) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return host::kErrDatabaseLocked;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_IOERR:
    case SQLITE_FULL:
      return host::kErrReadOnly;
    default:
      return message.rfind("no such table", 0) == 0 ? host::kErrTableNotFound : host::kErrSql;
  }
}

}  // namespace

std::shared_ptr<Connection> Connection::Open(const std::string& path, int flags,
                                             int busy_timeout_ms, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  return std::make_shared<Connection>(db, path, busy_timeout_ms);
}

Connection::Connection(sqlite3* db, std::string path, int busy_timeout_ms)
    : db_(db), path_(std::move(path)), busy_timeout_ms_(busy_timeout_ms) {
  sqlite3_busy_timeout(db_, busy_timeout_ms_);
}

Connection::~Connection() { sqlite3_close_v2(db_); }

void Connection::SetBusyTimeout(int milliseconds) {
  busy_timeout_ms_ = milliseconds < 0 ? 0 : milliseconds;
  sqlite3_busy_timeout(db_, busy_timeout_ms_);
}

void Connection::Exec(const std::string& sql) const {
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc, "", sql);
}

void Connection::Fail(int rc, const std::string& what, const std::string& sql,
                      const std::string& jet) const {
  const std::string message = sqlite3_errmsg(db_);
  const std::int32_t number = ErrorNumber(rc, message);
  if (what.empty())
    throw host::HostError(number, "SQLite error on the database '" + path_ + "': " + message +
                                      " in SQL: " + sql);
  std::string tail;
  if (!sql.empty()) tail += ". SQL: " + sql;
  if (!jet.empty() && jet != sql) tail += ". Jet SQL: " + jet;
  const std::string where = "database '" + path_ + "'";
  switch (rc & 0xff) {
    case SQLITE_BUSY:
      throw host::HostError(
          number, what + ": the " + where + " is locked by another process (gave up after " +
                      Seconds(busy_timeout_ms_) + "; SQLite: " + message + ")" + tail);
    case SQLITE_LOCKED:
      throw host::HostError(number, what + ": a table of the " + where +
                                        " is locked by another statement of this connection "
                                        "(SQLite: " +
                                        message + ")" + tail);
    case SQLITE_READONLY:
      throw host::HostError(
          number, what + ": the " + where + " is read-only (SQLite: " + message + ")" + tail);
    default:
      throw host::HostError(number, what + " (" + where + "): " + message + tail);
  }
}

Statement::Statement(const Connection& conn, const std::string& sql, const std::string& what,
                     const std::string& jet)
    : conn_(conn), sql_(sql), what_(what), jet_(jet) {
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(conn.db(), sql.c_str(), static_cast<int>(sql.size()) + 1,
                                    &stmt_, &tail);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    conn.Fail(rc, what, sql, jet);
  }
  const char* problem = nullptr;
  if (stmt_ == nullptr) {
    problem = "the SQL text holds no statement";
  } else if (!OnlySpace(tail)) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    problem = "the SQL text holds more than one statement";
  }
  if (problem != nullptr) {
    const std::string where =
        what.empty() ? "SQLite error on the database '" + conn.path() + "'"
                     : what + " (database '" + conn.path() + "')";
    throw host::HostError(host::kErrSql, where + ": " + problem + ". SQL: " + sql);
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, const host::Value& value) {
  const int rc = BindValue(stmt_, index, value);
  if (rc != SQLITE_OK) conn_.Fail(rc, what_, sql_, jet_);
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  conn_.Fail(rc, what_, sql_, jet_);
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() { sqlite3_reset(stmt_); }

host::Value Statement::Column(int i) const { return ColumnValue(stmt_, i); }

std::int64_t Statement::ColumnInt(int i) const { return sqlite3_column_int64(stmt_, i); }

std::string Statement::ColumnText(int i) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
  if (p == nullptr) return "";
  return std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
}

bool Statement::ColumnIsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

host::Value ColumnValue(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, i);
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      const int n = sqlite3_column_bytes(stmt, i);
      return std::string(p, p ? static_cast<std::size_t>(n) : 0);
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, i));
      const int n = sqlite3_column_bytes(stmt, i);
      return std::string(p, p ? static_cast<std::size_t>(n) : 0);
    }
    default:
      return std::monostate{};
  }
}

int BindValue(sqlite3_stmt* stmt, int index, const host::Value& value) {
  switch (value.index()) {
    case 1:
      return sqlite3_bind_int(stmt, index, std::get<bool>(value) ? 1 : 0);
    case 2:
      return sqlite3_bind_int64(stmt, index, std::get<std::int64_t>(value));
    case 3:
      return sqlite3_bind_double(stmt, index, std::get<double>(value));
    case 4: {
      const std::string& s = std::get<std::string>(value);
      return sqlite3_bind_text64(stmt, index, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    default:
      return sqlite3_bind_null(stmt, index);
  }
}

}  // namespace pramble::sqlhost
