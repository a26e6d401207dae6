// A real project (the example survey, its analysis item numbered 12) with the
// faulty services of support/faults.h on the test's thread, an engine object
// with a recording notifier, and a runner that can report a scripted outcome
// instead of starting R.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "errors/c_mod_global.h"
#include "pramble/engine_interface.h"
#include "pramble/host/r_process.h"
#include "pramble/quox_n_engine_interface.h"
#include "sqlhost/project/project.h"
#include "sqlhost/runner/event_loop.h"
#include "sqlhost/services/default_services.h"
#include "support/faults.h"
#include "support/test_project.h"

namespace pramble::testing {

inline constexpr std::int32_t kItem = 12;

inline nlohmann::json Description12() {
  nlohmann::json d = ExampleDescription();
  d["analyses"][0]["id"] = kItem;
  return d;
}

struct RecordingNotify : NEngineNotify {
  void StatusChanged(std::int32_t status) override { statuses.push_back(status); }
  void ItemFinished() override { ++finished; }
  std::vector<std::int32_t> statuses;
  int finished = 0;
};

// What a scripted runner reports instead of starting R, and what it writes
// where R would (nullopt: no such file).
struct Script {
  std::int32_t status = 1;
  std::optional<std::string> r_log = "> library(quox)\n> ddf.12 <- ddf(...)\n";
  std::optional<std::string> results = "Abundance 3120\n";
  std::optional<std::string> stats = "0001\t3120\n0002\t0.5\n";
  std::string error_message;
  std::string engine_path = "/usr/bin/R";  // "": R cannot be found
  std::string not_found_message;
  bool hang = false;  // Run delivers nothing; StopRun delivers 0
};

struct RunnerRecord {
  int created = 0, runs = 0, stops = 0;
  std::string engine_path, folder;
};

// Like the real runner it posts its end to the loop once, never after it has gone.
class ScriptedRunner : public host::RProcess {
 public:
  ScriptedRunner(Script s, RunnerRecord* record, host::FileSystem& files, sqlhost::EventLoop& loop)
      : s_(std::move(s)), record_(record), files_(files), loop_(loop) {
    ++record_->created;
  }
  ~ScriptedRunner() override { *alive_ = false; }
  std::string GetEnginePath(host::ProjectDatabase&) override {
    if (s_.engine_path.empty()) error_ = s_.not_found_message;
    return s_.engine_path;
  }
  void Run(const std::string& engine_path, const std::string& folder, const std::string&,
           const std::string& log_file) override {
    ++record_->runs;
    record_->engine_path = engine_path;
    record_->folder = folder;
    error_ = s_.error_message;
    const std::string dir = log_file.substr(0, log_file.find_last_of('/') + 1);
    if (s_.results) files_.WriteTextFile(dir + "res.r", *s_.results);
    if (s_.stats) files_.WriteTextFile(dir + "stat.r", *s_.stats);
    if (s_.r_log) files_.WriteTextFile(log_file, *s_.r_log);
    else std::remove(log_file.c_str());
    if (!s_.hang) Deliver(s_.status);
  }
  void StopRun() override {
    ++record_->stops;
    Deliver(0);
  }
  std::string CommandLine() const override { return "R --no-save --no-restore -f in.r"; }
  std::string ErrorMessage() const override { return error_; }
  void SetRunFinishedHandler(RunFinishedHandler handler) override { handler_ = handler; }

 private:
  void Deliver(std::int32_t status) {
    if (delivered_) return;
    delivered_ = true;
    loop_.Post([alive = alive_, handler = handler_, status] {
      if (*alive && handler) handler(status);
    });
  }
  Script s_;
  RunnerRecord* record_;
  host::FileSystem& files_;
  sqlhost::EventLoop& loop_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  RunFinishedHandler handler_;
  std::string error_;
  bool delivered_ = false;
};

struct StoredRow {
  std::string output, log;
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override { Open(Description12()); }
  void TearDown() override { Close(); }

  void Open(const nlohmann::json& description) {
    Close();
    tp_ = TestProject::FromJson(description);
    services_ = std::make_unique<FaultyServices>(&tp_->services());
    installed_ = std::make_unique<host::ScopedServices>(services_.get());
    engine_ = std::make_unique<QuoxNEngineInterface>();
    engine_->ProjectDatabase(tp_->project());
    notify_ = std::make_shared<RecordingNotify>();
    engine_->NEngineNotify(notify_);
  }
  void Close() {
    engine_.reset();
    installed_.reset();
    services_.reset();
    tp_.reset();
    gLog.reset();
  }

  void UseScript(const Script& s) {
    services_->runner = [this, s] {
      return std::make_unique<ScriptedRunner>(s, &record_, tp_->services().Files(), tp_->loop());
    };
  }

  // Runs the event loop until the engine has said ItemFinished `count` times.
  void WaitForEnd(int count = 1) {
    ASSERT_TRUE(tp_->loop().RunUntil([&] { return notify_->finished >= count; },
                                     std::chrono::seconds(240)))
        << "the run did not end; log:\n" << engine_->Log();
  }
  // RunItem, then the loop until the run has ended. Answers RunItem's answer.
  bool RunToEnd() {
    const int before = notify_->finished;
    const bool launched = engine_->RunItem(kItem);
    if (launched) WaitForEnd(before + 1);
    return launched;
  }

  sqlhost::ItemInfo Item() { return *tp_->project()->FindItem(kItem); }
  std::optional<StoredRow> Row() {
    host::dao::Database& db = tp_->project()->Database();
    if (!db.TableExists("AnalysisQuoxResults")) return std::nullopt;
    auto rs = db.OpenRecordset("SELECT Output, Log FROM AnalysisQuoxResults WHERE ID = " +
                               std::to_string(kItem));
    if (rs->Eof()) return std::nullopt;
    return StoredRow{host::ToText(rs->Fields("Output").GetValue()),
                     host::ToText(rs->Fields("Log").GetValue())};
  }
  void SetSetting(const std::string& section, const std::string& key, const host::Value& value) {
    tp_->project()->SetSettingValue(section, key, value);
  }

  std::unique_ptr<TestProject> tp_;
  std::unique_ptr<FaultyServices> services_;
  std::unique_ptr<host::ScopedServices> installed_;
  std::unique_ptr<QuoxNEngineInterface> engine_;
  std::shared_ptr<RecordingNotify> notify_;
  RunnerRecord record_;
};

}  // namespace pramble::testing
