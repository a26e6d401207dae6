// Helpers of the DAO tests: a temporary folder, recordsets read into rows of
// texts, raw SQL, and checks of the host errors raised.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sqlhost/dao/sqlite_database.h"
#include "pramble/host/errors.h"
#include "pramble/host/value.h"
#include "support/scratch.h"

namespace pramble::sqlhost::testing {

using pramble::testing::TempDir;

// A value as the tests compare it: "<null>" for Null, else ToText.
inline std::string Show(const host::Value& v) { return host::IsNull(v) ? "<null>" : host::ToText(v); }

// Every row from the current one on, each value shown, joined by "|".
inline std::vector<std::string> ReadRows(host::dao::Recordset& rs) {
  std::vector<std::string> rows;
  for (; !rs.Eof(); rs.MoveNext()) {
    std::string row;
    for (int i = 0; i < rs.FieldCount(); ++i)
      row += (i ? "|" : "") + Show(rs.Fields(i).GetValue());
    rows.push_back(row);
  }
  return rows;
}

inline std::vector<std::string> FieldNames(host::dao::Recordset& rs) {
  std::vector<std::string> names;
  for (int i = 0; i < rs.FieldCount(); ++i) names.push_back(rs.Fields(i).Name());
  return names;
}

// Runs plain SQLite SQL on the database's own connection (test set-up).
inline void Sql(SqliteDatabase& db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db.handle(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    ADD_FAILURE() << "set-up SQL failed: " << (error ? error : "") << "\n" << sql;
    sqlite3_free(error);
  }
}

// Expects `body` to throw HostError with `number` and a description that
// contains every one of `parts`.
template <typename F>
void ExpectHostError(F&& body, std::int32_t number, const std::vector<std::string>& parts) {
  try {
    body();
    ADD_FAILURE() << "no HostError thrown; expected " << number;
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), number) << e.description();
    for (const std::string& part : parts)
      EXPECT_NE(e.description().find(part), std::string::npos)
          << "'" << part << "' not in: " << e.description();
  }
}

}  // namespace pramble::sqlhost::testing
