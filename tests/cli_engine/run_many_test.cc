// `pramble run` of several items through the real binary: items run in
// parallel child processes with plain status lines when standard error is no
// terminal, and a signal to the parent stops every run and starts no other.
// Refused lists (an unknown item, --all with items) are rows of
// tests/data/cli/commands.tsv.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sqlhost/project/description.h"
#include "support/cli_process.h"
#include "support/scratch.h"

namespace pramble::testing {
namespace {

class RunManyTest : public ::testing::Test {
 protected:
  // The example project with `items` items: its own and copies that use a
  // hazard-rate key, "hr 2", "hr 3", ...
  void Make(int items) {
    sqlhost::CreateProject(dir_, PRAMBLE_EXAMPLES_DIR "/double-observer/project.json");
    for (int id = 2; id <= items; ++id) {
      ASSERT_EQ(RunPramble({"add", dir_, "--like", "1", "--name", "hr " + std::to_string(id),
                            "--model",
                            "Method io; DSModel /Method=cds /Key=hr /Formula=1; MRModel "
                            "/Method=glm /Link=logit /Formula=distance; Detection T; Density T "
                            "/VarFlag=1; Stratification Stratify /LayerType=10;"})
                    .code,
                0);
    }
  }
  // The status number of every item, as `pramble status` shows them.
  std::vector<int> Statuses() {
    std::vector<int> statuses;
    std::istringstream lines(RunPramble({"status", dir_}).out);
    for (std::string line; std::getline(lines, line);)
      statuses.push_back(std::stoi(line.substr(line.find('\t', line.find('\t') + 1) + 1)));
    return statuses;
  }
  TempDir temp_;
  const std::string dir_ = temp_ / "survey project";
};

TEST_F(RunManyTest, AllItemsRunInParallelWithPlainLines) {
  Make(2);
  const Outcome o = RunPramble({"run", dir_, "--all", "-j", "2"});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(Statuses(), (std::vector<int>{1, 1}));
  EXPECT_TRUE(Has(o.err, "item 1 (io half-normal, by region): status 1 Finished (")) << o.err;
  EXPECT_TRUE(Has(o.err, "item 2 (hr 2): status 1 Finished (")) << o.err;
  EXPECT_FALSE(Has(o.err, "\x1b[")) << o.err;
  EXPECT_TRUE(Has(o.out, "item 2 (hr 2): status 1 Finished, ")) << o.out;
  EXPECT_TRUE(o.out.ends_with("The log of a run: pramble log " + dir_ + " ITEM\n")) << o.out;
}

// R hangs in both running items (a profile); the third waits for a slot.
TEST_F(RunManyTest, InterruptStopsEveryRunAndStartsNoOther) {
  Make(3);
  ASSERT_EQ(RunPramble({"settings", dir_, "set", "R", "ForceLoadLibrary", "false"}).code, 0);
  // A first run makes the project's results table, so that the two stopped
  // runs below do not both make it at once (a race of a fresh project's
  // first saves, in the engine's table creation).
  ASSERT_EQ(RunPramble({"run", dir_, "1", "--quiet"}).code, 0);
  Pramble run({"run", dir_, "1", "2", "3", "-j", "2"},
              {"R_PROFILE_USER=" PRAMBLE_SOURCE_DIR "/tests/data/robustness/hang.R",
               "PRAMBLE_TEST_SYNC=" + temp_.path()});
  for (const std::string item : {"item 1 (", "item 2 ("}) {
    ASSERT_NE(run.WaitForErrLine([&](const std::string& line) {
      return line.starts_with(item) && Has(line, ": status 7 ");
    }), "") << run.Err();
  }
  // Both R processes hang (hang.R has said so), so the stop finds them at work.
  auto hanging = [&] {
    const std::string told = temp_ / "to_test";
    return std::filesystem::exists(told) ? Lines(ReadFile(told)).size() : 0u;
  };
  for (int waited = 0; hanging() < 2; ++waited) {
    ASSERT_LT(waited, 6000) << run.Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(kill(run.pid(), SIGINT), 0);
  const Outcome o = run.Wait();
  EXPECT_EQ(o.code, 2) << o.err;
  EXPECT_EQ(Statuses(), (std::vector<int>{0, 0, 0})) << o.err;
  EXPECT_TRUE(Has(o.err, "pramble run: stopping the 2 running items; the 1 not started are left "
                         "as they are\n")) << o.err;
  EXPECT_TRUE(Has(o.out, "item 3 (hr 3): status 0 Not run, not run this time\n")) << o.out;
}

}  // namespace
}  // namespace pramble::testing
