// R ending badly under a real `pramble run`: killed by a signal it raises on
// itself, a results file cut short by a kill or an error, and a hanging R
// stopped by a signal to pramble. R is steered through an R profile
// (R_PROFILE_USER), so the command file and R are the real ones.
#include <gtest/gtest.h>

#include "robustness.h"

namespace pramble::robustness {
namespace {

// The command file's sink(file = RES) calls, counted; at the second one (the
// goodness-of-fit section) half a section goes into the results file before
// `then` ends R.
std::string CutShort(const std::string& then) {
  return "n <- 0\n"
         "assign('sink', function(file = NULL, ...) {\n"
         "  if (!is.null(file)) {\n"
         "    n <<- n + 1\n"
         "    if (n == 2) {\n"
         "      cat('\\tDetection Fct/GOF\\t\\nhalf a lin', file = file, append = TRUE)\n"
         "      " +
         then +
         "\n"
         "    }\n"
         "  }\n"
         "  base::sink(file = file, ...)\n"
         "}, envir = globalenv())\n";
}

std::string OnAttach(const std::string& action) {
  return "setHook(packageEvent('quox', 'attach'), function(...) " + action + ")\n";
}

struct RFault {
  std::string name;
  int item;
  std::string profile;               // R profile body
  std::vector<std::string> log_has;  // in the run's log, in this order
  // What `pramble results` shows after a cut-short results file: the first
  // section whole, then the half one; otherwise nothing.
  bool cut_short = false;
};

std::vector<RFault> RFaults() {
  return {
      {"SegmentationFault",
       2,
       OnAttach("tools::pskill(Sys.getpid(), 11L)"),
       {"Engine started with the following command:",
        "R was ended by signal 11 (Segmentation fault).", "-- Start of Analyis Engine Log File --",
        "-- End of Analyis Engine Log File --", "Analysis engine status 'R was killed'",
        "Run finished"}},
      {"Abort",
       3,
       OnAttach("tools::pskill(Sys.getpid(), 6L)"),
       {"R was ended by signal 6 (Aborted).", "Analysis engine status 'R was killed'",
        "Run finished"}},
      // A killed R's results are not read: a half file stores nothing.
      {"ResultsCutShortThenKilled",
       4,
       CutShort("tools::pskill(Sys.getpid(), tools::SIGKILL)"),
       {"R was ended by signal 9 (Killed).", "Analysis engine status 'R was killed'",
        "Run finished"}},
      // An R that stops with an error has its results read as they are.
      {"ResultsCutShortThenError",
       5,
       CutShort("stop('the test ends R here')"),
       {"Error in sink(file = ", "the test ends R here", "Execution halted",
        "-- End of Analyis Engine Log File --", "Analysis engine status 'R reported an error'",
        "Reading Results", "Run finished"},
       true},
  };
}

// Each of `parts` in `text`, in order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    if (found == std::string::npos) {
      ADD_FAILURE() << "'" << part << "' is missing (or out of order) in:\n" << text;
      return;
    }
    at = found + part.size();
  }
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void PrintTo(const RFault& c, std::ostream* os) { *os << c.name; }

class RFaultTest : public ProjectTest, public ::testing::WithParamInterface<RFault> {};

