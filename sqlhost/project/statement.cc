#include "sqlhost/project/statement.h"

#include <sqlite3.h>

#include "pramble/host/errors.h"

namespace pramble::sqlhost::projectdb {

void ThrowSqliteError(sqlite3* db, int rc, const std::string& sql) {
  const int primary = rc & 0xff;
  std::int32_t number = host::kErrSql;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) number = host::kErrDatabaseLocked;
  if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR ||
      primary == SQLITE_FULL || primary == SQLITE_PERM)
    number = host::kErrReadOnly;
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw host::HostError(number, std::string("SQLite error: ") + message + " in SQL: " + sql);
}

void ExecSql(sqlite3* db, const std::string& sql) {
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqliteError(db, rc, sql);
}

Statement::Statement(sqlite3* db, const std::string& sql) : db_(db), sql_(sql) {
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    ThrowSqliteError(db_, rc, sql_);
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::Fail(int rc) const { ThrowSqliteError(db_, rc, sql_); }

Statement& Statement::Bind(int index, const host::Value& value) {
  int rc = SQLITE_OK;
  switch (value.index()) {
    case 0:
      rc = sqlite3_bind_null(stmt_, index);
      break;
    case 1:
      rc = sqlite3_bind_int64(stmt_, index, std::get<bool>(value) ? 1 : 0);
      break;
    case 2:
      rc = sqlite3_bind_int64(stmt_, index, std::get<std::int64_t>(value));
      break;
    case 3:
      rc = sqlite3_bind_double(stmt_, index, std::get<double>(value));
      break;
    default: {
      const auto& s = std::get<std::string>(value);
      rc = sqlite3_bind_text(stmt_, index, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
  }
  if (rc != SQLITE_OK) Fail(rc);
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  Fail(rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

host::Value Statement::Column(int index) const {
  switch (sqlite3_column_type(stmt_, index)) {
    case SQLITE_NULL:
      return host::Value{};
    case SQLITE_INTEGER:
      return host::Value{static_cast<std::int64_t>(sqlite3_column_int64(stmt_, index))};
    case SQLITE_FLOAT:
      return host::Value{sqlite3_column_double(stmt_, index)};
    default:
      return host::Value{ColumnText(index)};
  }
}

std::int64_t Statement::ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }

std::string Statement::ColumnText(int index) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
  if (!p) return "";
  return std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)));
}

bool Statement::ColumnIsNull(int index) const {
  return sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

}  // namespace pramble::sqlhost::projectdb
