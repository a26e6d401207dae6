// `pramble run` beside other processes: two items of one project at once
// (both R sessions provably alive at once), one item twice (refused, never
// mixed), the first runs of two projects, which both install the R package
// into one library, and the project database locked by another process (a
// child of the test that holds SQLite's write lock in an open transaction),
// before a run and while R runs.
#include <gtest/gtest.h>

#include "robustness.h"
#include "support/child_lock.h"

namespace pramble::robustness {
namespace {

using ConcurrencyTest = ProjectTest;

TEST_F(ConcurrencyTest, TwoItemsOfOneProjectRunAtOnceEachWithItsOwnRows) {
  Pramble a({"run", dir(), "2"}, Env("tell_and_wait.R"));
  Pramble b({"run", dir(), "3"}, Env("tell_and_wait.R"));
  // Both R sessions are up before either goes on.
  std::size_t seen = 0;
  const auto gone = [&] { return a.Exited() || b.Exited(); };
  const std::string first = ReadyLine(sync(), &seen, gone), second = ReadyLine(sync(), &seen, gone);
  Go(sync());
  const Outcome &oa = a.Wait(), &ob = b.Wait();
  ASSERT_TRUE(first.rfind("ready ", 0) == 0 && second.rfind("ready ", 0) == 0)
      << "the two R sessions were not up at once:\nitem 2: " << oa.err << "\nitem 3: " << ob.err;
  EXPECT_NE(first, second);

  for (auto [o, id, other] : {std::tuple{&oa, 2, 3}, std::tuple{&ob, 3, 2}}) {
    SCOPED_TRACE("item " + std::to_string(id));
    EXPECT_EQ(o->code, 0) << o->err << o->out;
    const Stored stored = StoredOf(dir(), id);
    EXPECT_EQ(StatusNumber(stored.status), StatusNumber(reference_.status)) << stored.status;
    EXPECT_EQ(stored.log, o->out);
    EXPECT_TRUE(Has(stored.log, "ddf." + std::to_string(id) + "<-ddf(")) << stored.log;
    EXPECT_FALSE(Has(stored.log, "ddf." + std::to_string(other) + "<-ddf(")) << stored.log;
    // The same analysis of the same data: the same results as item 1's.
    EXPECT_EQ(stored.results, reference_.results);
    EXPECT_EQ(stored.stats, reference_.stats);
    EXPECT_EQ(FilesIn(dir(), id).size(), reference_plots_.size());
  }
  EXPECT_EQ(FilesIn(tmp()), std::vector<std::string>{});
}

TEST_F(ConcurrencyTest, OneItemTwiceAtOnceIsRefused) {
  Pramble running({"run", dir(), "4"}, Env("tell_and_wait.R"));
  std::size_t seen = 0;
  ASSERT_EQ(ReadyLine(sync(), &seen, [&] { return running.Exited(); }).rfind("ready ", 0), 0u)
      << running.Err();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"run", dir(), "4"}, {"run", dir(), "4", "--debug"}, {"reset", dir(), "4"}}) {
    SCOPED_TRACE(args.back());
    const Outcome o = RunPramble(args, Env());
    EXPECT_EQ(o.code, 75);
    EXPECT_EQ(o.err, "pramble " + args[0] + ": analysis item 4 of project '" + dir() +
                         "' is already being run or reset by another process (process " +
                         std::to_string(running.pid()) + "); try again when it has finished\n");
    EXPECT_EQ(o.out, "");
  }
  // Another item of the project is not held up.
  EXPECT_EQ(RunPramble({"run", dir(), "5", "--debug"}, Env()).code, 0);

  Go(sync());
  const Outcome o = running.Wait();
  EXPECT_EQ(o.code, 0) << o.err << o.out;
  // One run, its statuses once each (a run that installs into the shared
  // library may have made this one wait first, with a line of its own).
  std::string statuses;
  for (const std::string& line : Lines(o.err))
    if (line.rfind("status ", 0) == 0) statuses += line.substr(0, 8) + ";";
  EXPECT_EQ(statuses, "status 6;status 7;status 8;status " +
                          std::to_string(StatusNumber(reference_.status)) + ";")
      << o.err;
  const Stored stored = StoredOf(dir(), 4);
  EXPECT_EQ(StatusNumber(stored.status), StatusNumber(reference_.status));
  EXPECT_EQ(stored.log, o.out);
  EXPECT_EQ(stored.stats, reference_.stats);
  // Once the run has ended the item is free again.
  EXPECT_EQ(RunPramble({"reset", dir(), "4"}).code, 0);
  for (const std::string& name : FilesIn(tmp())) fs::remove_all(tmp() + "/" + name);
}

