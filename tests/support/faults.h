// Test support: wrappers around the real host that forward every call and
// break the ones a test names. A rule names a call and a fragment of its
// argument (a path, a query name, a log message; "" matches any), and every
// wrapped call is shown to `watch` before it goes on.
//
//   FaultyServices services(&tp->services());
//   services.faults.Break("ReadTextFile", "/log.r");   // throws HostError 75
//   host::ScopedServices installed(&services);
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pramble/host/errors.h"
#include "pramble/host/log.h"
#include "pramble/host/project_database.h"
#include "pramble/host/services.h"

namespace pramble::testing {

struct Faults {
  std::vector<std::pair<std::string, std::string>> rules;  // (call, argument fragment)
  std::function<void(const std::string& call, const std::string& arg)> watch;

  void Break(const std::string& call, const std::string& fragment = "") {
    rules.emplace_back(call, fragment);
  }
  // Shows the call to `watch`; True when a rule breaks it.
  bool Hit(const std::string& call, const std::string& arg) {
    if (watch) watch(call, arg);
    for (const auto& [c, fragment] : rules)
      if (c == call && arg.find(fragment) != std::string::npos) return true;
    return false;
  }
  // Throws HostError `number` when a rule breaks the call.
  void Throw(const std::string& call, const std::string& arg, std::int32_t number = 75) {
    if (Hit(call, arg)) throw host::HostError(number, "injected failure of " + call + " " + arg);
  }
};

// Broken calls that answer False or "" do so; the others throw HostError 75.
// CreateFolder records every folder asked for; a file whose path ends in a key
// of `replace` gets that text instead of what WriteTextFile is given.
class FaultyFiles : public host::FileSystem {
 public:
  FaultyFiles(host::FileSystem& real, Faults& faults) : real_(real), faults_(faults) {}
  std::vector<std::string> created;
  std::map<std::string, std::string> replace;

  std::string GetTempFolderName() override {
    return faults_.Hit("GetTempFolderName", "") ? "" : real_.GetTempFolderName();
  }
  bool CreateFolder(const std::string& folder) override {
    created.push_back(folder);
    return !faults_.Hit("CreateFolder", folder) && real_.CreateFolder(folder);
  }
  std::string GetDisplayPath(const std::string& folder, const std::string& base) override {
    return real_.GetDisplayPath(folder, base);
  }
  bool WriteTextFile(const std::string& file, const std::string& text) override {
    if (faults_.Hit("WriteTextFile", file)) return false;
    for (const auto& [end, instead] : replace)
      if (file.ends_with(end)) return real_.WriteTextFile(file, instead);
    return real_.WriteTextFile(file, text);
  }
  bool ReadTextFile(const std::string& file, std::string& text) override {
    faults_.Throw("ReadTextFile", file);
    return real_.ReadTextFile(file, text);
  }
  bool DeleteFolder(const std::string& folder, bool force) override {
    return !faults_.Hit("DeleteFolder", folder) && real_.DeleteFolder(folder, force);
  }
  // Its "Append" and "Close" break by the file's path.
  std::unique_ptr<host::WritableFile> NewWritableFile(const std::string& file) override;
  std::unique_ptr<host::LineReader> NewLineReader(const std::string& file) override {
    faults_.Throw("NewLineReader", file);
    return real_.NewLineReader(file);
  }
  std::vector<std::string> ListFiles(const std::string& folder) override {
    return real_.ListFiles(folder);
  }
  void DeleteFile(const std::string& file) override {
    faults_.Throw("DeleteFile", file);
    real_.DeleteFile(file);
  }
  std::string PathSeparator() const override { return real_.PathSeparator(); }

 private:
  host::FileSystem& real_;
  Faults& faults_;
};

// Records every message with its level and hands it on to `real` (when
// given); a broken "Add" (by message) throws HostError 5. Header-only, for
// test programs without the host.
class RecordingLog : public host::LogWrapper {
 public:
  explicit RecordingLog(std::unique_ptr<host::Log> real = nullptr, Faults* faults = nullptr)
      : LogWrapper(real ? std::move(real) : std::make_unique<Unlogged>()), faults_(faults) {}
  std::vector<std::pair<std::string, int>> entries;
  void Add(const std::string& message, std::int32_t level) override {
    entries.emplace_back(message, level);
    if (faults_) faults_->Throw("Add", message, 5);
    LogWrapper::Add(message, level);
  }
  // The entries of level 1 and above.
  std::vector<std::pair<std::string, int>> Problems() const {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& e : entries)
      if (e.second > 0) out.push_back(e);
    return out;
  }

 private:
  struct Unlogged : host::Log {
    void Add(const std::string&, std::int32_t) override {}
    std::string Contents() const override { return ""; }
    void SetTimeStamp(bool) override {}
    std::int32_t Severity() const override { return 0; }
  };
  Faults* faults_;
};

// The real services with the faulty file system, recording logs, a definition
// reader whose "GetCommand" (by command name) can break, and, when `runner` is
// set, the runners it makes instead of the real one.
class FaultyServices : public host::ServicesWrapper {
 public:
  explicit FaultyServices(host::Services* real);
  ~FaultyServices() override;
  Faults faults;
  FaultyFiles files{target()->Files(), faults};
  std::function<std::unique_ptr<host::RProcess>()> runner;

  host::FileSystem& Files() override { return files; }
  host::DefinitionReader& Reader() override;
  std::unique_ptr<host::Log> NewLog() override {
    return std::make_unique<RecordingLog>(target()->NewLog(), &faults);
  }
  std::unique_ptr<host::RProcess> NewRProcess() override {
    return runner ? runner() : target()->NewRProcess();
  }

 private:
  class Commands;
  std::unique_ptr<Commands> reader_;
};

// A project that forwards to a real one. Breakable: "Browsers" (throws) and,
// on the data database, "OpenRecordset" (by source) and "CreateQueryDef" (by
// name); "CreateQueryDef" and "DeleteQueryDef" are shown to `watch`.
class FaultyProject : public host::ProjectDatabase {
 public:
  FaultyProject(std::shared_ptr<host::ProjectDatabase> real, Faults& faults);
  ~FaultyProject() override;
  host::SettingsStore& Settings() override { return real_->Settings(); }
  host::BrowserList& Browsers() override;
  host::dao::Database& Database() override { return real_->Database(); }
  host::dao::Database& DataDatabase() override;
  host::LayerCollection& Layers() override { return real_->Layers(); }
  std::string GetProjectFolder(std::int32_t which) override {
    return real_->GetProjectFolder(which);
  }
  void NotifyItemChanged() override { real_->NotifyItemChanged(); }

 private:
  class Data;
  std::shared_ptr<host::ProjectDatabase> real_;
  Faults& faults_;
  std::unique_ptr<Data> data_;
};

}  // namespace pramble::testing