TEST_P(RFaultTest, RunEndsWithErrorsAndKeepsWhatItGot) {
  const RFault& c = GetParam();
  const std::string id = std::to_string(c.item);
  const Outcome run = RunPramble({"run", dir(), id},
                                 {"TMPDIR=" + tmp(), RProfile(tmp() + "-profile.R", c.profile)});

  EXPECT_EQ(run.code, 1) << run.err << run.out;
  EXPECT_TRUE(Has(run.err, "status 7 Engine running\n")) << run.err;
  EXPECT_TRUE(EndsWith(run.err, "status 8 Reading results\nstatus 3 Finished with errors\n"))
      << run.err;
  ExpectInOrder(run.out, c.log_has);
  EXPECT_FALSE(Has(run.out, "terminated unexpectedly")) << run.out;

  const Stored stored = StoredOf(dir(), c.item);
  EXPECT_TRUE(Has(stored.status, "\t3\tFinished with errors\t")) << stored.status;
  EXPECT_EQ(stored.log, run.out);
  EXPECT_EQ(stored.stats, "");
  if (c.cut_short) {
    EXPECT_EQ(stored.results.rfind("\tDetection Fct/Summary\t\n", 0), 0u) << stored.results;
    EXPECT_TRUE(EndsWith(stored.results, "\tDetection Fct/GOF\t\nhalf a lin\n")) << stored.results;
  } else {
    EXPECT_EQ(stored.results, "");
  }
  // The command folder goes whatever R did.
  EXPECT_FALSE(CommandFolderOf(run.out).empty()) << run.out;
  EXPECT_FALSE(fs::exists(CommandFolderOf(run.out)));
  EXPECT_EQ(CommandFoldersIn(tmp()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(R, RFaultTest, ::testing::ValuesIn(RFaults()),
                         [](const auto& info) { return info.param.name; });

// R hangs; a signal to pramble stops the run, which then ends the normal way.
struct StopCase {
  std::string name;
  int item;
  int signal;
  std::string before_hang;  // R code run before R hangs
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopTest : public ProjectTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopTest, HangingRIsStoppedAndNothingIsLeft) {
  const StopCase& c = GetParam();
  const std::string id = std::to_string(c.item);
  RSync sync(sync_folder());
  const std::string profile =
      RProfile(tmp() + "-profile.R", c.before_hang + RTell(sync, "hanging") + "Sys.sleep(3600)\n");
  Pramble run({"run", dir(), id}, {"TMPDIR=" + tmp(), profile});
  ASSERT_NE(run.WaitForErrLine([](const std::string& l) { return l == "status 7 Engine running"; }),
            "");
  const std::string hanging = sync.ReadyLine([&] { return run.Exited(); });
  ASSERT_EQ(hanging.rfind("hanging ", 0), 0u) << "R did not reach its hang: '" << hanging << "'";
  ASSERT_EQ(kill(run.pid(), c.signal), 0);
  const Outcome o = run.Wait();

  EXPECT_EQ(o.code, 2) << o.err << o.out;
  EXPECT_TRUE(EndsWith(o.err, "status 9 Stopping\nstatus 8 Reading results\nstatus 0 Not run\n"))
      << o.err;
  ExpectInOrder(o.out,
                {"Stopping the run", "Engine started with the following command:",
                 "-- Start of Analyis Engine Log File --", "-- End of Analyis Engine Log File --",
                 "Analysis engine status 'Stopped'", "Run finished"});
  EXPECT_FALSE(Has(o.out, "terminated unexpectedly")) << o.out;

  const Stored stored = StoredOf(dir(), c.item);
  EXPECT_EQ(stored.status, id + "\titem " + id + "\t0\tNot run\t\n");
  EXPECT_EQ(stored.log, o.out);
  EXPECT_EQ(stored.results, "");
  EXPECT_EQ(stored.stats, "");
  EXPECT_EQ(CommandFoldersIn(tmp()), std::vector<std::string>{});
  // R itself is gone; what R started is checked by TearDown.
  const pid_t r = static_cast<pid_t>(std::stol(hanging.substr(8)));
  EXPECT_NE(kill(r, 0), 0) << "R (" << r << ") still runs";
}

INSTANTIATE_TEST_SUITE_P(
    R, StopTest,
    ::testing::Values(StopCase{"Interrupt", 6, SIGINT, ""},
                      // The group's SIGTERM leaves the child; the runner kills it
                      // once R has gone.
                      StopCase{"TerminateWithAChildIgnoringTerm", 7, SIGTERM,
                               "system(\"trap '' TERM; exec sleep 3600\", wait = FALSE)\n"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pramble::robustness
