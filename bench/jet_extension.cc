// The host's Jet SQL functions (jet_concat, jet_first, ...) as a loadable
// SQLite extension, so that the sqlite3 shell can read the saved queries of a
// project's data database:
//
//   sqlite3 -cmd ".load build-bench/bench/libpramble_jet_sqlite.so" data.db 'SELECT * FROM "tq1_Ddf"'
//
// The shell and this module share the system's libsqlite3, so the functions
// are registered through it directly.
#include <sqlite3.h>

#include "sqlhost/jet/jet_functions.h"

extern "C" __attribute__((visibility("default"))) int sqlite3_extension_init(
    sqlite3* db, char** error_message, const void* /*api*/) {
  const int rc = pramble::sqlhost::RegisterJetFunctions(db);
  if (rc != SQLITE_OK && error_message != nullptr)
    *error_message = sqlite3_mprintf("cannot register the Jet functions: %s", sqlite3_errstr(rc));
  return rc;
}
