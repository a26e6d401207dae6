// Each SQLite result code that the host maps to its own error, provoked on a
// real SQLite file, through the one statement layer: the number, and the
// description in both of its shapes (a DAO operation's, naming the file, and
// the project bookkeeping's). The cases are tests/data/host_dao/sqlite_errors.tsv.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "pramble/host/errors.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

std::shared_ptr<Connection> Open(const std::string& path,
                                 int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
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

// Makes the scene a case names at `path`: the connection the statement runs
// on, and whatever else must hold the file meanwhile (in `holders`).
std::shared_ptr<Connection> Scene(const std::string& scene, const std::string& path,
                                  std::vector<std::shared_ptr<void>>& holders) {
  if (scene == "text") {
    pramble::testing::WriteFile(path, std::string(2000, 'x'));
  } else if (scene == "wal is a folder") {
    Open(path)->Exec("PRAGMA journal_mode = WAL; CREATE TABLE t (id INTEGER PRIMARY KEY, x)");
    ::mkdir((path + "-wal").c_str(), 0777);
  } else if (scene == "corrupt") {
    MakeTable(path, "INSERT INTO t VALUES (2, randomblob(20000));");
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4096);
    file << std::string(4096, 'Z');
  } else {
    MakeTable(path);
  }
  if (scene == "journal is a folder") ::mkdir((path + "-journal").c_str(), 0777);
  if (scene == "read-only") return Open(path, SQLITE_OPEN_READONLY);
  auto conn = Open(path);
  if (scene == "busy") {  // another connection holds the write lock
    auto other = Open(path);
    other->Exec("BEGIN IMMEDIATE; INSERT INTO t VALUES (2, 'b')");
    holders.push_back(other);
  } else if (scene == "locked") {  // a statement of the same connection reads the table
    auto reading = std::make_shared<Statement>(*conn, "SELECT * FROM t");
    reading->Step();
    holders.push_back(reading);
  } else if (scene == "full") {
    conn->Exec("PRAGMA max_page_count = 2");
  }
  return conn;
}

TEST(SqliteErrorsTest, EachMappedCodeOnARealFile) {
  for (const auto& c : pramble::testing::ReadTable("host_dao/sqlite_errors.tsv")) {
    ASSERT_EQ(c.size(), 6u);
    SCOPED_TRACE(c[0] + ": " + c[1]);
    pramble::testing::TempDir folder;
    const std::string path = folder / "test.db";
    std::vector<std::shared_ptr<void>> holders;
    auto conn = Scene(c[0], path, holders);
    ASSERT_NE(conn, nullptr);
    std::string dao = c[5];
    dao.replace(dao.find("<db>"), 4, path);
    for (const std::string what : {"Cannot write", ""}) {
      try {
        Statement(*conn, c[1], what).Run();
        ADD_FAILURE() << "no error";
      } catch (const host::HostError& e) {
        EXPECT_EQ(sqlite3_errcode(conn->db()) & 0xff, std::stoi(c[2]));
        EXPECT_EQ(e.number(), std::stoi(c[4]));
        EXPECT_EQ(e.description(), what.empty() ? "SQLite error on the database '" + path +
                                                      "': " + c[3] + " in SQL: " + c[1]
                                                : "Cannot write" + dao + ". SQL: " + c[1]);
      }
    }
  }
}

// The bookkeeping's statements of several parts go through the same mapping.
TEST(SqliteErrorsTest, ExecMapsAsAStatementDoes) {
  pramble::testing::TempDir folder;
  const std::string path = folder / "test.db";
  MakeTable(path);
  try {
    Open(path, SQLITE_OPEN_READONLY)->Exec("SELECT 1; DELETE FROM t");
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
