// A prepared SQLite statement for the host's own bookkeeping in a project
// (settings, items, statistics, layer metadata, bulk loading). Failures throw
// host::HostError naming SQLite's message and the statement; a busy or locked
// database gives number 3260, a read-only one 3051.
//
// Thread-safety: one statement is used on one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "pramble/host/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace pramble::sqlhost::projectdb {

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binds parameter `index` (1-based). Booleans bind as 1 / 0.
  Statement& Bind(int index, const host::Value& value);
  // True while a row is there; False when the statement is done.
  bool Step();
  // Runs a statement without results to its end.
  void Run();
  void Reset();

  host::Value Column(int index) const;  // 0-based; Null, integer, double or text
  std::int64_t ColumnInt(int index) const;
  std::string ColumnText(int index) const;
  bool ColumnIsNull(int index) const;

 private:
  [[noreturn]] void Fail(int rc) const;
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  std::string sql_;
};

// Throws the HostError for SQLite result code `rc` on `db` while running `sql`.
[[noreturn]] void ThrowSqliteError(sqlite3* db, int rc, const std::string& sql);

// Runs `sql` (one or more statements without results) on `db`; a failure
// throws as ThrowSqliteError does.
void ExecSql(sqlite3* db, const std::string& sql);

}  // namespace pramble::sqlhost::projectdb
