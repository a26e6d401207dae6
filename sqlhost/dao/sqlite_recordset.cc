#include "sqlhost/dao/sqlite_recordset.h"

#include <algorithm>
#include <vector>

#include "sqlhost/dao/field_types.h"
#include "sqlhost/dao/sqlite_tabledef.h"
#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

using host::HostError;
using host::Value;
namespace dao = host::dao;

[[noreturn]] void NoCurrentRecord() {
  throw HostError(host::kErrNoCurrentRecord, "No current record.");
}

class SqliteRecordset;

class SqliteField final : public dao::Field {
 public:
  SqliteField(SqliteRecordset* rs, int index) : rs_(rs), index_(index) {}
  std::string Name() const override;
  std::int32_t Type() const override;
  Value GetValue() const override;
  void SetValue(const Value& value) override;

 private:
  SqliteRecordset* rs_;
  int index_;
};

class SqliteRecordset final : public dao::Recordset {
 public:
  SqliteRecordset(std::shared_ptr<Connection> conn, RecordsetSource src)
      : conn_(std::move(conn)), src_(std::move(src)) {
    offset_ = src_.table.empty() ? 0 : 1;
    cursor_ = std::make_unique<Statement>(*conn_, src_.sql,
                                          "Cannot open the recordset '" + src_.jet + "'", src_.jet);
    sqlite3_stmt* stmt = cursor_->get();
    const int count = sqlite3_column_count(stmt);
    if (count <= offset_ || !sqlite3_stmt_readonly(stmt)) {
      throw HostError(host::kErrInvalidOperation,
                      "Cannot open the recordset '" + src_.jet + "' in database '" +
                          conn_->path() + "': the statement returns no rows. SQL: " + src_.sql);
    }
    for (int i = offset_; i < count; ++i) {
      const char* name = sqlite3_column_name(stmt, i);
      const char* declared = sqlite3_column_decltype(stmt, i);
      names_.push_back(name ? name : "");
      types_.push_back(declared && *declared ? DaoTypeOfDeclaredType(declared) : 0);
    }
    row_.resize(names_.size());
    for (int i = 0; i < static_cast<int>(names_.size()); ++i)
      fields_.push_back(std::make_unique<SqliteField>(this, i));
    if (StepCursor()) {
      position_ = 1;
      visited_ = 1;
    }
  }

  void MoveFirst() override {
    CheckOpen();
    mode_ = Mode::kNone;
    // A read-only result whose cursor still stands on its first row is
    // there already: running the statement again (for a sorted query, the
    // whole sort) would give the same row.
    if (OnUnchangedResult() && position_ == 1) return;
    Restart();
    if (!StepCursor()) NoCurrentRecord();
    position_ = 1;
    visited_ = std::max<std::int64_t>(visited_, 1);
  }

  void MoveNext() override {
    CheckOpen();
    mode_ = Mode::kNone;
    if (!current_) NoCurrentRecord();
    if (StepCursor()) {
      ++position_;
      visited_ = std::max(visited_, position_);
    }
  }

  void MoveLast() override {
    CheckOpen();
    mode_ = Mode::kNone;
    // A read-only result goes on from the current row; others start over.
    std::int64_t n = 0;
    if (OnUnchangedResult() && position_ > 0) {
      n = position_;
      LoadRow();  // the cursor leaves it; it stays current when no row follows
    } else {
      Restart();
    }
    while (cursor_->Step()) {
      ++n;
      CopyRow(cursor_->get());
    }
    cursor_done_ = true;
    if (n == 0) {
      current_ = false;
      eof_ = true;
      NoCurrentRecord();
    }
    current_ = true;
    eof_ = false;
    position_ = n;
    visited_ = std::max(visited_, n);
  }

  bool Eof() const override {
    CheckOpen();
    return eof_;
  }

  std::int64_t RecordCount() const override {
    CheckOpen();
    if (!src_.table_type) return visited_;
    Statement count(*conn_, "SELECT count(*) FROM " + QuoteIdentifier(src_.table),
                    "Cannot count the records of the table '" + src_.table + "'");
    count.Step();
    return sqlite3_column_int64(count.get(), 0);
  }

  int FieldCount() const override {
    CheckOpen();
    return static_cast<int>(fields_.size());
  }

  dao::Field& Fields(int index) override {
    CheckOpen();
    if (index < 0 || index >= static_cast<int>(fields_.size()))
      throw HostError(host::kErrItemNotFound,
                      "Item not found in this collection: the recordset '" + src_.jet +
                          "' has no field number " + std::to_string(index) + ".");
    return *fields_[index];
  }

