#include "sqlhost/project/description_writer.h"

#include <algorithm>
#include <memory>

#include "pramble/host/errors.h"
#include "sqlhost/dao/sqlite_connection.h"
#include "sqlhost/dao/sqlite_database.h"
#include "sqlhost/project/description_rows.h"
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

namespace {

// The rows of layer `i` into its table through `insert`, each checked as it
// goes: its cells (LayerRows), a unique ID (the table's primary key) and a
// link to a record of the parent, whose IDs `ids` holds sorted. The layer's
// own IDs are added to `ids` when another layer lies below it.
void WriteRows(const Connection& db, const std::string& insert, const Description& d,
               std::size_t i, std::vector<std::vector<std::int64_t>>& ids, bool is_parent) {
  const LayerSpec& layer = d.layers[i];
  std::size_t id_col = 0;
  int link_col = -1;
  for (std::size_t c = 0; c < layer.fields.size(); ++c) {
    if (layer.fields[c].type == host::kFieldID) id_col = c;
    if (layer.fields[c].type == host::kFieldLink) link_col = static_cast<int>(c);
  }
  const std::vector<std::int64_t>* parent_ids = link_col >= 0 ? &ids[layer.parent_index] : nullptr;
  std::vector<std::int64_t>& own = ids[i];
  bool sorted = true;
  Statement s(db, insert);
  sqlite3_stmt* const stmt = s.get();
  LayerRows rows(layer);
  while (rows.Next()) {
    const std::vector<host::Value>& values = rows.values();
    for (std::size_t k = 0; k < values.size(); ++k) {
      const int rc = BindValue(stmt, static_cast<int>(k + 1), values[k]);
      if (rc != SQLITE_OK) db.Fail(rc, "", insert);
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    const std::int64_t id = std::get<std::int64_t>(values[id_col]);
    if ((rc & 0xff) == SQLITE_CONSTRAINT) {  // the ID, the one key
      rows.Fail("field '" + layer.fields[id_col].name + "': duplicate ID " + std::to_string(id) +
                " in layer '" + layer.name + "' (first at " + rows.FirstPlaceOf(id_col, id) + ")");
    }
    if (rc != SQLITE_DONE) db.Fail(rc, "", insert);
    if (parent_ids != nullptr) {
      const std::int64_t link = std::get<std::int64_t>(values[link_col]);
      if (!std::binary_search(parent_ids->begin(), parent_ids->end(), link)) {
        rows.Fail("field '" + layer.fields[link_col].name + "': " + std::to_string(link) +
                  " names no record of the parent layer '" + layer.parent + "'");
      }
    }
    if (is_parent) {
      sorted = sorted && (own.empty() || own.back() < id);
      own.push_back(id);
    }
  }
  if (!sorted) std::sort(own.begin(), own.end());
}

}  // namespace

void WriteDataDatabase(const std::string& path, const Description& d) {
  std::string message;
  auto c = Connection::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            SqliteDatabase::kDefaultBusyTimeoutMs, message);
  if (!c) {
    throw host::HostError(host::kErrReadOnly,
                          "cannot create the database '" + path + "': " + message);
  }
  const Connection& db = *c;
  // The file is new and its folder goes on any failure, so the rows need no
  // journal while they go in; WAL is set once they are in.
  db.Exec("PRAGMA journal_mode = OFF");
  db.Exec("BEGIN");
  std::vector<std::vector<std::int64_t>> ids(d.layers.size());
  std::vector<std::string> indexes;
  for (std::size_t i = 0; i < d.layers.size(); ++i) {
    const LayerSpec& l = d.layers[i];
    const std::string table = QuoteIdentifier(LayerTableName(l.name));
    std::string create = "CREATE TABLE " + table + " (";
    std::string insert = "INSERT INTO " + table + " VALUES (";
    for (std::size_t k = 0; k < l.fields.size(); ++k) {
      const FieldSpec& f = l.fields[k];
      create += (k ? ", " : "") + QuoteIdentifier(f.name) + SqlType(f.type);
      if (f.type == host::kFieldID) create += " PRIMARY KEY";
      insert += (k ? ", ?" : "?") + std::to_string(k + 1);
      if (f.type == host::kFieldLink) {
        // Index names share the table names' space; "pramble_" is reserved.
        // Made after the rows are in, which is quicker than keeping it up.
        indexes.push_back("CREATE INDEX " + QuoteIdentifier("pramble_link_" + l.name) + " ON " +
                          table + " (" + QuoteIdentifier(f.name) + ")");
      }
    }
    db.Exec(create + ")");
    bool is_parent = false;
    for (const auto& other : d.layers) is_parent = is_parent || other.parent_index == static_cast<int>(i);
    WriteRows(db, insert + ")", d, i, ids, is_parent);
  }
  for (const auto& index : indexes) db.Exec(index);
  db.Exec("COMMIT");
  db.Exec("PRAGMA journal_mode = WAL");
}

}  // namespace pramble::sqlhost::description
