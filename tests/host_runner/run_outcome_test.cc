// How a run of R ended, decided from the facts alone: every engine status
// and message of docs/engine-status.md (tests/data/host_runner/run_outcomes.tsv),
// without starting a process.
#include "sqlhost/runner/run_outcome.h"

#include <gtest/gtest.h>

#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

TEST(RunOutcomeTest, EveryEndFromFile) {
  const std::map<std::string, RunEnd::How> hows = {{"exited", RunEnd::How::kExited},
                                                   {"signaled", RunEnd::How::kSignaled},
                                                   {"other", RunEnd::How::kOther},
                                                   {"wait failed", RunEnd::How::kWaitFailed},
                                                   {"not started", RunEnd::How::kNotStarted}};
  for (auto c : pramble::testing::ReadTable("host_runner/run_outcomes.tsv")) {
    c.resize(7);
    SCOPED_TRACE(c[0]);
    RunEnd end;
    end.how = hows.at(c[1]);
    end.value = std::stoi(c[2]);
    end.log_reports_warnings = c[3] == "warned";
    if (c[4].find("full") != std::string::npos) end.full_folder = "/runs/cmd";
    end.stop_requested = c[4].find("stopped") != std::string::npos;
    if (c[1] == "not started") end.start_failure = "cannot find 'R' on the PATH";
    const RunOutcome got = DecideRunOutcome(end);
    EXPECT_EQ(got.status, std::stoi(c[5]));
    EXPECT_EQ(got.message, c[6]);
  }
}

}  // namespace
}  // namespace pramble::sqlhost
