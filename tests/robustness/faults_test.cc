// R ending badly under a real `pramble run` (killed by a signal it raises on
// itself, a results file cut short by a kill or an error, an error of its own
// beside "error" in folder names and labels), a temporary area
// (TMPDIR) that is read-only or full, and a hanging R stopped by a signal to
// pramble. The cases are in tests/data/robustness/faults.tsv. The temporary
// area is a tmpfs that `pramble run` alone sees, in a mount namespace of its
// own (in a user namespace too when not root, where the kernel allows one).
#include <gtest/gtest.h>

#include "robustness.h"

namespace pramble::robustness {
namespace {

// Each of `parts` in `text`, in order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    ASSERT_NE(found, std::string::npos) << "'" << part << "' missing or out of order in:\n" << text;
    at = found + part.size();
  }
}

class RunFaultTest : public ProjectTest,
                     public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(RunFaultTest, EndsWithErrorsAndSaysWhy) {
  const std::vector<std::string>& c = GetParam();
  const std::string id = c[1], area = c[3];
  const bool r_started = c[4] == "yes";
  const PrivateTmpfs tmpfs{tmp(), area.substr(area.rfind("ro,", 0) == 0 ? 3 : 0),
                           area.rfind("ro,", 0) == 0};
  Pramble run({"run", dir(), id}, Env(c[2] == "-" ? "" : c[2]), area == "-" ? nullptr : &tmpfs);
  const Outcome o = run.Wait();
  if (o.code == kNoNamespace) GTEST_SKIP() << "no mount namespace here";

  EXPECT_EQ(o.code, 1) << o.err << o.out;
  EXPECT_EQ(Has(o.err, "status 7 Engine running\n"), r_started) << o.err;
  EXPECT_TRUE(o.err.ends_with(std::string(r_started ? "status 8 Reading results\n" : "") +
                                  "status 3 Finished with errors\n"))
      << o.err;
  std::vector<std::string> log(c.begin() + 6, c.end());
  for (std::string& part : log) part = Fill(part, {{"{tmp}", tmp()}});
  ExpectInOrder(o.out, log);
  EXPECT_FALSE(Has(o.out, "terminated unexpectedly")) << o.out;

  const Stored stored = StoredOf(dir(), std::stoi(id));
  EXPECT_TRUE(Has(stored.status, "\t3\tFinished with errors\t")) << stored.status;
  EXPECT_EQ(stored.log, o.out);
  EXPECT_EQ(stored.stats, "");
  EXPECT_TRUE(c[5] != "none" || stored.results.empty()) << stored.results;
  // A cut short results file: the first section whole, then the half one.
  EXPECT_TRUE(c[5] != "cut" || (stored.results.starts_with("\tDetection Fct/Summary\t\n") &&
                                stored.results.ends_with("\tDetection Fct/GOF\t\nhalf a lin\n")))
      << stored.results;
  // The command folder goes whatever R did.
  EXPECT_EQ(CommandFolderOf(o.out).empty(), !r_started) << o.out;
  EXPECT_FALSE(r_started && fs::exists(CommandFolderOf(o.out)));
  EXPECT_EQ(FilesIn(tmp()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Faults, RunFaultTest, ::testing::ValuesIn(ReadTable("robustness/faults.tsv")),
                         [](const auto& info) { return info.param[0]; });

// R hangs; a signal to pramble stops the run, which then ends the normal way.
// The group's SIGTERM leaves a child that ignores it; the runner kills it once
// R has gone.
class StopTest : public ProjectTest,
                 public ::testing::WithParamInterface<std::tuple<const char*, int, int>> {};

TEST_P(StopTest, HangingRIsStoppedAndNothingIsLeft) {
  const auto [profile, item, signal] = GetParam();
  const std::string id = std::to_string(item);
  Pramble run({"run", dir(), id}, Env(profile));
  std::size_t seen = 0;
  const std::string hanging = ReadyLine(sync(), &seen, [&] { return run.Exited(); });
  ASSERT_EQ(hanging.rfind("hanging ", 0), 0u) << "R did not reach its hang: " << run.Err();
  ASSERT_EQ(kill(run.pid(), signal), 0);
  const Outcome o = run.Wait();

  EXPECT_EQ(o.code, 2) << o.err << o.out;
  EXPECT_TRUE(o.err.ends_with("status 7 Engine running\nstatus 9 Stopping\n"
                              "status 8 Reading results\nstatus 0 Not run\n"))
      << o.err;
  ExpectInOrder(o.out,
                {"Stopping the run", "Engine started with the following command:",
                 "-- Start of Analyis Engine Log File --", "-- End of Analyis Engine Log File --",
                 "Analysis engine status 'Stopped'", "Run finished"});
  EXPECT_FALSE(Has(o.out, "terminated unexpectedly")) << o.out;
  EXPECT_EQ(StoredOf(dir(), item), (Stored{id + "\titem " + id + "\t0\tNot run\t\n", o.out, "", ""}));
  EXPECT_EQ(FilesIn(tmp()), std::vector<std::string>{});
  // R itself is gone; what R started is checked by TearDown.
  const pid_t r = static_cast<pid_t>(std::stol(hanging.substr(8)));
  EXPECT_NE(kill(r, 0), 0) << "R (" << r << ") still runs";
}

INSTANTIATE_TEST_SUITE_P(R, StopTest,
                         ::testing::Values(std::tuple{"hang.R", 6, SIGINT},
                                           std::tuple{"hang_with_child.R", 7, SIGTERM}),
                         [](const auto& info) {
                           return std::get<2>(info.param) == SIGINT
                                      ? "Interrupt"
                                      : "TerminateWithAChildIgnoringTerm";
                         });


TEST(LogScanTest, ErrorInFoldersAndLabelsIsNoErrorButRsOwnIs) {
  PrepareProcess();
  TempDir temp;
  const std::string dir = temp / "survey", tmp = temp / "error-Error-ERROR";
  fs::create_directories(tmp);
  nlohmann::json d = Description(1, {{"AnalysisDetails", {{"EchoData", true}}}});
  for (nlohmann::json& layer : d["layers"])
    if (layer["name"] == "Region") layer["rows"][0][2] = "Terror Point";
  sqlhost::CreateProjectFromJson(dir, d, "");
  const Outcome clean = RunPramble({"run", dir, "1"}, {"TMPDIR=" + tmp});
  EXPECT_EQ(clean.code, 0) << clean.err << clean.out;
  EXPECT_TRUE(Has(clean.err, "status 1 Finished\n")) << clean.err;
  EXPECT_TRUE(Has(clean.out, "> ddf.dat.1<-read.table(file='" + tmp)) << clean.out;
  EXPECT_TRUE(Has(clean.out, "Terror Point")) << clean.out;
  EXPECT_FALSE(RunPramble({"stats", dir, "1"}).out.empty());
  ASSERT_FALSE(FilesIn(dir, 1).empty());

  const Outcome failed = RunPramble({"run", dir, "1"}, {"TMPDIR=" + tmp, Profile("attach_error.R")});
  EXPECT_EQ(failed.code, 1) << failed.err << failed.out;
  EXPECT_TRUE(Has(failed.err, "status 3 Finished with errors\n")) << failed.err;
  EXPECT_TRUE(Has(failed.out, "no survey today")) << failed.out;
  EXPECT_EQ(RunPramble({"stats", dir, "1"}).out, "");
  EXPECT_EQ(FilesIn(dir, 1), std::vector<std::string>{});
  ExpectNoProcessLeft();
}

}  // namespace
}  // namespace pramble::robustness