  dao::Field& Fields(const std::string& name) override {
    CheckOpen();
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (host::EqualsNoCase(names_[i], name)) return *fields_[i];
    throw HostError(host::kErrItemNotFound, "Item not found in this collection: the recordset '" +
                                                src_.jet + "' has no field '" + name + "'.");
  }

  void SetIndex(const std::string& index_name) override {
    CheckOpen();
    RequireTableType("SetIndex");
    index_columns_ = IndexColumns(*conn_, src_.table, index_name);
    mode_ = Mode::kNone;
    OpenCursor("", {});
    position_ = 0;
    if (StepCursor()) {
      position_ = 1;
      visited_ = std::max<std::int64_t>(visited_, 1);
    }
  }

  void Seek(const std::string& comparison, const Value& key) override {
    CheckOpen();
    RequireTableType("Seek");
    if (index_columns_.empty())
      throw HostError(host::kErrInvalidOperation,
                      "Operation invalid without a current index: call SetIndex before Seek on "
                      "the table '" + src_.table + "'.");
    bool descending = false;
    if (comparison == "<" || comparison == "<=") {
      descending = true;
    } else if (comparison != "=" && comparison != ">" && comparison != ">=") {
      throw HostError(host::kErrInvalidOperation, "Seek on the table '" + src_.table +
                                                      "': the comparison '" + comparison +
                                                      "' is not one of =, <, <=, >, >=.");
    }
    mode_ = Mode::kNone;
    const std::string column = QuoteIdentifier(index_columns_[0]);
    std::string order;
    for (const std::string& c : index_columns_)
      order += QuoteIdentifier(c) + (descending ? " DESC, " : ", ");
    order += descending ? "rowid DESC" : "rowid";
    Statement find(*conn_,
                   "SELECT rowid, " + column + " FROM " + QuoteIdentifier(src_.table) + " WHERE " +
                       column + " " + comparison + " ? ORDER BY " + order + " LIMIT 1",
                   "Cannot seek in the table '" + src_.table + "'");
    find.Bind(1, key);
    if (!find.Step()) {
      no_match_ = true;
      current_ = false;
      return;
    }
    const std::int64_t target = sqlite3_column_int64(find.get(), 0);
    const Value found_key = find.Column(1);
    OpenCursor(column + " >= ?", {found_key});
    while (StepCursor() && rowid_ != target) {
    }
    no_match_ = !current_;
    position_ = 0;
  }

  bool NoMatch() const override {
    CheckOpen();
    return no_match_;
  }

  void AddNew() override {
    CheckOpen();
    RequireUpdatable();
    mode_ = Mode::kAddNew;
    buffer_.assign(names_.size(), Value{});
    dirty_.assign(names_.size(), false);
  }

  void Edit() override {
    CheckOpen();
    RequireUpdatable();
    if (!current_) NoCurrentRecord();
    LoadRow();
    buffer_.clear();
    for (std::size_t i = 0; i < row_.size(); ++i) buffer_.push_back(Converted(i, row_[i]));
    dirty_.assign(names_.size(), false);
    mode_ = Mode::kEdit;
  }

  void Update() override {
    CheckOpen();
    if (mode_ == Mode::kNone) UpdateWithoutEdit();
    ReleaseCursor();
    const std::string table = QuoteIdentifier(src_.table);
    std::vector<std::size_t> set;
    for (std::size_t i = 0; i < dirty_.size(); ++i)
      if (dirty_[i]) set.push_back(i);
    if (mode_ == Mode::kAddNew) {
      std::string sql;
      if (set.empty()) {
        sql = "INSERT INTO " + table + " DEFAULT VALUES";
      } else {
        std::string columns, marks;
        for (std::size_t i : set) {
          columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(names_[i]);
          marks += marks.empty() ? "?" : ", ?";
        }
        sql = "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
      }
      Statement insert(*conn_, sql, "Cannot add a record to the table '" + src_.table + "'");
      for (std::size_t k = 0; k < set.size(); ++k)
        insert.Bind(static_cast<int>(k) + 1, buffer_[set[k]]);
      insert.Run();
    } else if (!set.empty()) {
      std::string assignments;
      for (std::size_t i : set)
        assignments += (assignments.empty() ? "" : ", ") + QuoteIdentifier(names_[i]) + " = ?";
      Statement update(*conn_, "UPDATE " + table + " SET " + assignments + " WHERE rowid = ?",
                       "Cannot update a record of the table '" + src_.table + "'");
      int k = 1;
      for (std::size_t i : set) update.Bind(k++, buffer_[i]);
      update.Bind(k, Value{rowid_});
      update.Run();
      Statement reread(*conn_, "SELECT rowid, * FROM " + table + " WHERE rowid = ?",
                       "Cannot read back a record of the table '" + src_.table + "'");
      reread.Bind(1, Value{rowid_});
      if (reread.Step()) CopyRow(reread.get());
    }
    mode_ = Mode::kNone;
  }

