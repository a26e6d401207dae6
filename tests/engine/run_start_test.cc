// The errors RunItem raises to the host, stops outside a run, an engine
// object that serves several runs, a run without a notifier, and the time
// stamps of the log.
#include "engine/engine_fixture.h"
#include "errors/c_mod_error_handling.h"

namespace pramble::testing {
namespace {

using EngineStartTest = EngineFixture;

ComponentError RaisedBy(QuoxNEngineInterface& engine, std::int32_t id) {
  try {
    engine.RunItem(id);
  } catch (const ComponentError& e) {
    return e;
  }
  ADD_FAILURE() << "RunItem did not raise";
  return ComponentError(0, "", "");
}

TEST_F(EngineStartTest, RaisesWithoutProjectForAnUnknownItemAndWhenTheLookupFails) {
  QuoxNEngineInterface bare;
  bare.NEngineNotify(notify_);
  ComponentError e = RaisedBy(bare, kItem);
  EXPECT_EQ(e.number(), -2147213554);
  EXPECT_EQ(e.source(), "Pramble.QuoxNEngineInterface.RunItem");
  EXPECT_EQ(e.description(), "Cannot use method as ProjectDatabase property is not set.");
  EXPECT_EQ(bare.Log(), "");

  e = RaisedBy(*engine_, 99);
  EXPECT_EQ(e.number(), -2147213553);
  EXPECT_EQ(e.source(), "Pramble.QuoxNEngineInterface.GetBrowserItem");
  EXPECT_EQ(e.description(), "Cannot find item '99'.");
  EXPECT_EQ(engine_->Log(), "");

  // A lookup that fails unexpectedly is raised as such, with its number.
  Faults broken;
  broken.Break("Browsers");
  engine_->ProjectDatabase(std::make_shared<FaultyProject>(tp_->project(), broken));
  e = RaisedBy(*engine_, kItem);
  EXPECT_EQ(e.number(), kErrorBase + kErrUnexpected);
  EXPECT_EQ(e.source(), "Pramble.QuoxNEngineInterface.GetBrowserItem");
  EXPECT_TRUE(Has(e.description(), "Internal Error number: 75.")) << e.description();

  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_EQ(notify_->finished, 0);
  EXPECT_EQ(Item().status, 0);
  EXPECT_FALSE(Item().run_date.has_value());
}

// The host keeps the engine object: a stop ends its own run only.
TEST_F(EngineStartTest, AStoppedRunDoesNotEndTheNextRun) {
  Script hang;
  hang.hang = true;
  UseScript(hang);
  ASSERT_TRUE(engine_->RunItem(kItem));
  EXPECT_FALSE(engine_->StopItemRun());
  WaitForEnd(1);
  EXPECT_EQ(Item().status, 0);

  UseScript(Script{});
  notify_->statuses.clear();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 7, 8, 1}));
  EXPECT_FALSE(Has(engine_->Log(), "Stopping the run"));
  EXPECT_EQ(record_.created, 2);
  EXPECT_EQ(record_.stops, 1);
}

TEST_F(EngineStartTest, StopBeforeAnyRunDoesNothingAndDoesNotStick) {
  EXPECT_FALSE(engine_->StopItemRun());
  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_EQ(engine_->Log(), "");
  QuoxNEngineInterface bare;  // neither project nor notifier
  EXPECT_FALSE(bare.StopItemRun());

  UseScript(Script{});
  EXPECT_TRUE(RunToEnd());
  EXPECT_EQ(Item().status, 1);
}

TEST_F(EngineStartTest, StopAfterTheRunEndedLeavesStatusNine) {
  UseScript(Script{});
  ASSERT_TRUE(RunToEnd());
  EXPECT_FALSE(engine_->StopItemRun());
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 7, 8, 1, 9}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(Item().status, 9);
  EXPECT_EQ(record_.stops, 0);
  EXPECT_TRUE(Has(engine_->Log(), "Stopping the run"));
}

TEST_F(EngineStartTest, WithoutNotifierTheItemStillCarriesTheStatus) {
  engine_->NEngineNotify(nullptr);
  UseScript(Script{});
  ASSERT_TRUE(engine_->RunItem(kItem));
  ASSERT_TRUE(tp_->loop().RunUntil([&] { return Item().status == 1; }, std::chrono::seconds(60)));
  EXPECT_TRUE(notify_->statuses.empty());
  EXPECT_TRUE(Row().has_value());
}

TEST_F(EngineStartTest, TimeStampedLogWhenAskedFor) {
  UseScript(Script{});
  SetSetting("AnalysisDetails", "TimeStampLog", host::Value{true});
  ASSERT_TRUE(RunToEnd());
  const std::string stamped = engine_->Log();
  SetSetting("AnalysisDetails", "TimeStampLog", host::Value{false});
  ASSERT_TRUE(RunToEnd());
  const std::string plain = engine_->Log();
  EXPECT_EQ(plain.rfind("Initializing", 0), 0u) << plain;
  EXPECT_NE(stamped.rfind("Initializing", 0), 0u) << stamped;
  EXPECT_TRUE(Has(stamped, "Initializing"));
  EXPECT_GT(stamped.size(), plain.size());
}

}  // namespace
}  // namespace pramble::testing