// The first run of a project installs the package unconditionally; two such
// runs in one fresh library would collide in R's own install lock. The
// second waits for the first.
TEST(ConcurrentInstallTest, FirstRunsOfTwoProjectsInstallOneAfterTheOther) {
  PrepareProcess();
  TempDir temp;
  const std::string library = temp / "R-library", tmp = temp / "tmp", sync = temp / "sync";
  const std::string one = temp / "one", two = temp / "two";
  fs::create_directories(tmp);
  fs::create_directories(sync);
  for (const std::string& dir : {one, two})
    sqlhost::CreateProjectFromJson(dir, Description(1, {{"R", {{"ForceLoadLibrary", true}}}}), "");
  const std::vector<std::string> env = {"TMPDIR=" + tmp, "PRAMBLE_R_LIBRARY=" + library,
                                        "PRAMBLE_TEST_SYNC=" + sync, Profile("tell_and_wait.R")};
  Pramble a({"run", one, "1"}, env);
  std::size_t seen = 0;
  ASSERT_EQ(ReadyLine(sync, &seen, [&] { return a.Exited(); }).rfind("ready ", 0), 0u) << a.Err();
  Pramble b({"run", two, "1"}, env);
  EXPECT_EQ(b.WaitForErrLine([](const std::string& l) { return Has(l, "waiting"); }),
            "pramble run: waiting for other runs that use the R library '" + library + "'");
  Go(sync);

  for (auto [run, dir] : {std::pair{&a, one}, std::pair{&b, two}}) {
    SCOPED_TRACE(dir);
    const Outcome& o = run->Wait();
    EXPECT_EQ(o.code, 0) << o.err << o.out;
    EXPECT_TRUE(Has(o.out, "\n> install.packages('")) << o.out;
    EXPECT_FALSE(Has(o.out, "failed to lock")) << o.out;
    EXPECT_FALSE(Has(o.out, "there is no package called")) << o.out;
    EXPECT_EQ(StatusNumber(RunPramble({"status", dir, "1"}).out), 1);
  }
  EXPECT_TRUE(fs::exists(library + "/quox/DESCRIPTION"));
  EXPECT_EQ(FilesIn(tmp), std::vector<std::string>{});
  ExpectNoProcessLeft();
}


using LockedDatabaseTest = ProjectTest;

TEST_F(LockedDatabaseTest, RunRefusedWhileAnotherProcessWrites) {
  const Stored before = StoredOf(dir(), 11);
  ChildLock locker(dir() + "/project.db");
  ASSERT_TRUE(locker.locked());
  const Outcome o = RunPramble({"run", dir(), "11"}, Env());
  locker.Release();
  // The first write of the run (its run date) waits for the lock, then gives up.
  EXPECT_EQ(o.code, 70) << o.err << o.out;
  EXPECT_TRUE(Has(o.err, "pramble run: error (3260): ")) << o.err;
  EXPECT_TRUE(Has(o.err, "database is locked")) << o.err;
  EXPECT_TRUE(Has(o.err, "UPDATE analyses SET run_date")) << o.err;
  EXPECT_FALSE(Has(o.err, "status ")) << o.err;
  EXPECT_EQ(StoredOf(dir(), 11), before);
  EXPECT_EQ(FilesIn(tmp()), std::vector<std::string>{});
}

// The lock is taken while R runs and held until pramble has given up on it:
// the results cannot be stored. Once the lock has gone, the item is marked
// as finished with errors instead of staying "Engine running", and what R
// wrote is kept in the command folder.
TEST_F(LockedDatabaseTest, LockTakenWhileRRuns) {
  Pramble run({"run", dir(), "12"}, Env("tell_and_wait.R"));
  std::size_t seen = 0;
  ASSERT_EQ(ReadyLine(sync(), &seen, [&] { return run.Exited(); }).rfind("ready ", 0), 0u);
  ChildLock locker(dir() + "/project.db");
  ASSERT_TRUE(locker.locked());
  Go(sync());
  const std::string error = run.WaitForErrLine(
      [](const std::string& l) { return l.rfind("pramble run: error (", 0) == 0; });
  locker.Release();
  const Outcome o = run.Wait();

  EXPECT_EQ(o.code, 70) << o.err << o.out;
  EXPECT_EQ(error, "pramble run: error (3260): SQLite error on the database '" + dir() +
                       "/project.db': database is locked in SQL: UPDATE analyses SET status = ?1 "
                       "WHERE id = ?2");
  EXPECT_TRUE(Has(o.err, "status 7 Engine running\n" + error +
                             "\npramble run: analysis item 12 is marked 3 Finished with errors; "
                             "the results of this run were not stored\n"))
      << o.err;
  const Stored stored = StoredOf(dir(), 12);
  EXPECT_TRUE(Has(stored.status, "\t3\tFinished with errors\t")) << stored.status;
  EXPECT_EQ(stored.stats, "");
  const std::string folder = CommandFolderOf(o.out);
  ASSERT_FALSE(folder.empty()) << o.out;
  EXPECT_TRUE(Has(ReadFile(folder + "/res.r"), "\tDensity Estimates and associated quantities\t"));
  fs::remove_all(folder);
}

}  // namespace
}  // namespace pramble::robustness
