// The SQLite connection that a SqliteDatabase and its recordsets and table
// definitions share, and the statement and error helpers they all use. A
// recordset keeps the connection alive after its database object is gone.
//
// Every failure is reported as host::HostError whose description names the
// database file, SQLite's own message and the SQL text (with the Jet text it
// came from when there is one). Numbers:
//   busy (another process holds a lock, after the busy timeout)  3260 kErrDatabaseLocked
//   read-only file or connection, file that cannot be opened     3051 kErrReadOnly
//   "no such table"                                              3078 kErrTableNotFound
//   anything else                                                3075 kErrSql
//
// Thread-safety: one thread at a time, as the DAO objects themselves.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sqlhost/dao/sqlite_quote.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {

class Connection {
 public:
  // Takes ownership of an open `db`.
  Connection(sqlite3* db, std::string path, int busy_timeout_ms);
  ~Connection();  // closes the connection; never throws
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* db() const { return db_; }
  const std::string& path() const { return path_; }
  void SetBusyTimeout(int milliseconds);

  // Throws the HostError for the SQLite result code `rc` (see above). `what`
  // says what was being done ("Cannot run the query"); `sql` is the SQLite
  // text, `jet` the Jet text it was translated from ("" for none).
  [[noreturn]] void Fail(int rc, const std::string& what, const std::string& sql,
                         const std::string& jet = "") const;

 private:
  sqlite3* db_;
  std::string path_;
  int busy_timeout_ms_;
};

// A prepared statement; finalized when destroyed.
class Statement {
 public:
  // Prepares exactly one statement; more than one, or a failure, throws
  // through Connection::Fail with `what` and `jet`.
  Statement(const Connection& conn, const std::string& sql, const std::string& what,
            const std::string& jet = "");
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }

  // Binds parameter `index` (1-based): Null, Boolean (1 or 0), integer,
  // double or text.
  void Bind(int index, const host::Value& value);
  // One step: True for a row, False when done; a failure throws.
  bool Step();
  // Steps to the end.
  void Run();
  void Reset();

  // Column `i` of the current row as a Value (a blob becomes a text of its bytes).
  host::Value Column(int i) const;

 private:
  const Connection& conn_;
  std::string sql_;
  std::string what_;
  std::string jet_;
  sqlite3_stmt* stmt_ = nullptr;
};

// The value of column `i` of the current row of `stmt`.
host::Value ColumnValue(sqlite3_stmt* stmt, int i);
// Binds `value` to parameter `index` (1-based); answers the SQLite result code.
int BindValue(sqlite3_stmt* stmt, int index, const host::Value& value);

}  // namespace pramble::sqlhost