  void Close() override {
    cursor_.reset();
    closed_ = true;
    mode_ = Mode::kNone;
  }

  // Field access.
  const std::string& ColumnName(int i) const { return names_[i]; }

  std::int32_t ColumnType(int i) {
    CheckOpen();
    if (types_[i] == 0) ResolveTypes();
    return types_[i];
  }

  Value GetValue(int i) {
    CheckOpen();
    if (mode_ != Mode::kNone) return buffer_[i];
    if (!current_) NoCurrentRecord();
    if (!row_loaded_) return Converted(i, ColumnValue(cursor_->get(), i + offset_));
    return Converted(i, row_[i]);
  }

  void SetValue(int i, const Value& value) {
    CheckOpen();
    if (mode_ == Mode::kNone) UpdateWithoutEdit();
    buffer_[i] = value;
    dirty_[i] = true;
  }

 private:
  enum class Mode { kNone, kAddNew, kEdit };

  void CheckOpen() const {
    if (closed_)
      throw HostError(host::kErrObjectClosed,
                      "Object invalid or no longer set: the recordset '" + src_.jet + "' is closed.");
  }

  [[noreturn]] void UpdateWithoutEdit() const {
    throw HostError(host::kErrUpdateWithoutEdit,
                    "Update or CancelUpdate without AddNew or Edit (recordset '" + src_.jet + "').");
  }

  void RequireTableType(const char* operation) const {
    if (!src_.table_type)
      throw HostError(host::kErrNotSupported,
                      std::string("Operation is not supported for this type of object: ") +
                          operation + " needs a table-type recordset, and '" + src_.jet +
                          "' is not one.");
  }

  void RequireUpdatable() const {
    if (!src_.updatable)
      throw HostError(host::kErrNotUpdatable,
                      "Cannot update. Database or object is read-only: the recordset '" +
                          src_.jet + "' is a snapshot, a saved query or an SQL statement.");
  }

  std::string OrderBy() const {
    if (index_columns_.empty()) return "";
    std::string order = " ORDER BY ";
    for (const std::string& c : index_columns_) order += QuoteIdentifier(c) + ", ";
    return order + "rowid";
  }

  std::string BaseSql() const {
    if (src_.table.empty()) return src_.sql;
    return "SELECT rowid, * FROM " + QuoteIdentifier(src_.table) + OrderBy();
  }

  // Replaces the cursor; for table rows, `where` limits it to rows from a key on.
  void OpenCursor(const std::string& where, const std::vector<Value>& params) {
    std::string sql = BaseSql();
    if (!where.empty())
      sql = "SELECT rowid, * FROM " + QuoteIdentifier(src_.table) + " WHERE " + where + OrderBy();
    cursor_.reset();
    cursor_ = std::make_unique<Statement>(*conn_, sql,
                                          "Cannot open the recordset '" + src_.jet + "'", src_.jet);
    for (std::size_t k = 0; k < params.size(); ++k)
      cursor_->Bind(static_cast<int>(k) + 1, params[k]);
    cursor_filtered_ = !where.empty();
    cursor_done_ = false;
    cursor_stale_ = false;
  }

  // Whether the cursor stands on a row of the result as it was opened, so
  // that the rows from it on are the ones a fresh run would give: the
  // result is read-only (a saved query, a SELECT or a snapshot, which no
  // call of this recordset changes) and the cursor is not a Seek's.
  bool OnUnchangedResult() const {
    return !src_.updatable && !cursor_filtered_ && !cursor_done_ && current_;
  }

  // Puts the cursor before the first row of the whole result.
  void Restart() {
    cursor_stale_ = false;
    if (cursor_filtered_) {
      OpenCursor("", {});
    } else {
      cursor_->Reset();
      cursor_done_ = false;
    }
  }

  // Ends the cursor's read before this recordset writes. In WAL mode a
  // connection that still reads an old snapshot cannot start writing once
  // another process has committed (SQLite answers at once, without waiting
  // under the busy timeout), as a run of another item of the project does
  // when it saves its results. A later move picks the cursor up again at
  // the current row.
  void ReleaseCursor() {
    if (!cursor_) return;
    if (current_) LoadRow();
    cursor_->Reset();
    if (!cursor_done_ && current_ && offset_ == 1) cursor_stale_ = true;
  }

