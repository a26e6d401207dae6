// A DAO table definition of a SQLite database. One made by
// Database::CreateTableDef is a plan until Database::AppendTableDef creates
// the table; one from Database::GetTableDef describes an existing table.
//
// Columns are created as
//   "name" <declared type of field_types.h> [NOT NULL] [DEFAULT v]
//          [COLLATE NOCASE] [CHECK ("name" <> '')]
// with NOCASE on text and memo columns (Jet compares texts without regard to
// case) and the CHECK when a text or memo field does not allow zero length.
// A text default value in DAO's expression form, a double-quoted Jet literal
// such as "" or "abc", stands for the text inside the quotes; any other text
// is the default itself.
//
// AddPrimaryKey before the table is appended makes the table's PRIMARY KEY;
// after, a unique index named "<table>.PrimaryKey" (SQLite index names are
// global to the file). Recordset::SetIndex("PrimaryKey") finds either.
// AppendField on an appended table adds the column (ALTER TABLE ADD COLUMN).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pramble/host/dao.h"
#include "sqlhost/dao/sqlite_connection.h"

namespace pramble::sqlhost {

class SqliteTableDef final : public host::dao::TableDef {
 public:
  SqliteTableDef(std::shared_ptr<Connection> connection, std::string name, bool appended,
                 std::vector<host::dao::FieldDef> fields);

  std::string Name() const override { return name_; }
  void AppendField(const host::dao::FieldDef& field) override;
  std::vector<host::dao::FieldDef> FieldDefs() const override { return fields_; }
  void AddPrimaryKey(const std::vector<std::string>& field_names) override;

  bool BelongsTo(const Connection* connection) const { return conn_.get() == connection; }
  // Creates the table. REQUIRES: not appended.
  void Create();

  // The column definition SQL of a field.
  static std::string ColumnSql(const host::dao::FieldDef& field);

 private:
  void CheckFieldNames(const std::vector<std::string>& field_names) const;

  std::shared_ptr<Connection> conn_;
  std::string name_;
  bool appended_;
  std::vector<host::dao::FieldDef> fields_;
  std::vector<std::string> primary_key_;  // planned before the table exists
};

// The columns, in order, of the index `index_name` of `table`: an index of
// that name, or one named "<table>.<index_name>", or for "PrimaryKey" the
// table's PRIMARY KEY. Fails with 3265 when there is none.
std::vector<std::string> IndexColumns(const Connection& conn, const std::string& table,
                                      const std::string& index_name);

}  // namespace pramble::sqlhost
