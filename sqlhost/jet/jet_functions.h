// The Jet functions that SQLite lacks, as SQL functions of a connection. The
// translator (jet_sql.h) writes calls to them; saved queries (views) use them
// too, so every connection that reads the host's databases registers them.
//
//   jet_concat(a, ...)  the & operator: Null counts as empty text, numbers in
//                       their shortest exact text form; all Null gives Null
//   jet_first(x)        aggregate: the value of the group's first row, in the
//                       order the rows arrive (Null included)
//   jet_last(x)         aggregate: the value of the group's last row
//   jet_nz(x[, y])      x, or y (default '') when x is Null
//   jet_left(s, n), jet_right(s, n)  the first / last n characters
//   jet_int(x), jet_fix(x)           round down / toward zero
//   jet_cstr(x), jet_cdbl(x), jet_clng(x)  conversions (CLng rounds halves
//                       to even; a text that is no number fails "Type mismatch")
//   jet_val(x)          the number at the start of a text, 0 if none
// Characters are counted in UTF-8 code points.
#pragma once

struct sqlite3;

namespace pramble::sqlhost {

// Registers the functions on `db`. Answers the SQLite result code (SQLITE_OK
// on success).
int RegisterJetFunctions(sqlite3* db);

}  // namespace pramble::sqlhost
