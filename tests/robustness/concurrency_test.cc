// `pramble run` processes at the same time: two items of one project (both
// R sessions provably alive at once), one item twice (refused, never
// mixed), and the first runs of two projects, which both install the R
// package into one library.
#include <gtest/gtest.h>

#include <sstream>

#include "robustness.h"

namespace pramble::robustness {
namespace {

std::string Tail(const std::string& text) {
  return text.substr(text.size() > 800 ? text.size() - 800 : 0);
}

class ConcurrencyTest : public ProjectTest {
 protected:
  std::string WaitForGo(RSync& sync) {
    return RProfile(tmp() + "-profile.R", RTellAndWait(sync, "ready", "go"));
  }
};

TEST_F(ConcurrencyTest, TwoItemsOfOneProjectRunAtOnceEachWithItsOwnRows) {
  RSync sync(sync_folder());
  const std::vector<std::string> env = {"TMPDIR=" + tmp(), WaitForGo(sync)};
  Pramble a({"run", dir(), "2"}, env);
  Pramble b({"run", dir(), "3"}, env);
  // Both R sessions are up before either goes on.
  const auto gone = [&] { return a.Exited() || b.Exited(); };
  const std::string first = sync.ReadyLine(gone), second = sync.ReadyLine(gone);
  sync.Flag("go");
  Pramble::WaitAll({&a, &b}, nullptr);
  if (first.rfind("ready ", 0) != 0 || second.rfind("ready ", 0) != 0) {
    FAIL() << "the two R sessions were not up at once:\n"
           << "item 2: " << a.outcome().err << Tail(a.outcome().out)
           << "\nitem 3: " << b.outcome().err << Tail(b.outcome().out);
  }
  EXPECT_NE(first, second);

  const int reference_status = StatusNumber(reference_.status);
  for (auto [run, id, other] : {std::tuple{&a, 2, 3}, std::tuple{&b, 3, 2}}) {
    SCOPED_TRACE("item " + std::to_string(id));
    EXPECT_EQ(run->outcome().code, 0) << run->outcome().err << run->outcome().out;
    const Stored stored = StoredOf(dir(), id);
    EXPECT_EQ(StatusNumber(stored.status), reference_status) << stored.status;
    EXPECT_EQ(stored.log, run->outcome().out);
    const std::string own = "ddf." + std::to_string(id) + "<-ddf(";
    const std::string others = "ddf." + std::to_string(other) + "<-ddf(";
    EXPECT_TRUE(Has(stored.log, own)) << stored.log;
    EXPECT_FALSE(Has(stored.log, others)) << stored.log;
    // The same analysis of the same data: the same results as item 1's.
    EXPECT_EQ(stored.results, reference_.results);
    EXPECT_EQ(stored.stats, reference_.stats);
    EXPECT_EQ(PlotFilesOf(dir(), id).size(), reference_plots_.size());
  }
  EXPECT_EQ(CommandFoldersIn(tmp()), std::vector<std::string>{});
}

TEST_F(ConcurrencyTest, OneItemTwiceAtOnceIsRefused) {
  RSync sync(sync_folder());
  const std::vector<std::string> env = {"TMPDIR=" + tmp(), WaitForGo(sync)};
  Pramble running({"run", dir(), "4"}, env);
  ASSERT_EQ(sync.ReadyLine([&] { return running.Exited(); }).rfind("ready ", 0), 0u);

  struct Refused {
    std::vector<std::string> args;
    std::string command;
  };
  for (const Refused& r :
       {Refused{{"run", dir(), "4"}, "run"}, Refused{{"run", dir(), "4", "--debug"}, "run"},
        Refused{{"reset", dir(), "4"}, "reset"}}) {
    SCOPED_TRACE(r.args.back());
    const Outcome o = RunPramble(r.args, env);
    EXPECT_EQ(o.code, 75);
    EXPECT_EQ(o.err, "pramble " + r.command + ": analysis item 4 of project '" + dir() +
                         "' is already being run or reset by another process (process " +
                         std::to_string(running.pid()) + "); try again when it has finished\n");
    EXPECT_EQ(o.out, "");
  }
  // Another item of the project is not held up.
  EXPECT_EQ(RunPramble({"run", dir(), "5", "--debug"}, {"TMPDIR=" + tmp()}).code, 0);

  sync.Flag("go");
  const Outcome o = running.Wait();
  EXPECT_EQ(o.code, 0) << o.err << o.out;
  // One run, its statuses once each. Another test's run that installs into
  // the shared R library may have made this one wait first, with a line of
  // its own before the statuses.
  std::string statuses;
  std::istringstream lines(o.err);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("status ", 0) == 0) statuses += line.substr(0, 8) + ";";
  EXPECT_EQ(statuses, "status 6;status 7;status 8;status " +
                          std::to_string(StatusNumber(reference_.status)) + ";")
      << o.err;
  const Stored stored = StoredOf(dir(), 4);
  EXPECT_EQ(StatusNumber(stored.status), StatusNumber(reference_.status));
  EXPECT_EQ(stored.log, o.out);
  EXPECT_EQ(stored.stats, reference_.stats);

  // Once the run has ended the item is free again.
  const Outcome again = RunPramble({"reset", dir(), "4"});
  EXPECT_EQ(again.code, 0) << again.err;
  for (const std::string& name : CommandFoldersIn(tmp())) fs::remove_all(tmp() + "/" + name);
}

// The first run of a project installs the package unconditionally; two such
// runs in one fresh library would collide in R's own install lock. The
// second waits for the first.
TEST(ConcurrentInstallTest, FirstRunsOfTwoProjectsInstallOneAfterTheOther) {
  PrepareProcess();
  TempDir temp;
  const std::string library = temp.path() + "/R-library";
  const std::string tmp = temp.path() + "/tmp";
  fs::create_directories(tmp);
  const std::string one = temp.path() + "/one", two = temp.path() + "/two";
  CreateProject(one, Description(1));
  CreateProject(two, Description(1));
  RSync sync(temp.path() + "/sync");
  const std::vector<std::string> env = {
      "TMPDIR=" + tmp, "PRAMBLE_R_LIBRARY=" + library,
      RProfile(temp.path() + "/profile.R", RTellAndWait(sync, "ready", "go"))};

  Pramble a({"run", one, "1"}, env);
  ASSERT_EQ(sync.ReadyLine([&] { return a.Exited(); }).rfind("ready ", 0), 0u);
  Pramble b({"run", two, "1"}, env);
  const std::string waiting =
      b.WaitForErrLine([](const std::string& l) { return Has(l, "waiting"); });
  EXPECT_EQ(waiting,
            "pramble run: waiting for other runs that use the R library '" + library + "'");
  sync.Flag("go");
  Pramble::WaitAll({&a, &b}, nullptr);

  for (auto [run, dir] : {std::pair{&a, one}, std::pair{&b, two}}) {
    SCOPED_TRACE(dir);
    const Outcome& o = run->outcome();
    EXPECT_EQ(o.code, 0) << o.err << o.out;
    EXPECT_TRUE(Has(o.out, "\n> install.packages('")) << o.out;
    EXPECT_FALSE(Has(o.out, "failed to lock")) << o.out;
    EXPECT_FALSE(Has(o.out, "there is no package called")) << o.out;
    EXPECT_EQ(StatusNumber(RunPramble({"status", dir, "1"}).out), 1);
  }
  EXPECT_TRUE(fs::exists(library + "/quox/DESCRIPTION"));
  EXPECT_EQ(CommandFoldersIn(tmp), std::vector<std::string>{});
  ExpectNoProcessLeft();
}

}  // namespace
}  // namespace pramble::robustness
