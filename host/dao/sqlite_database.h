// The host's DAO databases on SQLite. A project has two: the project database
// (settings, items, results tables) and the data database (the survey's layer
// tables and the items' saved queries). Jet SQL is translated for SQLite
// (host/jet); saved queries are kept with their Jet text and run as views.
#pragma once

#include <memory>
#include <string>

#include "host/dao.h"

struct sqlite3;

namespace pramble::sqlhost {

enum class OpenMode { kReadWrite, kCreate, kReadOnly };

class SqliteDatabase : public host::dao::Database {
 public:
  // Opens (or with kCreate creates) the SQLite file at `path`. Fails with
  // HostError naming the file and SQLite's message; a database locked by
  // another process waits up to a few seconds, then fails with 3260.
  static std::unique_ptr<SqliteDatabase> Open(const std::string& path, OpenMode mode);

  // The SQLite connection, for the host's own bulk work (creating layer
  // tables, loading rows). Never handed to the component.
  virtual sqlite3* handle() = 0;
  virtual std::string path() const = 0;
};

}  // namespace pramble::sqlhost
