// A real project (the example survey, its analysis item numbered 12) with the
// real host services on the test's thread, the hooks of engine_harness.h on
// top, and an engine object with a recording notifier.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "engine/engine_harness.h"
#include "errors/c_mod_global.h"
#include "pramble/host/dao.h"
#include "sqlhost/project/project.h"
#include "sqlhost/runner/event_loop.h"
#include "pramble/host/services.h"
#include "sqlhost/services/default_services.h"
#include "pramble/quox_n_engine_interface.h"
#include "support/test_project.h"

namespace pramble::testing {

inline constexpr std::int32_t kItem = 12;

// The example description with its analysis item numbered 12.
inline nlohmann::json Description12() {
  nlohmann::json d = ExampleDescription();
  d["analyses"][0]["id"] = kItem;
  return d;
}

struct StoredRow {
  std::string output;
  std::string log;
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override { Open(Description12()); }
  void TearDown() override { Close(); }

  void Open(const nlohmann::json& description) {
    Close();
    tp_ = TestProject::FromJson(description);
    hooks_ = std::make_unique<HookedServices>(
        &tp_->services(), [loop = &tp_->loop()](std::function<void()> task) {
          loop->Post(std::move(task));
        });
    installed_ = std::make_unique<host::ScopedServices>(hooks_.get());
    engine_ = std::make_unique<QuoxNEngineInterface>();
    engine_->ProjectDatabase(tp_->project());
    notify_ = std::make_shared<RecordingNotify>();
    engine_->NEngineNotify(notify_);
  }

  void Close() {
    engine_.reset();
    installed_.reset();
    hooks_.reset();
    tp_.reset();
    gLog.reset();
  }

  // Runs the event loop until the engine has said ItemFinished `count` times.
  void WaitForEnd(int count = 1) {
    const bool ended = tp_->loop().RunUntil([&] { return notify_->finished >= count; },
                                            std::chrono::seconds(240));
    ASSERT_TRUE(ended) << "the run did not end; log:\n" << engine_->Log();
  }

  // RunItem, then the loop until the run has ended. Answers RunItem's answer.
  bool RunToEnd(std::int32_t id = kItem) {
    const int before = notify_->finished;
    const bool launched = engine_->RunItem(id);
    if (launched) WaitForEnd(before + 1);
    return launched;
  }

  sqlhost::ItemInfo Item(std::int32_t id = kItem) { return *tp_->project()->FindItem(id); }

  std::optional<StoredRow> Row(std::int32_t id = kItem) {
    host::dao::Database& db = tp_->project()->Database();
    if (!db.TableExists("AnalysisQuoxResults")) return std::nullopt;
    auto rs = db.OpenRecordset("SELECT Output, Log FROM AnalysisQuoxResults WHERE ID = " +
                               std::to_string(id));
    if (rs->Eof()) return std::nullopt;
    StoredRow row{host::ToText(rs->Fields("Output").GetValue()),
                  host::ToText(rs->Fields("Log").GetValue())};
    rs->Close();
    return row;
  }

  void SetSetting(const std::string& section, const std::string& key, const host::Value& value) {
    tp_->project()->SetSettingValue(section, key, value);
  }

  std::unique_ptr<TestProject> tp_;
  std::unique_ptr<HookedServices> hooks_;
  std::unique_ptr<host::ScopedServices> installed_;
  std::unique_ptr<QuoxNEngineInterface> engine_;
  std::shared_ptr<RecordingNotify> notify_;
};

}  // namespace pramble::testing
