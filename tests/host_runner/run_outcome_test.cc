// How a run of R ended, decided from the facts alone: every engine status
// and message of docs/engine-status.md, without starting a process.
#include "sqlhost/runner/run_outcome.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <ostream>
#include <string>

namespace pramble::sqlhost {
namespace {

using How = RunEnd::How;

struct Case {
  const char* name;
  RunEnd end;
  RunOutcome expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

RunEnd End(How how, int value) {
  RunEnd end;
  end.how = how;
  end.value = value;
  return end;
}
RunEnd Warned(RunEnd end) {
  end.log_reports_warnings = true;
  return end;
}
RunEnd Full(RunEnd end) {
  end.full_folder = "/runs/cmd";
  return end;
}
RunEnd Stopped(RunEnd end) {
  end.stop_requested = true;
  return end;
}
RunEnd NotStarted() {
  RunEnd end = End(How::kNotStarted, 0);
  end.start_failure = "cannot find 'R' on the PATH";
  return end;
}

const std::string kFull =
    "R ended, but the file system of the folder '/runs/cmd' is full: the log, results and "
    "statistics that R wrote there may be cut short.";

class RunOutcomeTest : public ::testing::TestWithParam<Case> {};

TEST_P(RunOutcomeTest, StatusAndMessage) {
  const Case& c = GetParam();
  const RunOutcome got = DecideRunOutcome(c.end);
  EXPECT_EQ(got.status, c.expected.status);
  EXPECT_EQ(got.message, c.expected.message);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, RunOutcomeTest,
    ::testing::Values(
        Case{"Finished", End(How::kExited, 0), {1, ""}},
        Case{"FinishedWithWarnings", Warned(End(How::kExited, 0)), {2, ""}},
        Case{"FinishedWithErrors", End(How::kExited, 1), {3, ""}},
        Case{"ErrorsWhateverTheLogSays", Warned(End(How::kExited, 1)), {3, ""}},
        Case{"OtherExitStatus", End(How::kExited, 2), {4, "R ended with exit status 2."}},
        Case{"FullDiskAfterSuccess", Full(End(How::kExited, 0)), {4, kFull}},
        Case{"FullDiskAfterWarnings", Full(Warned(End(How::kExited, 0))), {4, kFull}},
        Case{"FullDiskAfterErrors", Full(End(How::kExited, 1)), {4, kFull}},
        Case{"FullDiskKeepsExitStatus", Full(End(How::kExited, 137)),
             {4, "R ended with exit status 137."}},
        Case{"Killed", End(How::kSignaled, SIGKILL), {5, "R was ended by signal 9 (Killed)."}},
        Case{"Segfault", End(How::kSignaled, SIGSEGV),
             {5, "R was ended by signal 11 (Segmentation fault)."}},
        Case{"AbnormalEnd", End(How::kOther, 4991), {4, "R ended abnormally (wait status 4991)."}},
        Case{"WaitFailed", End(How::kWaitFailed, ECHILD),
             {4, "The end of R could not be awaited: No child processes"}},
        Case{"NotStarted", NotStarted(), {6, "R could not be started: cannot find 'R' on the PATH"}},
        Case{"StoppedAfterSuccess", Stopped(End(How::kExited, 0)), {0, ""}},
        Case{"StoppedByItsSignal", Stopped(End(How::kSignaled, SIGTERM)), {0, ""}},
        Case{"StoppedOnFullDisk", Stopped(Full(End(How::kExited, 1))), {0, ""}},
        Case{"StoppedBeforeStartKeepsWhy", Stopped(NotStarted()),
             {0, "R could not be started: cannot find 'R' on the PATH"}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pramble::sqlhost
