// The start of a run and its early ends: errors raised to the host, files
// that cannot be made, debug mode, R not found, stops before and during a
// run, and an engine object that serves several runs.
#include <filesystem>

#include "engine/engine_fixture.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

ScriptedRun Finished() {
  ScriptedRun run;
  run.status = 1;
  run.r_log = "> ddf.12 <- ddf(...)\n";
  run.results = "Results\r\n";
  run.stats = "0001\t1.5\r\n";
  return run;
}

using EngineStartTest = EngineFixture;

TEST_F(EngineStartTest, WithoutProjectRaises7950AndPublishesNothing) {
  QuoxNEngineInterface engine;
  engine.NEngineNotify(notify_);
  try {
    engine.RunItem(kItem);
    FAIL() << "RunItem did not raise";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.number(), -2147213554);
    EXPECT_EQ(e.source(), "Pramble.QuoxNEngineInterface.RunItem");
    EXPECT_EQ(e.description(), "Cannot use method as ProjectDatabase property is not set.");
  }
  EXPECT_EQ(engine.Log(), "");
  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_EQ(notify_->finished, 0);
}

TEST_F(EngineStartTest, UnknownItemRaises7951WithAnEmptyLog) {
  try {
    engine_->RunItem(99);
    FAIL() << "RunItem did not raise";
  } catch (const ComponentError& e) {
    EXPECT_EQ(e.number(), -2147213553);
    EXPECT_EQ(e.source(), "Pramble.QuoxNEngineInterface.GetBrowserItem");
    EXPECT_EQ(e.description(), "Cannot find item '99'.");
  }
  EXPECT_EQ(engine_->Log(), "");
  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_EQ(Item().status, 0);
  EXPECT_FALSE(Item().run_date.has_value());
}

TEST_F(EngineStartTest, FilesThatCannotBeMadeEndTheRunWithStatusThree) {
  nlohmann::json d = Description12();
  d["surveys"][0]["definition"] =
      "Type Line; Distance Perp; Object Cluster; PDist /Fld=distance; CSize /Fld=size; "
      "ObjID /Fld=object; Obs /Fld=observer; Detected /Fld=detected; Area /Fld=Area; "
      "Effort /Fld=\"Line length\";";
  Open(d);
  hooks_->UseScriptedRunner(Finished());

  EXPECT_FALSE(engine_->RunItem(kItem));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 8, 3}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(hooks_->runner().created, 0);
  EXPECT_EQ(Item().status, 3);
  EXPECT_TRUE(Item().run_date.has_value());
  const std::string log = engine_->Log();
  EXPECT_TRUE(Has(log, "Initializing"));
  EXPECT_TRUE(Has(log, "Could not find 'Configuration' command in the survey definition."));
  EXPECT_FALSE(Has(log, "Run finished"));
  ASSERT_TRUE(Row().has_value());
  EXPECT_EQ(Row()->output, "");
  EXPECT_EQ(Row()->log, log);
}

TEST_F(EngineStartTest, DebugModeMakesTheFilesAndKeepsThemWithoutStartingR) {
  SetSetting("AnalysisDetails", "DebugMode", host::Value{true});
  hooks_->UseScriptedRunner(Finished());

  EXPECT_FALSE(engine_->RunItem(kItem));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 8, 2}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(hooks_->runner().created, 0);
  EXPECT_EQ(Item().status, 2);

  const std::string log = engine_->Log();
  const std::string warning =
      "Running in debug mode: input files will be generated but analysis will not be run.";
  ASSERT_TRUE(Has(log, warning));
  EXPECT_LT(log.find(warning), log.find("Initializing"));
  EXPECT_TRUE(Has(log, "Run finished"));
  EXPECT_FALSE(Has(log, "Analysis engine status"));

  ASSERT_EQ(hooks_->created_folders().size(), 1u);
  const fs::path folder = hooks_->created_folders()[0];
  EXPECT_TRUE(Has(log, "Debug mode: R commands folder '"));
  EXPECT_TRUE(Has(log, "' will not be deleted."));
  for (const char* name : {"in.r", "log.r", "ddf.dat.r", "region.dat.r", "sample.dat.r",
                           "obs.dat.r"})
    EXPECT_TRUE(fs::exists(folder / name)) << name;
  ASSERT_TRUE(Row().has_value());
  EXPECT_EQ(Row()->output, "");
  EXPECT_EQ(Row()->log, log);
  fs::remove_all(folder);
}

TEST_F(EngineStartTest, RNotFoundLogsTheRunnersReason) {
  ScriptedRun run = Finished();
  run.engine_path = "";
  run.not_found_message = "R could not be found on the PATH.";
  hooks_->UseScriptedRunner(run);

  EXPECT_FALSE(engine_->RunItem(kItem));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 8, 3}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(hooks_->runner().runs, 0);
  EXPECT_TRUE(Has(engine_->Log(), "R could not be found on the PATH."));
  EXPECT_EQ(Item().status, 3);
  // The folder of a run that never started goes as well.
  ASSERT_EQ(hooks_->created_folders().size(), 1u);
  EXPECT_FALSE(fs::exists(hooks_->created_folders()[0]));
}

