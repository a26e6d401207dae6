// The host's DAO databases on SQLite. A project has two: the project database
// (settings, items, results tables) and the data database (the survey's layer
// tables and the items' saved queries). Jet SQL is translated for SQLite
// (sqlhost/jet); saved queries are kept with their Jet text and run as views.
//
// Example:
//   auto db = SqliteDatabase::Open("/p/data.sqlite", OpenMode::kReadWrite);
//   db->CreateQueryDef("q12_Obs", "SELECT [o].[dist] AS distance FROM [o]");
//   auto rs = db->OpenRecordset("q12_Obs", host::dao::kOpenDynaset);
//   for (; !rs->Eof(); rs->MoveNext()) Use(rs->Fields("distance").GetValue());
//
// What a caller can rely on beyond sqlhost/dao.h:
//  - Execute runs exactly one Jet statement (never a SELECT: 3219).
//  - OpenRecordset(source): `source` is a table name (optionally in [ ]), a
//    saved query name, or a Jet SELECT statement. A table opened by name is
//    updatable unless opened as a snapshot; kOpenTable is for tables only
//    (3219 for a query or a statement). A name that is neither a table nor a
//    query nor a SELECT fails with 3078. See sqlite_recordset.h for moves,
//    counts, field types, Seek and updates.
//  - Saved queries: CreateQueryDef translates the Jet text, checks it by
//    preparing it (SQLite's message, the Jet text and the SQLite text are in
//    the error), and stores it as a VIEW of that name plus the Jet text in
//    the table pramble_querydefs(name, jet_sql); so saved queries refer to
//    each other by name, bracketed or not. Only SELECT statements can be
//    saved (3219). A name already used by a query or a table fails with 3012
//    (no silent replacement: delete first). A SELECT * whose sources share
//    column names is saved with the * spelled out, each name once (first
//    source wins), so that the view's columns keep their plain names.
//    QueryDefExists/QueryDefNames see every view of the file; QueryDefSql
//    gives the Jet text (or, for a view made by other means, its SQLite text).
//    DeleteQueryDef of an unknown name fails with 3265.
//  - Table definitions: see sqlite_tabledef.h. GetTableDef of an unknown
//    table fails with 3265; AppendTableDef of an existing name with 3012.
//  - Every connection registers the Jet functions (jet_functions.h) and
//    refuses double-quoted texts in SQL (so a misspelt "name" is an error,
//    not a text).
//  - A database in WAL mode (the project's two are) is opened with
//    synchronous=NORMAL: a commit does not wait for the disk, and stays
//    atomic and survives a crash of the process; a crash of the machine may
//    lose the last commits but never corrupts the file.
//  - Errors: host::HostError naming the file, SQLite's message and the SQL
//    (sqlite_connection.h, which lists every SQLite result code's number). A
//    file locked by another process is waited for (busy timeout, 5 seconds
//    unless set), then fails with 3260 saying that the database is locked by
//    another process. Writing to a read-only file or connection fails with
//    3051.
//
// Thread-safety: one thread at a time for a database and everything opened
// from it together: its recordsets and table definitions share its one
// connection, which SQLite does not lock (SQLITE_OPEN_NOMUTEX; a lock taken
// and released for every column read of every row costs about a twentieth
// of the time a data file takes). Recordsets and table definitions keep the
// connection open after the database object is destroyed.
#pragma once

#include <memory>
#include <string>

#include "pramble/host/dao.h"

struct sqlite3;

namespace pramble::sqlhost {

class Connection;

// kReadWrite: an existing file (53 when missing, 3051 when it cannot be
// written). kCreate: opens the file, creating it when missing. kReadOnly:
// an existing file, never written.
enum class OpenMode { kReadWrite, kCreate, kReadOnly };

class SqliteDatabase : public host::dao::Database {
 public:
  static constexpr int kDefaultBusyTimeoutMs = 5000;

  // Opens (or with kCreate creates) the SQLite file at `path`. Fails with
  // HostError naming the file and SQLite's message; a database locked by
  // another process waits up to a few seconds, then fails with 3260.
  static std::unique_ptr<SqliteDatabase> Open(const std::string& path, OpenMode mode);

  // The SQLite connection, for the host's own bookkeeping and bulk work
  // (statements of sqlite_connection.h). Never handed to the component.
  virtual const Connection& connection() const = 0;
  virtual sqlite3* handle() = 0;
  virtual std::string path() const = 0;

  // How long a statement waits for a lock held by another process before it
  // fails with 3260 (kDefaultBusyTimeoutMs after Open).
  virtual void SetBusyTimeout(int milliseconds) = 0;
};

}  // namespace pramble::sqlhost
