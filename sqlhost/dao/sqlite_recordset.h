// A DAO recordset over a SQLite statement. Rows are streamed: only the
// current row is held in memory, so a result of millions of rows can be
// walked (and counted with MoveLast) without being loaded.
//
// Behaviour, as the callers rely on it:
//  - Opened at the first row (Eof() True and RecordCount() 0 when empty).
//  - MoveFirst/MoveLast on an empty result: HostError 3021 "No current record.";
//    MoveNext when Eof() is already True, and any field value without a
//    current row, fail the same way. MoveNext past the last row sets Eof().
//  - A read-only result (saved query, SELECT, snapshot) is run once where it
//    can be: MoveFirst on its first row stays there, and MoveLast goes on
//    from the current row; a sorted query is not sorted again.
//  - RecordCount(): rows visited so far (the highest position reached);
//    after MoveLast every row. Table-type recordsets give the table's row
//    count at once, as DAO does.
//  - Fields(i)/Fields(name): name compared without regard to case, 3265 when
//    absent. Field::Type() comes from the declared column type, or, for an
//    expression column, from its first non-Null value (field_types.h); it is
//    fixed for the column once known, so it is the same on every row.
//    Boolean columns give bool values.
//  - Recordsets over one table (opened by the table's name) are updatable:
//    AddNew/Edit, SetValue, Update (an INSERT of the fields set, or an
//    UPDATE of the current row). Snapshots, queries and SQL statements are
//    read-only (3027). After AddNew + Update the current row stays the one
//    before AddNew; after Edit + Update the current row shows the new values.
//    A move cancels a pending AddNew/Edit.
//  - Table-type recordsets (kOpenTable) also have SetIndex and Seek. The index
//    "PrimaryKey" is the table's primary key, or the index the host made for
//    TableDef::AddPrimaryKey; any other name is an index of the table (3265
//    when there is none). Seek compares the index's first column with the key
//    ("=", "<", "<=", ">", ">="); NoMatch() tells whether a row was found;
//    after a match MoveNext goes on in index order. Seek or SetIndex on other
//    recordsets: 3251.
//  - After Close every call fails with 3420; Close itself may be repeated.
#pragma once

#include <memory>
#include <string>

#include "pramble/host/dao.h"
#include "sqlhost/dao/sqlite_connection.h"

namespace pramble::sqlhost {

struct RecordsetSource {
  std::string sql;         // the SQLite SELECT (for a table: SELECT rowid, * FROM "t")
  std::string jet;         // what the caller opened (name or Jet SQL), for messages
  std::string table;       // the table's name when the rows are one table's
  bool table_type = false; // opened with kOpenTable
  bool updatable = false;  // AddNew/Edit allowed (REQUIRES: table not empty)
};

std::unique_ptr<host::dao::Recordset> NewSqliteRecordset(std::shared_ptr<Connection> connection,
                                                         RecordsetSource source);

}  // namespace pramble::sqlhost