  // Re-opens a released cursor on the whole table and steps it to the row
  // it stood on; the cursor is done when that row is gone.
  void ResumeCursor() {
    cursor_stale_ = false;
    OpenCursor("", {});
    while (cursor_->Step()) {
      if (sqlite3_column_int64(cursor_->get(), 0) == rowid_) return;
    }
    cursor_done_ = true;
  }

  bool StepCursor() {
    if (cursor_stale_) ResumeCursor();
    if (cursor_done_ || !cursor_->Step()) {
      cursor_done_ = true;
      current_ = false;
      eof_ = true;
      return false;
    }
    if (offset_ == 1) rowid_ = sqlite3_column_int64(cursor_->get(), 0);
    row_loaded_ = false;
    current_ = true;
    eof_ = false;
    return true;
  }

  void CopyRow(sqlite3_stmt* stmt) {
    if (offset_ == 1) rowid_ = sqlite3_column_int64(stmt, 0);
    for (std::size_t i = 0; i < row_.size(); ++i)
      row_[i] = ColumnValue(stmt, static_cast<int>(i) + offset_);
    row_loaded_ = true;
  }

  // Copies the current row out of the cursor (which stands on it) before the cursor moves on
  // or row_ is read; until then GetValue reads the cursor's columns, each row read once.
  void LoadRow() { if (!row_loaded_) CopyRow(cursor_->get()); }

  Value Converted(std::size_t i, const Value& v) const {
    if (types_[i] == dao::kBoolean) {
      if (std::holds_alternative<std::int64_t>(v)) return std::get<std::int64_t>(v) != 0;
      if (std::holds_alternative<double>(v)) return std::get<double>(v) != 0.0;
    }
    return v;
  }

  // Types of expression columns: from the first row's value when the cursor
  // is on the first row, else from a second pass over the result.
  void ResolveTypes() {
    auto unresolved = [this] { return std::count(types_.begin(), types_.end(), 0) > 0; };
    if (current_ && position_ == 1 && !cursor_filtered_) {
      LoadRow();
      for (std::size_t i = 0; i < types_.size(); ++i) {
        if (types_[i] != 0) continue;
        switch (row_[i].index()) {
          case 2: types_[i] = dao::kLong; break;
          case 3: types_[i] = dao::kDouble; break;
          case 4: types_[i] = dao::kText; break;
          default: break;
        }
      }
    }
    if (unresolved()) {
      Statement look(*conn_, BaseSql(), "Cannot read the recordset '" + src_.jet + "'", src_.jet);
      while (unresolved() && look.Step()) {
        for (std::size_t i = 0; i < types_.size(); ++i) {
          if (types_[i] == 0)
            types_[i] = DaoTypeOfStorageClass(
                sqlite3_column_type(look.get(), static_cast<int>(i) + offset_));
        }
      }
    }
    for (std::int32_t& t : types_) if (t == 0) t = dao::kText;
  }

  std::shared_ptr<Connection> conn_;
  RecordsetSource src_;
  std::unique_ptr<Statement> cursor_;
  bool cursor_filtered_ = false;  // the cursor starts at a sought key
  bool cursor_done_ = false;      // the cursor has returned its last row
  bool cursor_stale_ = false;     // released by a write; resume at rowid_ before stepping
  int offset_ = 0;                // 1 when column 0 is the rowid
  std::vector<std::string> names_;
  std::vector<std::int32_t> types_;  // 0 until known
  std::vector<std::unique_ptr<SqliteField>> fields_;
  std::vector<Value> row_;
  bool row_loaded_ = true;  // row_ holds the current row (else the cursor does)
  std::int64_t rowid_ = 0;
  bool current_ = false;
  bool eof_ = false;
  std::int64_t position_ = 0;  // of the current row; 0 when unknown (after Seek)
  std::int64_t visited_ = 0;
  std::vector<std::string> index_columns_;
  bool no_match_ = false;
  Mode mode_ = Mode::kNone;
  std::vector<Value> buffer_;
  std::vector<bool> dirty_;
  bool closed_ = false;
};

std::string SqliteField::Name() const { return rs_->ColumnName(index_); }
std::int32_t SqliteField::Type() const { return rs_->ColumnType(index_); }
Value SqliteField::GetValue() const { return rs_->GetValue(index_); }
void SqliteField::SetValue(const Value& value) { rs_->SetValue(index_, value); }

}  // namespace

std::unique_ptr<host::dao::Recordset> NewSqliteRecordset(std::shared_ptr<Connection> connection,
                                                         RecordsetSource source) {
  return std::make_unique<SqliteRecordset>(std::move(connection), std::move(source));
}

}  // namespace pramble::sqlhost
