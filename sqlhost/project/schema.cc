#include "sqlhost/project/schema.h"

#include <cctype>

#include "sqlhost/dao/sqlite_connection.h"

namespace pramble::sqlhost {
namespace {

bool IsAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string Encode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    if (IsAsciiAlnum(c)) {
      out += c;
    } else {
      const auto b = static_cast<unsigned char>(c);
      out += '_';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string TempQueryPrefix(std::int32_t id) {
  const std::int64_t v = id;
  return "tq" + (v < 0 ? "n" + std::to_string(-v) : std::to_string(v)) + "_";
}

std::string TempQueryName(const std::string& suffix_or_layer, std::int32_t id) {
  const std::string prefix = TempQueryPrefix(id);
  const std::string& s = suffix_or_layer;
  if (s.size() >= 2 && s[0] == '_') {
    bool plain = true;
    for (std::size_t i = 1; i < s.size(); ++i) plain = plain && IsAsciiAlnum(s[i]);
    if (plain) return prefix + s.substr(1);
    return prefix + "S_" + Encode(s);
  }
  return prefix + "L_" + Encode(s);
}

bool IsTempQueryOf(const std::string& name, std::int32_t id) {
  return StartsWithNoCase(name, TempQueryPrefix(id));
}

bool IsReservedLayerName(const std::string& name) {
  if (StartsWithNoCase(name, "sqlite_") || StartsWithNoCase(name, "pramble_")) return true;
  if (!StartsWithNoCase(name, "tq")) return false;
  std::size_t i = 2;
  if (i < name.size() && (name[i] == 'n' || name[i] == 'N')) ++i;
  const std::size_t digits = i;
  while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
  return i > digits && i < name.size() && name[i] == '_';
}

std::string LayerTableName(const std::string& layer_name) { return layer_name; }

const char* SettingKind(const host::Value& value) {
  switch (value.index()) {
    case 1:
      return "bool";
    case 2:
      return "integer";
    case 3:
      return "double";
    default:
      return "text";
  }
}

void DeleteRecord(const Connection& db, std::int32_t id) {
  {
    // Finished before the delete: a read still open on this connection would
    // make the delete fail at once (not wait) when another process has
    // written since, as two runs that end together do.
    Statement exists(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    exists.Bind(1, host::Value{std::string(kRecordsTable)});
    if (!exists.Step()) return;
  }
  Statement s(db, std::string("DELETE FROM ") + kRecordsTable + " WHERE analysis_id = ?1");
  s.Bind(1, host::Value{std::int64_t{id}}).Run();
}

void CreateProjectSchema(const Connection& db) {
  db.Exec(
      "CREATE TABLE project_info (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
      "CREATE TABLE settings (section TEXT NOT NULL COLLATE NOCASE,"
      " key TEXT NOT NULL COLLATE NOCASE, kind TEXT NOT NULL, value,"
      " PRIMARY KEY (section, key));"
      "CREATE TABLE surveys (id INTEGER PRIMARY KEY, name TEXT NOT NULL,"
      " definition TEXT NOT NULL);"
      "CREATE TABLE data_filters (id INTEGER PRIMARY KEY, name TEXT NOT NULL,"
      " definition TEXT NOT NULL);"
      "CREATE TABLE model_definitions (id INTEGER PRIMARY KEY, name TEXT NOT NULL,"
      " definition TEXT NOT NULL);"
      "CREATE TABLE analyses (id INTEGER PRIMARY KEY, name TEXT NOT NULL,"
      " survey_id INTEGER NOT NULL REFERENCES surveys (id),"
      " data_filter_id INTEGER NOT NULL REFERENCES data_filters (id),"
      " model_definition_id INTEGER NOT NULL REFERENCES model_definitions (id),"
      " status INTEGER NOT NULL DEFAULT 0, run_date INTEGER);"
      "CREATE TABLE analysis_stats (analysis_id INTEGER NOT NULL REFERENCES analyses (id),"
      " code INTEGER NOT NULL, value REAL NOT NULL, UNIQUE (analysis_id, code));" +
      std::string("CREATE TABLE ") + kRecordsTable + kRecordsColumns + ";" +
      "CREATE TABLE layers (ord INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
      " layer_type INTEGER NOT NULL, parent TEXT, table_name TEXT NOT NULL);"
      "CREATE TABLE layer_fields (layer_ord INTEGER NOT NULL REFERENCES layers (ord),"
      " ord INTEGER NOT NULL, name TEXT NOT NULL, kind TEXT NOT NULL,"
      " field_type INTEGER NOT NULL, units TEXT NOT NULL DEFAULT '',"
      " PRIMARY KEY (layer_ord, ord));");
  db.Exec(std::string("INSERT INTO project_info (key, value) VALUES (") + QuoteLiteral(kFormatKey) +
          ", " + QuoteLiteral(kFormatValue) + ");");
}

}  // namespace pramble::sqlhost
