#include "support/faults.h"

namespace pramble::testing {
std::unique_ptr<host::WritableFile> FaultyFiles::NewWritableFile(const std::string& file) {
  struct File : host::WritableFile {
    File(std::unique_ptr<host::WritableFile> r, Faults& f, std::string p)
        : real(std::move(r)), faults(f), path(std::move(p)) {}
    void Append(const std::string& data) override {
      faults.Throw("Append", path);
      real->Append(data);
    }
    void Close() override {
      real->Close();
      faults.Throw("Close", path);
    }
    std::unique_ptr<host::WritableFile> real;
    Faults& faults;
    std::string path;
  };
  faults_.Throw("NewWritableFile", file);
  return std::make_unique<File>(real_.NewWritableFile(file), faults_, file);
}

class FaultyServices::Commands : public host::DefinitionReader {
 public:
  Commands(host::DefinitionReader& real, Faults& faults) : real_(real), faults_(faults) {}
  host::Command GetCommand(const std::string& definition, const std::string& name) override {
    faults_.Throw("GetCommand", name, 5);
    return real_.GetCommand(definition, name);
  }
  host::Command GetNextCommand(std::string& definition) override {
    return real_.GetNextCommand(definition);
  }
  std::vector<std::string> SplitList(const std::string& text, const std::string& d) override {
    return real_.SplitList(text, d);
  }

 private:
  host::DefinitionReader& real_;
  Faults& faults_;
};

FaultyServices::FaultyServices(host::Services* real) : host::ServicesWrapper(real) {}
FaultyServices::~FaultyServices() = default;

host::DefinitionReader& FaultyServices::Reader() {
  if (!reader_) reader_ = std::make_unique<Commands>(target()->Reader(), faults);
  return *reader_;
}

class FaultyProject::Data : public host::dao::Database {
 public:
  Data(host::dao::Database& real, Faults& faults) : real_(real), faults_(faults) {}
  void Execute(const std::string& sql) override { real_.Execute(sql); }
  std::unique_ptr<host::dao::Recordset> OpenRecordset(const std::string& source,
                                                      std::int32_t type) override {
    faults_.Throw("OpenRecordset", source, host::kErrSql);
    return real_.OpenRecordset(source, type);
  }
  bool TableExists(const std::string& name) override { return real_.TableExists(name); }
  std::unique_ptr<host::dao::TableDef> GetTableDef(const std::string& name) override {
    return real_.GetTableDef(name);
  }
  std::unique_ptr<host::dao::TableDef> CreateTableDef(const std::string& name) override {
    return real_.CreateTableDef(name);
  }
  void AppendTableDef(host::dao::TableDef& table) override { real_.AppendTableDef(table); }
  void CreateQueryDef(const std::string& name, const std::string& sql) override {
    faults_.Throw("CreateQueryDef", name, host::kErrSql);
    real_.CreateQueryDef(name, sql);
  }
  void DeleteQueryDef(const std::string& name) override {
    faults_.Hit("DeleteQueryDef", name);
    real_.DeleteQueryDef(name);
  }
  bool QueryDefExists(const std::string& name) override { return real_.QueryDefExists(name); }
  std::vector<std::string> QueryDefNames() override { return real_.QueryDefNames(); }
  std::string QueryDefSql(const std::string& name) override { return real_.QueryDefSql(name); }

 private:
  host::dao::Database& real_;
  Faults& faults_;
};

FaultyProject::FaultyProject(std::shared_ptr<host::ProjectDatabase> real, Faults& faults)
    : real_(std::move(real)), faults_(faults),
      data_(std::make_unique<Data>(real_->DataDatabase(), faults)) {}
FaultyProject::~FaultyProject() = default;

host::BrowserList& FaultyProject::Browsers() {
  faults_.Throw("Browsers", "");
  return real_->Browsers();
}
host::dao::Database& FaultyProject::DataDatabase() { return *data_; }

}  // namespace pramble::testing
