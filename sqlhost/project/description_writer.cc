#include "sqlhost/project/description_writer.h"

#include <memory>

#include "pramble/host/errors.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "sqlhost/dao/sqlite_database.h"
#include "sqlhost/project/layers.h"
#include "sqlhost/project/schema.h"

namespace pramble::sqlhost::description {
namespace {

// A new database file at `path` in WAL mode (one process writes while
// others read; it stays set in the file), with a transaction begun.
std::shared_ptr<Connection> NewDatabase(const std::string& path) {
  std::string message;
  auto conn = Connection::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                               SqliteDatabase::kDefaultBusyTimeoutMs, message);
  if (!conn) {
    throw host::HostError(host::kErrReadOnly,
                          "cannot create the database '" + path + "': " + message);
  }
  conn->Exec("PRAGMA journal_mode = WAL");
  conn->Exec("BEGIN");
  return conn;
}

const char* SqlType(std::int32_t field_type) {
  switch (field_type) {
    case host::kFieldID:
    case host::kFieldLink:
    case host::kFieldInteger:
      return " INTEGER";
    case host::kFieldDecimal:
      return " REAL";
    case host::kFieldText:
    case host::kFieldLabel:
      return " TEXT";
    default:
      return "";  // shape, hidden: any value as given
  }
}

void WriteDefinitions(const Connection& db, const std::string& table,
                      const std::vector<DefinitionSpec>& defs) {
  Statement s(db, "INSERT INTO " + table + " (id, name, definition) VALUES (?1, ?2, ?3)");
  for (const auto& def : defs) {
    s.Reset();
    s.Bind(1, host::Value{static_cast<std::int64_t>(def.id)})
        .Bind(2, host::Value{def.name})
        .Bind(3, host::Value{def.definition})
        .Run();
  }
}

}  // namespace

void WriteDefinitionsAndAnalyses(const Connection& db, const Description& d) {
  WriteDefinitions(db, "surveys", d.surveys);
  WriteDefinitions(db, "data_filters", d.data_filters);
  WriteDefinitions(db, "model_definitions", d.model_definitions);
  Statement s(db,
              "INSERT INTO analyses (id, name, survey_id, data_filter_id, model_definition_id)"
              " VALUES (?1, ?2, ?3, ?4, ?5)");
  for (const auto& a : d.analyses) {
    s.Reset();
    s.Bind(1, host::Value{static_cast<std::int64_t>(a.id)})
        .Bind(2, host::Value{a.name})
        .Bind(3, host::Value{static_cast<std::int64_t>(a.survey)})
        .Bind(4, host::Value{static_cast<std::int64_t>(a.data_filter)})
        .Bind(5, host::Value{static_cast<std::int64_t>(a.model_definition)})
        .Run();
  }
}

void WriteProjectDatabase(const std::string& path, const Description& d) {
  const std::shared_ptr<Connection> c = NewDatabase(path);
  const Connection& db = *c;
  CreateProjectSchema(db);
  {
    Statement s(db, "INSERT INTO settings (section, key, kind, value) VALUES (?1, ?2, ?3, ?4)");
    for (const auto& setting : d.settings) {
      s.Reset();
      s.Bind(1, host::Value{setting.section})
          .Bind(2, host::Value{setting.key})
          .Bind(3, host::Value{std::string(SettingKind(setting.value))})
          .Bind(4, setting.value)
          .Run();
    }
  }
  WriteDefinitionsAndAnalyses(db, d);
  {
    Statement ls(db,
                 "INSERT INTO layers (ord, name, layer_type, parent, table_name) "
                 "VALUES (?1, ?2, ?3, ?4, ?5)");
    Statement fs(db,
                 "INSERT INTO layer_fields (layer_ord, ord, name, kind, field_type, units) "
                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (std::size_t i = 0; i < d.layers.size(); ++i) {
      const LayerSpec& l = d.layers[i];
      ls.Reset();
      ls.Bind(1, host::Value{static_cast<std::int64_t>(i)})
          .Bind(2, host::Value{l.name})
          .Bind(3, host::Value{static_cast<std::int64_t>(l.type)})
          .Bind(4, l.parent_index < 0 ? host::Value{} : host::Value{d.layers[l.parent_index].name})
          .Bind(5, host::Value{LayerTableName(l.name)})
          .Run();
      for (std::size_t k = 0; k < l.fields.size(); ++k) {
        const FieldSpec& f = l.fields[k];
        fs.Reset();
        fs.Bind(1, host::Value{static_cast<std::int64_t>(i)})
            .Bind(2, host::Value{static_cast<std::int64_t>(k)})
            .Bind(3, host::Value{f.name})
            .Bind(4, host::Value{f.kind})
            .Bind(5, host::Value{static_cast<std::int64_t>(f.type)})
            .Bind(6, host::Value{f.units})
            .Run();
      }
    }
  }
  db.Exec("COMMIT");
}

void WriteDataDatabase(const std::string& path, const Description& d) {
  const std::shared_ptr<Connection> c = NewDatabase(path);
  const Connection& db = *c;
  for (const auto& l : d.layers) {
    const std::string table = QuoteIdentifier(LayerTableName(l.name));
    std::string create = "CREATE TABLE " + table + " (";
    std::string insert = "INSERT INTO " + table + " VALUES (";
    std::string link;
    for (std::size_t k = 0; k < l.fields.size(); ++k) {
      const FieldSpec& f = l.fields[k];
      create += (k ? ", " : "") + QuoteIdentifier(f.name) + SqlType(f.type);
      if (f.type == host::kFieldID) create += " PRIMARY KEY";
      if (f.type == host::kFieldLink) link = f.name;
      insert += (k ? ", ?" : "?") + std::to_string(k + 1);
    }
    db.Exec(create + ")");
    if (!link.empty()) {
      // Index names share the table names' space; "pramble_" is reserved.
      db.Exec("CREATE INDEX " + QuoteIdentifier("pramble_link_" + l.name) + " ON " + table + " (" +
              QuoteIdentifier(link) + ")");
    }
    Statement s(db, insert + ")");
    for (const auto& row : l.rows) {
      s.Reset();
      for (std::size_t k = 0; k < row.size(); ++k) s.Bind(static_cast<int>(k + 1), row[k]);
      s.Run();
    }
  }
  db.Exec("COMMIT");
}

// Removes a half-built folder unless released.

}  // namespace pramble::sqlhost::description