TEST_F(EngineStartTest, StopWhilePreparingEndsTheRunWithoutStartingR) {
  hooks_->UseScriptedRunner(Finished());
  hooks_->OnCreateFolder([this] { EXPECT_FALSE(engine_->StopItemRun()); });

  EXPECT_FALSE(engine_->RunItem(kItem));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 9, 8, 0}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(hooks_->runner().created, 0);
  EXPECT_EQ(Item().status, 0);
  EXPECT_FALSE(Item().run_date.has_value());
  EXPECT_TRUE(Has(engine_->Log(), "Stopping the run"));
  EXPECT_FALSE(Has(engine_->Log(), "terminated unexpectedly"));
}

// The host keeps the engine object: a stop ends its own run only.
TEST_F(EngineStartTest, AStoppedRunDoesNotEndTheNextRun) {
  ScriptedRun hang = Finished();
  hang.hang = true;
  hooks_->UseScriptedRunner(hang);
  ASSERT_TRUE(engine_->RunItem(kItem));
  EXPECT_FALSE(engine_->StopItemRun());
  WaitForEnd(1);
  EXPECT_EQ(Item().status, 0);

  hooks_->UseScriptedRunner(Finished());
  notify_->statuses.clear();
  ASSERT_TRUE(engine_->RunItem(kItem));
  WaitForEnd(2);
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 7, 8, 1}));
  EXPECT_EQ(Item().status, 1);
  EXPECT_FALSE(Has(engine_->Log(), "Stopping the run"));
  EXPECT_EQ(hooks_->runner().created, 2);
  EXPECT_EQ(hooks_->runner().stops, 1);
}

TEST_F(EngineStartTest, StopBeforeAnyRunAnswersFalseAndDoesNothing) {
  EXPECT_FALSE(engine_->StopItemRun());
  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_EQ(notify_->finished, 0);
  EXPECT_EQ(engine_->Log(), "");

  QuoxNEngineInterface bare;  // neither project nor notifier
  EXPECT_FALSE(bare.StopItemRun());

  // The stop did not stick to the object.
  hooks_->UseScriptedRunner(Finished());
  EXPECT_TRUE(RunToEnd());
  EXPECT_EQ(Item().status, 1);
}

TEST_F(EngineStartTest, StopAfterTheRunEndedLeavesStatusNine) {
  hooks_->UseScriptedRunner(Finished());
  ASSERT_TRUE(RunToEnd());
  EXPECT_FALSE(engine_->StopItemRun());
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 7, 8, 1, 9}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(Item().status, 9);
  EXPECT_EQ(hooks_->runner().stops, 0);
  EXPECT_TRUE(Has(engine_->Log(), "Stopping the run"));
}

TEST_F(EngineStartTest, WithoutNotifierTheItemStillCarriesTheStatus) {
  engine_->NEngineNotify(nullptr);
  hooks_->UseScriptedRunner(Finished());
  ASSERT_TRUE(engine_->RunItem(kItem));
  ASSERT_TRUE(tp_->loop().RunUntil([&] { return Item().status == 1; }, std::chrono::seconds(60)));
  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_TRUE(Row().has_value());
}

// The host's interface forwards to the object's own members; Parameters play no part.
TEST_F(EngineStartTest, HostInterfaceForwards) {
  hooks_->UseScriptedRunner(Finished());
  INEngineInterface& host_view = *engine_;
  EXPECT_EQ(host_view.INEngineInterface_ProjectDatabase(), tp_->project());
  EXPECT_EQ(host_view.INEngineInterface_NEngineNotify(), notify_);
  ASSERT_TRUE(host_view.INEngineInterface_RunItem(kItem, "Anything=1"));
  WaitForEnd(1);
  EXPECT_EQ(Item().status, 1);
  EXPECT_EQ(host_view.INEngineInterface_Log(), engine_->Log());
  EXPECT_FALSE(host_view.INEngineInterface_StopItemRun());
  EXPECT_TRUE(host_view.INEngineInterface_ResetItem(kItem, "Anything=1"));
  EXPECT_EQ(Item().status, 0);
}

TEST_F(EngineStartTest, TimeStampedLogWhenAskedFor) {
  SetSetting("AnalysisDetails", "TimeStampLog", host::Value{true});
  hooks_->UseScriptedRunner(Finished());
  ASSERT_TRUE(RunToEnd());
  const std::string stamped = engine_->Log();

  SetSetting("AnalysisDetails", "TimeStampLog", host::Value{false});
  ASSERT_TRUE(RunToEnd());
  const std::string plain = engine_->Log();
  // The same messages, each with its time in front.
  EXPECT_EQ(plain.rfind("Initializing", 0), 0u) << plain;
  EXPECT_NE(stamped.rfind("Initializing", 0), 0u) << stamped;
  EXPECT_TRUE(Has(stamped, "Initializing"));
  EXPECT_GT(stamped.size(), plain.size());
}

}  // namespace
}  // namespace pramble::testing
