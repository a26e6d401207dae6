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

}  // namespace pramble::sqlhost
