// The end of a launched run for every engine status the runner can report,
// with and without a stop, and the log's severity raising the final status.
// The runner here reports a chosen outcome instead of starting R (runs of the
// real R are in real_r_test.cc).
#include <filesystem>

#include "engine/engine_fixture.h"

namespace pramble::testing {
namespace {

struct OutcomeCase {
  const char* name;
  ScriptedRun run;
  bool stop = false;  // StopItemRun once RunItem has returned
  std::vector<std::int32_t> statuses;
  std::int32_t final_status = 0;
  std::vector<std::string> log_has;
  std::vector<std::string> log_lacks;
  bool stats_stored = false;
  std::string output;  // the stored "Output"
};

constexpr char kResults[] = "Summary for io.fi object\r\nAbundance 3120\r\n";

ScriptedRun Outcome(std::int32_t status) {
  ScriptedRun run;
  run.status = status;
  run.r_log = "> library(quox)\n> ddf.12 <- ddf(...)\n";
  run.results = kResults;
  run.stats = "0001\t42.5\r\n0002\t0.25\r\n";
  return run;
}

ScriptedRun Without(ScriptedRun run, std::optional<std::string> ScriptedRun::*file) {
  run.*file = std::nullopt;
  return run;
}

ScriptedRun WithLog(ScriptedRun run, std::string r_log) {
  run.r_log = std::move(r_log);
  return run;
}

ScriptedRun WithRunnerError(ScriptedRun run) {
  run.error_message = "The runner noticed something.";
  return run;
}

ScriptedRun Hanging(ScriptedRun run) {
  run.hang = true;
  return run;
}

const std::string kUnexpected = "Analysis engine terminated unexpectedly (with error code ";

std::vector<OutcomeCase> Cases() {
  const std::vector<std::int32_t> ran = {6, 7, 8};
  auto seq = [](std::vector<std::int32_t> s, std::int32_t last) {
    s.push_back(last);
    return s;
  };
  const std::vector<std::int32_t> stopped = {6, 7, 9, 8};
  return {
      {"Finished", Outcome(1), false, seq(ran, 1), 1,
       {"Engine started with the following command:\r\n R --no-save --no-restore -f in.r",
        "-- Start of Analyis Engine Log File --", "ddf.12 <- ddf(...)",
        "-- End of Analyis Engine Log File --", "Analysis engine status 'Finished'",
        "Reading Results", "Run finished"},
       {kUnexpected},
       true,
       kResults},
      {"FinishedLogUnreadableWarns", Without(Outcome(1), &ScriptedRun::r_log), false,
       seq(ran, 2), 2,
       {"Analysis engine finished, but Corvane could not read the log file."},
       {"-- Start of Analyis Engine Log File --"},
       true,
       kResults},
      {"FinishedRunnerErrorIsError", WithRunnerError(Outcome(1)), false, seq(ran, 3), 3,
       {"The runner noticed something."}, {}, true, kResults},
      // An unexpected error leaves a finished run finished.
      // Lost results are no clean finish: the loss is a warning, the unexpected
      // error behind a missing statistics file raises it to 3.
      {"FinishedStatsMissingUnexpected", Without(Outcome(1), &ScriptedRun::stats), false,
       seq(ran, 3), 3,
       {"DatabaseInterface.SaveStatsFileContents",
        "Warning: Could not read the stats file.  Results not saved."},
       {},
       false,
       ""},
      {"FinishedResultsMissing", Without(Outcome(1), &ScriptedRun::results), false, seq(ran, 2),
       2, {"Warning: Could not read the results file.  Results not saved."}, {}, true, ""},
      // What R echoes (commands, and the data tables the command file prints)
      // is not its report: a folder or a label holding the word is no error.
      {"EchoedCommandsAndDataAreNotScanned",
       WithLog(Outcome(1),
               "> ddf.dat.12<-read.table('/tmp/error-tmp/ERROR/ddf.dat.r')\n"
               "+ header=TRUE)\n> print(region.dat.12)\n  Region.Label Area\n"
               "1 Terror Point   50\n> ddf.12<-ddf(data=ddf.dat.12)\n"),
       false, seq(ran, 1), 1, {"1 Terror Point   50"}, {}, true, kResults},
      {"ErrorWhilePrintingData",
       WithLog(Outcome(1), "> print(ddf.dat.12)\nError in print(ddf.dat.12) : not found\n"),
       false, seq(ran, 3), 3, {}, {}, false, kResults},
      {"PrintedResultsAreScanned", WithLog(Outcome(1), "> print(ddf.12)\nTerror Point\n"), false,
       seq(ran, 3), 3, {}, {}, false, kResults},
      {"ErrorInsideAWordOfTheLog", WithLog(Outcome(1), "Warning: terrors of the deep\n"), false,
       seq(ran, 3), 3, {"Analysis engine status 'R reported an error'", "Reading Results"}, {},
       false, kResults},
      {"ExecutionHaltedInTheLog", WithLog(Outcome(2), "Execution halted\n"), false, seq(ran, 3),
       3, {}, {}, false, kResults},
      {"WarningsStayWarningsWithAnError", WithRunnerError(Outcome(2)), false, seq(ran, 2), 2,
       {"Analysis engine status 'Finished with warnings'"}, {}, true, kResults},
      {"RError", Outcome(3), false, seq(ran, 3), 3, {"Reading Results", "Run finished"}, {},
       false, kResults},
      {"RAbnormalEnd", Outcome(4), false, seq(ran, 3), 3, {"Reading Results"}, {}, false,
       kResults},
      {"RKilled", Outcome(5), false, seq(ran, 3), 3,
       {"-- Start of Analyis Engine Log File --", "Run finished"}, {"Reading Results"}, false,
       ""},
      {"NotStarted", Outcome(6), false, seq(ran, 3), 3, {"Initializing"},
       {"-- Start of Analyis Engine Log File --", "Analysis engine status", "Run finished"},
       false,
       ""},
      {"ZeroWithoutStop", Outcome(0), false, seq(ran, 3), 3,
       {kUnexpected + "0).", "Analysis engine status 'R ended abnormally'", "Reading Results"},
       {},
       false,
       kResults},
      {"StatusAboveSix", Outcome(7), false, seq(ran, 3), 3, {kUnexpected + "7)."}, {}, false,
       kResults},
      {"NegativeStatus", Outcome(-1), false, seq(ran, 3), 3, {kUnexpected + "-1)."}, {}, false,
       kResults},
      {"Stopped", Hanging(Outcome(1)), true, seq(stopped, 0), 0,
       {"Stopping the run", "-- Start of Analyis Engine Log File --",
        "Analysis engine status 'Stopped'", "Run finished"},
       {kUnexpected, "Reading Results"},
       false,
       ""},
      {"StoppedLogUnreadableWarns", Hanging(Without(Outcome(1), &ScriptedRun::r_log)), true,
       seq(stopped, 2), 2, {"Stopping the run"}, {kUnexpected}, false, ""},
      {"StoppedRunnerError", Hanging(WithRunnerError(Outcome(1))), true, seq(stopped, 3), 3, {},
       {kUnexpected}, false, ""},
      // The error raises the stopped run to 3, which reads the results.
      {"StoppedErrorInLog", Hanging(WithLog(Outcome(1), "Error in ddf(): stopped\n")), true,
       seq(stopped, 3), 3, {"Reading Results"}, {kUnexpected}, false, kResults},
  };
}

class RunOutcomeTest : public EngineFixture, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(RunOutcomeTest, PublishesStoresAndCleansUp) {
  const OutcomeCase& c = GetParam();
  hooks_->UseScriptedRunner(c.run);

