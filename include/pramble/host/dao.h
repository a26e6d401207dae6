// A DAO-like view of a project's databases: the results table in the project
// database, and the survey data and an item's saved queries in the data
// database. SQL handed to Execute, OpenRecordset and CreateQueryDef is Jet SQL
// (square-bracketed names, & concatenation, FIRST, SUM, IsNull, nested
// parenthesised joins, DELETE * FROM); the host translates it for its engine.
//
// Every failure throws host::HostError with the database's own message and,
// for SQL, the statement text.
//
// Thread-safety: an object is used on one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pramble/host/value.h"

namespace pramble::host::dao {

// Field type codes (Field::Type, FieldDef::type).
enum FieldType : std::int32_t {
  kBoolean = 1,
  kByte = 2,
  kInteger = 3,   // 16-bit
  kLong = 4,      // 32-bit
  kCurrency = 5,
  kSingle = 6,
  kDouble = 7,
  kDate = 8,
  kText = 10,
  kLongBinary = 11,
  kMemo = 12,
  kBigInt = 16,
  kDecimal = 20,
  kFloat = 21,
};

// Recordset types for OpenRecordset.
enum RecordsetType : std::int32_t { kOpenTable = 1, kOpenDynaset = 2, kOpenSnapshot = 4 };

class Field {
 public:
  virtual ~Field() = default;
  virtual std::string Name() const = 0;
  virtual std::int32_t Type() const = 0;
  // The value of the current record. Fails with 3021 when there is none.
  virtual Value GetValue() const = 0;
  // REQUIRES: the recordset is in AddNew or Edit.
  virtual void SetValue(const Value& value) = 0;
};

class Recordset {
 public:
  virtual ~Recordset() = default;

  // Moves. MoveFirst and MoveLast on an empty result fail with 3021 "No
  // current record."; MoveNext past the last record leaves Eof() True.
  virtual void MoveFirst() = 0;
  virtual void MoveNext() = 0;
  virtual void MoveLast() = 0;
  virtual bool Eof() const = 0;  // DAO EOF (the name is a C macro)
  // Records visited so far; after MoveLast, every record of the result.
  virtual std::int64_t RecordCount() const = 0;

  // Columns in the order of the result.
  virtual int FieldCount() const = 0;
  virtual Field& Fields(int index) = 0;
  virtual Field& Fields(const std::string& name) = 0;  // fails with 3265 when absent

  // Table-type recordsets only: choose an index, then Seek on its key.
  // Comparison is "=" (others may fail). NoMatch tells whether Seek found a row.
  virtual void SetIndex(const std::string& index_name) = 0;
  virtual void Seek(const std::string& comparison, const Value& key) = 0;
  virtual bool NoMatch() const = 0;

  // Changes: AddNew or Edit, set field values, Update stores the row.
  virtual void AddNew() = 0;
  virtual void Edit() = 0;
  virtual void Update() = 0;

  virtual void Close() = 0;
};

struct FieldDef {
  std::string name;
  std::int32_t type = kText;
  bool required = false;
  bool allow_zero_length = true;
  Value default_value;  // Null for none
};

// A table definition: made with CreateTableDef, given fields, then appended to
// the database. AddPrimaryKey on an appended definition adds its primary key
// index (named "PrimaryKey").
class TableDef {
 public:
  virtual ~TableDef() = default;
  virtual std::string Name() const = 0;
  virtual void AppendField(const FieldDef& field) = 0;
  virtual std::vector<FieldDef> FieldDefs() const = 0;
  virtual void AddPrimaryKey(const std::vector<std::string>& field_names) = 0;
};

class Database {
 public:
  virtual ~Database() = default;

  // Runs an action statement (DELETE, INSERT, UPDATE, CREATE ...).
  virtual void Execute(const std::string& jet_sql) = 0;

  // Source: a table name, a saved query name or a SELECT statement. A table
  // opened with kOpenTable supports SetIndex/Seek/AddNew/Edit/Update.
  virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& source,
                                                   std::int32_t type = kOpenDynaset) = 0;

  // Table definitions. GetTableDef fails with 3265 when there is none.
  virtual bool TableExists(const std::string& name) = 0;
  virtual std::unique_ptr<TableDef> GetTableDef(const std::string& name) = 0;
  virtual std::unique_ptr<TableDef> CreateTableDef(const std::string& name) = 0;
  virtual void AppendTableDef(TableDef& table) = 0;

  // Saved queries, referable by name from SQL and from other saved queries.
  virtual void CreateQueryDef(const std::string& name, const std::string& jet_sql) = 0;
  virtual void DeleteQueryDef(const std::string& name) = 0;
  virtual bool QueryDefExists(const std::string& name) = 0;
  virtual std::vector<std::string> QueryDefNames() = 0;
  // The Jet SQL text a saved query was created with.
  virtual std::string QueryDefSql(const std::string& name) = 0;
};

}  // namespace pramble::host::dao
