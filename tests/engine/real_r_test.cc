// Runs of the real R through the real runner and event loop. The command file
// that the engine writes is replaced by a short script that makes R end the
// way a case needs (finish, warn, fail, quit, die, hang), so the engine meets
// each outcome as R and the runner really produce it.
#include <filesystem>

#include "engine/engine_fixture.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

// The script finds its command folder from R's own command line.
constexpr char kFolder[] =
    "args <- commandArgs(trailingOnly = FALSE)\n"
    "folder <- dirname(args[which(args == \"-f\") + 1])\n";
constexpr char kWriteOutput[] =
    "cat(\"Abundance 3120\\n\", file = file.path(folder, \"res.r\"))\n"
    "cat(\"0001\\t3120\\n0002\\t0.5\\n\", file = file.path(folder, \"stat.r\"))\n";

struct RCase {
  const char* name;
  std::string script;
  bool stop;
  std::vector<std::int32_t> statuses;
  std::vector<std::string> log_has;
  std::string output;
  bool stats_stored;
};

std::vector<RCase> RCases() {
  const std::string folder = kFolder;
  const std::string output = kWriteOutput;
  return {
      {"Finishes", folder + output, false, {6, 7, 8, 1},
       {"Analysis engine status 'Finished'", "Abundance 3120"}, "Abundance 3120\n", true},
      {"Warns", folder + output + "warning(\"careful\")\n", false, {6, 7, 8, 2},
       {"Analysis engine status 'Finished with warnings'", "careful"}, "Abundance 3120\n", true},
      {"StopsOnAnError", folder + "stop(\"boom\")\n" + output, false, {6, 7, 8, 3},
       {"Error: boom", "Could not read the results file.  Results not saved."}, "", false},
      {"QuitsWithAStatus", folder + output + "quit(status = 4)\n", false, {6, 7, 8, 3},
       {"Analysis engine status 'R ended abnormally'", "Reading Results"}, "Abundance 3120\n",
       false},
      {"IsKilled", folder + output + "tools::pskill(Sys.getpid(), tools::SIGKILL)\n", false,
       {6, 7, 8, 3}, {"Analysis engine status 'R was killed'"}, "", false},
      {"HangsUntilStopped", folder + "Sys.sleep(600)\n", true, {6, 7, 9, 8, 0},
       {"Stopping the run", "Analysis engine status 'Stopped'"}, "", false},
  };
}

class RealRTest : public EngineFixture, public ::testing::WithParamInterface<RCase> {};

TEST_P(RealRTest, EngineMeetsTheOutcome) {
  const RCase& c = GetParam();
  hooks_->ReplaceCommandFile(c.script);
  ASSERT_TRUE(engine_->RunItem(kItem)) << engine_->Log();
  if (c.stop) {
    EXPECT_FALSE(engine_->StopItemRun());
  }
  WaitForEnd();

  EXPECT_EQ(notify_->statuses, c.statuses) << engine_->Log();
  EXPECT_EQ(Item().status, c.statuses.back());
  const std::string log = engine_->Log();
  EXPECT_TRUE(Has(log, "Engine started with the following command:\r\n ")) << log;
  EXPECT_TRUE(Has(log, "-- Start of Analyis Engine Log File --")) << log;
  for (const std::string& part : c.log_has) EXPECT_TRUE(Has(log, part)) << part << "\n" << log;
  EXPECT_EQ(tp_->project()->ItemStats(kItem).size(), c.stats_stored ? 2u : 0u);
  ASSERT_TRUE(Row().has_value());
  EXPECT_EQ(Row()->output, c.output);
  ASSERT_EQ(hooks_->created_folders().size(), 1u);
  EXPECT_FALSE(fs::exists(hooks_->created_folders()[0]));
}

INSTANTIATE_TEST_SUITE_P(Outcomes, RealRTest, ::testing::ValuesIn(RCases()),
                         [](const auto& info) { return std::string(info.param.name); });

using RealRunnerTest = EngineFixture;

TEST_F(RealRunnerTest, RThatCannotBeFound) {
  SetSetting("R", "EnginePath", host::Value{std::string("/nonexistent/bin/R")});
  EXPECT_FALSE(engine_->RunItem(kItem));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{6, 8, 3}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(Item().status, 3);
  EXPECT_TRUE(Has(engine_->Log(), "/nonexistent/bin/R")) << engine_->Log();
  EXPECT_FALSE(Has(engine_->Log(), "Run finished"));
}

}  // namespace
}  // namespace pramble::testing
