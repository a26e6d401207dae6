// The project database locked by another process (a child of the test that
// holds SQLite's write lock in an open transaction), before a run and while
// R runs.
#include <gtest/gtest.h>

#include "robustness.h"
#include "support/child_lock.h"

namespace pramble::robustness {
namespace {

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
