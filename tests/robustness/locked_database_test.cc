// The project database locked by another process (a child of the test that
// holds SQLite's write lock in an open transaction), before a run and while
// R runs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "host/project/schema.h"
#include "robustness.h"

namespace pramble::robustness {
namespace {

// A child process that holds the write lock of database `path` from its
// start (when it has said so) until Release or its end.
class Locker {
 public:
  explicit Locker(const std::string& path) {
    int ready[2], release[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      sqlite3* db = nullptr;
      char ok = 0;
      if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
          sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK)
        ok = 1;
      (void)!write(ready[1], &ok, 1);
      char byte;
      (void)!read(release[0], &byte, 1);
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 0;
    locked_ = read(ready[0], &ok, 1) == 1 && ok == 1;
    close(ready[0]);
  }
  ~Locker() { Release(); }
  Locker(const Locker&) = delete;
  Locker& operator=(const Locker&) = delete;

  bool locked() const { return locked_; }
  void Release() {
    if (release_ < 0) return;
    close(release_);  // the child reads the end of the pipe
    release_ = -1;
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

std::string ProjectDatabase(const std::string& dir) {
  return dir + "/" + sqlhost::kProjectFileName;
}

class LockedDatabaseTest : public ProjectTest {};

TEST_F(LockedDatabaseTest, RunRefusedWhileAnotherProcessWrites) {
  const Stored before = StoredOf(dir(), 11);
  Locker locker(ProjectDatabase(dir()));
  ASSERT_TRUE(locker.locked());
  const Outcome o = RunPramble({"run", dir(), "11"}, {"TMPDIR=" + tmp()});
  locker.Release();

  // The first write of the run (its run date) waits for the lock, then gives up.
  EXPECT_EQ(o.code, 70) << o.err << o.out;
  EXPECT_TRUE(Has(o.err, "pramble run: error (3260): ")) << o.err;
  EXPECT_TRUE(Has(o.err, "database is locked")) << o.err;
  EXPECT_TRUE(Has(o.err, "UPDATE analyses SET run_date")) << o.err;
  EXPECT_FALSE(Has(o.err, "status ")) << o.err;
  EXPECT_EQ(StoredOf(dir(), 11), before);
  EXPECT_EQ(CommandFoldersIn(tmp()), std::vector<std::string>{});
}

// The lock is taken while R runs and held until pramble has given up on it:
// the results cannot be stored. Once the lock has gone, the item is marked
// as finished with errors instead of staying "Engine running", and what R
// wrote is kept in the command folder.
TEST_F(LockedDatabaseTest, LockTakenWhileRRuns) {
  RSync sync(sync_folder());
  const std::string profile =
      RProfile(tmp() + "-profile.R", RTellAndWait(sync, "running", "locked"));
  Pramble run({"run", dir(), "12"}, {"TMPDIR=" + tmp(), profile});
  ASSERT_EQ(sync.ReadyLine([&] { return run.Exited(); }).rfind("running ", 0), 0u);
  Locker locker(ProjectDatabase(dir()));
  ASSERT_TRUE(locker.locked());
  sync.Flag("locked");
  const std::string error = run.WaitForErrLine(
      [](const std::string& l) { return l.rfind("pramble run: error (", 0) == 0; });
  locker.Release();
  const Outcome o = run.Wait();

  EXPECT_EQ(o.code, 70) << o.err << o.out;
  EXPECT_EQ(error,
            "pramble run: error (3260): SQLite error: database is locked in SQL: UPDATE analyses "
            "SET status = ?1 WHERE id = ?2");
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
