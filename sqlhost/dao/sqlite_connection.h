// The host's one layer over SQLite: the connection that a SqliteDatabase and
// its recordsets and table definitions share (a recordset keeps it alive
// after its database object is gone), the prepared statement that the DAO,
// the project's bookkeeping and the project builder all use, and the one
// mapping from SQLite's result codes to host::HostError.
//
// Numbers, by SQLite's primary result code:
//   SQLITE_BUSY (another process holds a lock, after the busy timeout),
//   SQLITE_LOCKED (another statement of this connection)   3260 kErrDatabaseLocked
//   SQLITE_READONLY, SQLITE_PERM, SQLITE_CANTOPEN,
//   SQLITE_NOTADB, SQLITE_IOERR, SQLITE_FULL                3051 kErrReadOnly
//     (the file cannot be opened, read as a database, or written)
//   SQLite's message "no such table: ..."                   3078 kErrTableNotFound
//   anything else (SQLITE_ERROR, SQLITE_CONSTRAINT,
//   SQLITE_CORRUPT, ...)                                    3075 kErrSql
//
// Descriptions, by what the statement was for:
//  - A DAO operation, which says what it was doing (`what`, "Cannot execute
//    the statement"): the description names the database file, SQLite's
//    message and the SQL text (with the Jet text it came from, if any):
//      <what>: the database '<path>' is locked by another process (gave up
//          after <time>; SQLite: <message>). SQL: <sql>. Jet SQL: <jet>
//      <what>: a table of the database '<path>' is locked by another
//          statement of this connection (SQLite: <message>). SQL: ...
//      <what>: the database '<path>' is read-only (SQLite: <message>). SQL: ...
//      <what> (database '<path>'): <message>. SQL: ...            (the others)
//  - The host's own bookkeeping in a project (no `what`): the messages that
//    `pramble run` prints for a failed status or statistics write,
//      SQLite error on the database '<path>': <message> in SQL: <sql>
//    naming the project database.
//
// Thread-safety: one thread at a time, as the DAO objects themselves.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

#include "pramble/host/value.h"
#include "sqlhost/dao/sqlite_quote.h"

namespace pramble::sqlhost {

class Connection {
 public:
  // Opens the SQLite file at `path` with sqlite3_open_v2's `flags` and
  // extended result codes. When SQLite cannot open it, answers null and sets
  // `error` to SQLite's message; the caller words the failure.
  static std::shared_ptr<Connection> Open(const std::string& path, int flags, int busy_timeout_ms,
                                          std::string& error);

  // Takes ownership of an open `db`.
  Connection(sqlite3* db, std::string path, int busy_timeout_ms);
  ~Connection();  // closes the connection; never throws
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* db() const { return db_; }
  const std::string& path() const { return path_; }
  void SetBusyTimeout(int milliseconds);

  // Runs `sql`, one or more statements without results; a failure throws as
  // Fail does for the bookkeeping (no `what`).
  void Exec(const std::string& sql) const;

  // Throws the HostError for SQLite result code `rc` (see above). `what`
  // says what was being done ("" for the host's bookkeeping); `sql` is the
  // SQLite text, `jet` the Jet text it was translated from ("" for none).
  [[noreturn]] void Fail(int rc, const std::string& what, const std::string& sql,
                         const std::string& jet = "") const;

 private:
  sqlite3* db_;
  std::string path_;
  int busy_timeout_ms_;
};

// A prepared statement; finalized when destroyed.
//
//   Statement s(conn, "UPDATE analyses SET status = ?1 WHERE id = ?2");
//   s.Bind(1, host::Value{std::int64_t{3}}).Bind(2, host::Value{std::int64_t{12}}).Run();
class Statement {
 public:
  // Prepares exactly one statement; more than one, or a failure, throws
  // through Connection::Fail with `what` and `jet`.
  Statement(const Connection& conn, const std::string& sql, const std::string& what = "",
            const std::string& jet = "");
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }

  // Binds parameter `index` (1-based): Null, Boolean (1 or 0), integer,
  // double or text.
  Statement& Bind(int index, const host::Value& value);
  // One step: True for a row, False when done; a failure throws.
  bool Step();
  // Steps to the end.
  void Run();
  // Puts the statement back before its first row. The bindings stay: a
  // statement run again with other values binds every parameter anew.
  void Reset();

  // Column `i` (0-based) of the current row as a Value (a blob becomes a
  // text of its bytes).
  host::Value Column(int i) const;
  std::int64_t ColumnInt(int i) const;
  std::string ColumnText(int i) const;  // "" for Null
  bool ColumnIsNull(int i) const;

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