  // A plot of an earlier run stays only beside statistics of this run.
  const std::string earlier_plot = tp_->project()->folder() + "/ddf." + std::to_string(kItem) +
                                   ".01.png";
  WriteFile(earlier_plot, "earlier plot");

  ASSERT_TRUE(engine_->RunItem(kItem)) << engine_->Log();
  EXPECT_EQ(hooks_->runner().runs, 1);
  EXPECT_EQ(hooks_->runner().folder, tp_->project()->folder());
  EXPECT_EQ(hooks_->runner().engine_path, "/usr/bin/R");
  if (c.stop) {
    EXPECT_FALSE(engine_->StopItemRun());
  }
  WaitForEnd();

  EXPECT_EQ(notify_->statuses, c.statuses);
  EXPECT_EQ(notify_->finished, 1);
  const sqlhost::ItemInfo item = Item();
  EXPECT_EQ(item.status, c.final_status);
  EXPECT_EQ(item.run_date.has_value(), c.final_status != 0);

  const std::string log = engine_->Log();
  for (const std::string& part : c.log_has) EXPECT_TRUE(Has(log, part)) << part << "\n" << log;
  for (const std::string& part : c.log_lacks) EXPECT_FALSE(Has(log, part)) << part << "\n" << log;

  const std::vector<sqlhost::ItemStat> stats = tp_->project()->ItemStats(kItem);
  if (c.stats_stored) {
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].code, 1);
    EXPECT_FLOAT_EQ(stats[0].value, 42.5f);
    EXPECT_EQ(stats[1].code, 2);
    EXPECT_FLOAT_EQ(stats[1].value, 0.25f);
  } else {
    EXPECT_TRUE(stats.empty());
  }

  EXPECT_EQ(std::filesystem::exists(earlier_plot), c.stats_stored);

  const std::optional<StoredRow> row = Row();
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->output, c.output);
  EXPECT_EQ(row->log, log);

  ASSERT_EQ(hooks_->created_folders().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(hooks_->created_folders()[0]));
}

INSTANTIATE_TEST_SUITE_P(EveryEngineStatus, RunOutcomeTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pramble::testing
