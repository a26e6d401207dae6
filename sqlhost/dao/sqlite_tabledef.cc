#include "sqlhost/dao/sqlite_tabledef.h"

#include "sqlhost/dao/field_types.h"
#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

using host::HostError;
namespace dao = host::dao;

bool IsTextType(std::int32_t type) { return type == dao::kText || type == dao::kMemo; }

std::string DefaultSql(const host::Value& v) {
  switch (v.index()) {
    case 1:
      return std::get<bool>(v) ? "1" : "0";
    case 2:
    case 3:
      return host::ToText(v);
    case 4: {
      std::string text = std::get<std::string>(v);
      if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        std::string inner;
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
          inner += text[i];
          if (text[i] == '"' && i + 2 < text.size() && text[i + 1] == '"') ++i;
        }
        text = inner;
      }
      return QuoteLiteral(text);
    }
    default:
      return "";
  }
}

}  // namespace

SqliteTableDef::SqliteTableDef(std::shared_ptr<Connection> connection, std::string name,
                               bool appended, std::vector<dao::FieldDef> fields)
    : conn_(std::move(connection)),
      name_(std::move(name)),
      appended_(appended),
      fields_(std::move(fields)) {}

std::string SqliteTableDef::ColumnSql(const dao::FieldDef& field) {
  std::string sql = QuoteIdentifier(field.name) + " " + DeclaredTypeOfDaoType(field.type);
  if (field.required) sql += " NOT NULL";
  const std::string def = DefaultSql(field.default_value);
  if (!def.empty()) sql += " DEFAULT " + def;
  if (IsTextType(field.type)) {
    sql += " COLLATE NOCASE";
    if (!field.allow_zero_length) sql += " CHECK (" + QuoteIdentifier(field.name) + " <> '')";
  }
  return sql;
}

void SqliteTableDef::CheckFieldNames(const std::vector<std::string>& field_names) const {
  if (field_names.empty())
    throw HostError(host::kErrInvalidOperation,
                    "Cannot add a primary key without fields to the table '" + name_ + "'.");
  for (const std::string& n : field_names) {
    bool found = false;
    for (const dao::FieldDef& f : fields_) found = found || host::EqualsNoCase(f.name, n);
    if (!found)
      throw HostError(host::kErrItemNotFound, "Item not found in this collection: the table '" +
                                                  name_ + "' has no field '" + n +
                                                  "' for its primary key.");
  }
}

void SqliteTableDef::AppendField(const dao::FieldDef& field) {
  for (const dao::FieldDef& f : fields_) {
    if (host::EqualsNoCase(f.name, field.name))
      throw HostError(host::kErrObjectExists, "The table '" + name_ + "' already has a field '" +
                                                  field.name + "'.");
  }
  if (appended_) {
    Statement(*conn_, "ALTER TABLE " + QuoteIdentifier(name_) + " ADD COLUMN " + ColumnSql(field),
              "Cannot add the field '" + field.name + "' to the table '" + name_ + "'")
        .Run();
  }
  fields_.push_back(field);
}

void SqliteTableDef::AddPrimaryKey(const std::vector<std::string>& field_names) {
  CheckFieldNames(field_names);
  if (!appended_) {
    primary_key_ = field_names;
    return;
  }
  std::string columns;
  for (const std::string& n : field_names)
    columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(n);
  Statement(*conn_,
            "CREATE UNIQUE INDEX " + QuoteIdentifier(name_ + ".PrimaryKey") + " ON " +
                QuoteIdentifier(name_) + " (" + columns + ")",
            "Cannot add the primary key to the table '" + name_ + "'")
      .Run();
}

void SqliteTableDef::Create() {
  if (fields_.empty())
    throw HostError(host::kErrInvalidOperation,
                    "No field defined--cannot append the table definition '" + name_ + "'.");
  std::string sql = "CREATE TABLE " + QuoteIdentifier(name_) + " (";
  for (std::size_t i = 0; i < fields_.size(); ++i)
    sql += (i ? ", " : "") + ColumnSql(fields_[i]);
  if (!primary_key_.empty()) {
    sql += ", PRIMARY KEY (";
    for (std::size_t i = 0; i < primary_key_.size(); ++i)
      sql += (i ? ", " : "") + QuoteIdentifier(primary_key_[i]);
    sql += ")";
  }
  sql += ")";
  Statement(*conn_, sql, "Cannot create the table '" + name_ + "'").Run();
  appended_ = true;
  primary_key_.clear();
}

std::vector<std::string> IndexColumns(const Connection& conn, const std::string& table,
                                      const std::string& index_name) {
  std::vector<std::string> indexes;
  {
    Statement list(conn, "SELECT name FROM pragma_index_list(?)",
                   "Cannot list the indexes of the table '" + table + "'");
    list.Bind(1, table);
    while (list.Step()) indexes.push_back(host::ToText(list.Column(0)));
  }
  for (const std::string& wanted : {table + "." + index_name, index_name}) {
    for (const std::string& index : indexes) {
      if (!host::EqualsNoCase(index, wanted)) continue;
      Statement info(conn, "SELECT name FROM pragma_index_info(?) ORDER BY seqno",
                     "Cannot read the index '" + index + "'");
      info.Bind(1, index);
      std::vector<std::string> columns;
      while (info.Step()) columns.push_back(host::ToText(info.Column(0)));
      if (!columns.empty()) return columns;
    }
  }
  if (host::EqualsNoCase(index_name, "PrimaryKey")) {
    Statement pk(conn, "SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk",
                 "Cannot read the primary key of the table '" + table + "'");
    pk.Bind(1, table);
    std::vector<std::string> columns;
    while (pk.Step()) columns.push_back(host::ToText(pk.Column(0)));
    if (!columns.empty()) return columns;
  }
  throw host::HostError(host::kErrItemNotFound,
                        "Item not found in this collection: '" + index_name +
                            "' is not an index of the table '" + table + "' in database '" +
                            conn.path() + "'.");
}

}  // namespace pramble::sqlhost
