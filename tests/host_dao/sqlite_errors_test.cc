// Each SQLite result code that the host maps to its own error, provoked on a
// real SQLite file, through the one statement layer: the number, and the
// description in both of its shapes (a DAO operation's, naming the file, and
// the project bookkeeping's).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pramble/host/errors.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

constexpr int kReadWrite = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;

std::shared_ptr<Connection> Open(const std::string& path, int flags = kReadWrite) {
  std::string error;
  auto conn = Connection::Open(path, flags, 50, error);
  if (!conn) ADD_FAILURE() << path << ": " << error;
  return conn;
}

// A database file with table t (id INTEGER PRIMARY KEY, x) and one row.
void MakeTable(const std::string& path, const std::string& more = "") {
  Open(path)->Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, x); INSERT INTO t VALUES (1, 'a');" +
                   more);
}

// What a case leaves for the statement: the connection it runs on, and
// whatever else holds the file meanwhile.
struct Scene {
  std::shared_ptr<Connection> conn;
  std::vector<std::shared_ptr<void>> holders;
};

struct Case {
  const char* name;
  std::function<Scene(const std::string& path)> set_up;
  std::string sql;
  int code;              // SQLite's primary result code
  std::int32_t number;   // the host's error number
  std::string message;   // SQLite's message
  std::string dao_text;  // after "Cannot write", with <db> for the file
};

std::vector<Case> Cases() {
  const std::string insert = "INSERT INTO t VALUES (1, 'b')";
  return {
      {"busy: another connection holds the write lock",
       [](const std::string& path) {
         MakeTable(path);
         auto other = Open(path);
         other->Exec("BEGIN IMMEDIATE; INSERT INTO t VALUES (2, 'b')");
         return Scene{Open(path), {other}};
       },
       "INSERT INTO t VALUES (3, 'c')", SQLITE_BUSY, host::kErrDatabaseLocked,
       "database is locked",
       ": the database '<db>' is locked by another process (gave up after 50 milliseconds; "
       "SQLite: database is locked)"},
      {"locked: a statement of the same connection reads the table",
       [](const std::string& path) {
         MakeTable(path);
         auto conn = Open(path);
         auto reading = std::make_shared<Statement>(*conn, "SELECT * FROM t");
         reading->Step();
         return Scene{conn, {reading}};
       },
       "DROP TABLE t", SQLITE_LOCKED, host::kErrDatabaseLocked, "database table is locked",
       ": a table of the database '<db>' is locked by another statement of this connection "
       "(SQLite: database table is locked)"},
      {"read-only: the file opened read-only",
       [](const std::string& path) {
         MakeTable(path);
         return Scene{Open(path, SQLITE_OPEN_READONLY), {}};
       },
       insert, SQLITE_READONLY, host::kErrReadOnly, "attempt to write a readonly database",
       ": the database '<db>' is read-only (SQLite: attempt to write a readonly database)"},
      {"full: the database may not grow",
       [](const std::string& path) {
         MakeTable(path);
         auto conn = Open(path);
         conn->Exec("PRAGMA max_page_count = 2");
         return Scene{conn, {}};
       },
       "INSERT INTO t VALUES (2, randomblob(100000))", SQLITE_FULL, host::kErrReadOnly,
       "database or disk is full", " (database '<db>'): database or disk is full"},
      {"I/O: the rollback journal's place is a folder",
       [](const std::string& path) {
         MakeTable(path);
         ::mkdir((path + "-journal").c_str(), 0777);
         return Scene{Open(path), {}};
       },
       insert, SQLITE_IOERR, host::kErrReadOnly, "disk I/O error",
       " (database '<db>'): disk I/O error"},
      {"cannot open: the write-ahead log's place is a folder",
       [](const std::string& path) {
         Open(path)->Exec("PRAGMA journal_mode = WAL; CREATE TABLE t (id INTEGER PRIMARY KEY, x)");
         ::mkdir((path + "-wal").c_str(), 0777);
         return Scene{Open(path), {}};
       },
       insert, SQLITE_CANTOPEN, host::kErrReadOnly, "unable to open database file",
       " (database '<db>'): unable to open database file"},
      {"not a database: a file of text",
       [](const std::string& path) {
         std::ofstream(path) << std::string(2000, 'x');
         return Scene{Open(path), {}};
       },
       insert, SQLITE_NOTADB, host::kErrReadOnly, "file is not a database",
       " (database '<db>'): file is not a database"},
      {"corrupt: a page of the table overwritten",
       [](const std::string& path) {
         MakeTable(path, "INSERT INTO t VALUES (2, randomblob(20000));");
         std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(4096);
         file << std::string(4096, 'Z');
         return Scene{Open(path), {}};
       },
       "SELECT sum(length(x)) FROM t", SQLITE_CORRUPT, host::kErrSql,
       "database disk image is malformed", " (database '<db>'): database disk image is malformed"},
      {"constraint: a second row of one primary key",
       [](const std::string& path) {
         MakeTable(path);
         return Scene{Open(path), {}};
       },
       insert, SQLITE_CONSTRAINT, host::kErrSql, "UNIQUE constraint failed: t.id",
       " (database '<db>'): UNIQUE constraint failed: t.id"},
      {"no such table",
       [](const std::string& path) {
         MakeTable(path);
         return Scene{Open(path), {}};
       },
       "DELETE FROM missing", SQLITE_ERROR, host::kErrTableNotFound, "no such table: missing",
       " (database '<db>'): no such table: missing"},
  };
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST(SqliteErrorsTest, EachMappedCodeOnARealFile) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    pramble::testing::TempDir folder;
    const std::string path = folder / "test.db";
    const Scene scene = c.set_up(path);
    ASSERT_NE(scene.conn, nullptr);
    const std::vector<std::pair<std::string, std::string>> shapes = {
        {"Cannot write",
         "Cannot write" + Replace(c.dao_text, "<db>", path) + ". SQL: " + c.sql},
        {"", "SQLite error on the database '" + path + "': " + c.message + " in SQL: " + c.sql}};
    for (const auto& [what, description] : shapes) {
      try {
        Statement(*scene.conn, c.sql, what).Run();
        ADD_FAILURE() << "no error for: " << c.sql;
      } catch (const host::HostError& e) {
        EXPECT_EQ(sqlite3_errcode(scene.conn->db()) & 0xff, c.code);
        EXPECT_EQ(e.number(), c.number);
        EXPECT_EQ(e.description(), description);
      }
    }
  }
}

// The bookkeeping's statements of several parts go through the same mapping.
TEST(SqliteErrorsTest, ExecMapsAsAStatementDoes) {
  pramble::testing::TempDir folder;
  const std::string path = folder / "test.db";
  MakeTable(path);
  auto conn = Open(path, SQLITE_OPEN_READONLY);
  try {
    conn->Exec("SELECT 1; DELETE FROM t");
    ADD_FAILURE() << "no error";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrReadOnly);
    EXPECT_EQ(e.description(), "SQLite error on the database '" + path +
                                   "': attempt to write a readonly database in SQL: SELECT 1; "
                                   "DELETE FROM t");
  }
}

}  // namespace
}  // namespace pramble::sqlhost
