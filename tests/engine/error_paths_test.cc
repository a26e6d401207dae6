// The engine's handlers of failures that a sound host never gives, each
// reached by one fault injected at the host: the preparation's unexpected
// error, the item lookup's, and the three caught failures of reading what R
// left.
#include "engine/engine_fixture.h"
#include "errors/c_mod_error_handling.h"
#include "pramble/component_error.h"

namespace pramble::testing {
namespace {

struct ErrorPathCase {
  const char* name;
  std::function<void(HookedServices&)> fault;
  bool launched;  // RunItem started the runner
  std::int32_t final_status;
  std::string log_has;
  std::string output;  // the stored "Output"
};

ScriptedRun Finished(bool with_stats = true) {
  ScriptedRun run;
  run.r_log = "> ddf.12<-ddf(...)\n";
  run.results = "Results\r\n";
  if (with_stats) run.stats = "0001\t1.5\r\n";
  return run;
}

std::vector<ErrorPathCase> Cases() {
  return {
      // A 9999 raised by the restriction check ends the preparation like any
      // other unexpected error there.
      {"RestrictionCheckFails",
       [](HookedServices& h) {
         h.UseScriptedRunner(Finished());
         h.FailCommand("Distance");
       },
       false, 3, "Error: Encountered an error while trying to make the input or data files", ""},
      {"LogFileReadFails",
       [](HookedServices& h) {
         h.UseScriptedRunner(Finished());
         h.FailReadOf("/log.r");
       },
       true, 2, "Warning: Engine finished, but Corvane could not read the log file.",
       "Results\r\n"},
      {"ResultsFileReadFails",
       [](HookedServices& h) {
         h.UseScriptedRunner(Finished());
         h.FailReadOf("/res.r");
       },
       true, 2,
       "Warning: Encontered a problem reading either the output or plot file.  Results not "
       "saved.",
       ""},
      // The statistics file is missing and the log fails on the message that
      // would say so: the failure reaches the save's own handler.
      {"StatsFailureCannotBeLogged",
       [](HookedServices& h) {
         h.UseScriptedRunner(Finished(false));
         h.FailLogOf("DatabaseInterface.SaveStatsFileContents");
       },
       true, 2, "Warning: Encontered a problem reading the stats file.  Stats not saved.", ""},
  };
}

class ErrorPathTest : public EngineFixture, public ::testing::WithParamInterface<ErrorPathCase> {};

TEST_P(ErrorPathTest, EndsTheRunWithItsMessage) {
  const ErrorPathCase& c = GetParam();
  c.fault(*hooks_);
  EXPECT_EQ(RunToEnd(), c.launched) << engine_->Log();
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(Item().status, c.final_status) << engine_->Log();
  EXPECT_TRUE(Has(engine_->Log(), c.log_has)) << engine_->Log();
  const std::optional<StoredRow> row = Row();
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->output, c.output);
}

INSTANTIATE_TEST_SUITE_P(HostFaults, ErrorPathTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The item lookup fails unexpectedly: RunItem raises 9999 from
// GetBrowserItem to the host, with the failure's number and description.
class BrokenBrowsers : public host::BrowserList {
 public:
  std::int64_t IndexOfItem(std::int32_t) override {
    throw host::HostError(host::kErrPathFileAccess, "browser table unreadable");
  }
  host::Browser& Item(std::int64_t) override {
    throw host::HostError(host::kErrPathFileAccess, "browser table unreadable");
  }
};

class ProjectWithBrokenBrowsers : public host::ProjectDatabase {
 public:
  explicit ProjectWithBrokenBrowsers(std::shared_ptr<host::ProjectDatabase> real)
      : real_(std::move(real)) {}
  host::SettingsStore& Settings() override { return real_->Settings(); }
  host::BrowserList& Browsers() override { return browsers_; }
  host::dao::Database& Database() override { return real_->Database(); }
  host::dao::Database& DataDatabase() override { return real_->DataDatabase(); }
  host::LayerCollection& Layers() override { return real_->Layers(); }
  std::string GetProjectFolder(std::int32_t which) override {
    return real_->GetProjectFolder(which);
  }
  void NotifyItemChanged() override { real_->NotifyItemChanged(); }

 private:
  std::shared_ptr<host::ProjectDatabase> real_;
  BrokenBrowsers browsers_;
};

using ItemLookupTest = EngineFixture;

TEST_F(ItemLookupTest, FailureIsRaisedAsUnexpected) {
  engine_->ProjectDatabase(std::make_shared<ProjectWithBrokenBrowsers>(tp_->project()));
  try {
    engine_->RunItem(kItem);
    FAIL() << "RunItem answered instead of raising";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.number(), kErrorBase + kErrUnexpected);
    EXPECT_EQ(e.source(), "Pramble.QuoxNEngineInterface.GetBrowserItem");
    EXPECT_TRUE(Has(e.description(), "Internal Error number: 75.")) << e.description();
    EXPECT_TRUE(Has(e.description(), "browser table unreadable")) << e.description();
  }
  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_EQ(Item().status, 0);
}

}  // namespace
}  // namespace pramble::testing
