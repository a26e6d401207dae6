// The real `pramble` binary on a project made by `pramble create` from the
// example description: run (debug, stopped by a signal, full with R), reset,
// log, results, stats, and their exit codes and messages.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_lock.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

class CliEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path() + "/survey project";
    const Outcome made = RunPramble(
        {"create", dir_, "--from", std::string(PRAMBLE_EXAMPLES_DIR) + "/double-observer/project.json"});
    ASSERT_EQ(made.code, 0) << made.err;
  }

  TempDir temp_;
  std::string dir_;
};

// The command folder named by the debug message in a log.
std::string DebugFolder(const std::string& log) {
  const std::string start = "Debug mode: R commands folder '";
  const auto b = log.find(start);
  if (b == std::string::npos) return "";
  const auto e = log.find("' will not be deleted.", b);
  return log.substr(b + start.size(), e - b - start.size());
}

TEST_F(CliEngineTest, DebugRunKeepsTheFilesAndRestoresTheSetting) {
  const Outcome run = RunPramble({"run", dir_, "1", "--debug"});
  EXPECT_EQ(run.code, 0) << run.err << run.out;
  EXPECT_TRUE(Has(run.err, "status 6 Preparing\n")) << run.err;
  EXPECT_TRUE(Has(run.err, "status 8 Reading results\n")) << run.err;
  EXPECT_TRUE(Has(run.err, "status 2 Finished with warnings\n")) << run.err;
  EXPECT_LT(run.err.find("status 6"), run.err.find("status 8"));
  EXPECT_TRUE(Has(run.out, "Running in debug mode: input files will be generated but analysis "
                           "will not be run."));
  const std::string folder = DebugFolder(run.out);
  ASSERT_FALSE(folder.empty()) << run.out;
  for (const char* name : {"in.r", "log.r", "ddf.dat.r", "region.dat.r", "sample.dat.r",
                           "obs.dat.r"})
    EXPECT_TRUE(fs::exists(folder + "/" + name)) << name;
  fs::remove_all(folder);

  // The setting was not stored before the run and is not stored after it.
  EXPECT_EQ(RunPramble({"settings", dir_, "get", "AnalysisDetails", "DebugMode"}).code, 66);
  const Outcome status = RunPramble({"status", dir_, "1"});
  EXPECT_TRUE(Has(status.out, "\t2\tFinished with warnings\t")) << status.out;

  const Outcome log = RunPramble({"log", dir_, "1"});
  EXPECT_EQ(log.code, 0);
  EXPECT_TRUE(Has(log.out, "Run finished")) << log.out;
  EXPECT_EQ(log.out, run.out);
  const Outcome results = RunPramble({"results", dir_, "1"});
  EXPECT_EQ(results.code, 0);
  EXPECT_EQ(results.out, "");
  const Outcome stats = RunPramble({"stats", dir_, "1"});
  EXPECT_EQ(stats.code, 0);
  EXPECT_EQ(stats.out, "");
}

TEST_F(CliEngineTest, DebugRunPutsBackAnEarlierValue) {
  ASSERT_EQ(RunPramble({"settings", dir_, "set", "AnalysisDetails", "DebugMode", "false"}).code, 0);
  const Outcome run = RunPramble({"run", dir_, "1", "--debug"});
  EXPECT_EQ(run.code, 0) << run.err;
  fs::remove_all(DebugFolder(run.out));
  const Outcome get = RunPramble({"settings", dir_, "get", "AnalysisDetails", "DebugMode"});
  EXPECT_EQ(get.out, "False\n");
}

struct ErrorCase {
  const char* name;
  std::vector<std::string> args;  // "DIR" stands for the project folder
  int code;
  const char* err;
};

TEST_F(CliEngineTest, MissingThingsAndTheirExitCodes) {
  const ErrorCase cases[] = {
      {"RunUnknownItem", {"run", "DIR", "99"}, 66,
       "Pramble.QuoxNEngineInterface.GetBrowserItem (-2147213553): Cannot find item '99'.\n"},
      {"RunMissingFolder", {"run", "DIR/missing", "1"}, 66, "missing"},
      {"ResetUnknownItem", {"reset", "DIR", "99"}, 66, "has no analysis item 99"},
      {"LogBeforeAnyRun", {"log", "DIR", "1"}, 66, "has no stored results"},
      {"ResultsBeforeAnyRun", {"results", "DIR", "1"}, 66, "has no stored results"},
      {"LogUnknownItem", {"log", "DIR", "7"}, 66, "has no analysis item 7"},
      {"StatsUnknownItem", {"stats", "DIR", "7"}, 66, "has no analysis item 7"},
      {"StatsMissingFolder", {"stats", "DIR/missing", "1"}, 66, "missing"},
      {"RunWithoutItem", {"run", "DIR"}, 64, ""},
      {"RunItemNotANumber", {"run", "DIR", "one"}, 64, ""},
      {"MistypedCommand", {"stauts", "DIR"}, 64,
       "pramble: unknown command 'stauts'; did you mean 'status'?\n"},
      {"UnknownCommand", {"frobnicate", "DIR"}, 64, "pramble: unknown command 'frobnicate'\n"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args;
    for (const std::string& a : c.args)
      args.push_back(a.rfind("DIR", 0) == 0 ? dir_ + a.substr(3) : a);
    const Outcome o = RunPramble(args);
    EXPECT_EQ(o.code, c.code) << o.err;
    EXPECT_TRUE(Has(o.err, c.err)) << o.err;
    EXPECT_EQ(o.out, "");
  }
}

TEST_F(CliEngineTest, UnreadableProject) {
  WriteFile(dir_ + "/project.db", "this is not a database");
  for (const char* command : {"run", "reset", "log", "stats"}) {
    SCOPED_TRACE(command);
    const Outcome o = RunPramble({command, dir_, "1"});
    EXPECT_EQ(o.code, 65) << o.err;
    EXPECT_TRUE(Has(o.err, "project.db")) << o.err;
  }
}

TEST_F(CliEngineTest, ResetPrintsItsLog) {
  const Outcome run = RunPramble({"run", dir_, "1", "--debug"});
  fs::remove_all(DebugFolder(run.out));
  WriteFile(dir_ + "/ddf.1.01.png", "plot");
  WriteFile(dir_ + "/ddf.11.01.png", "plot");
  const Outcome reset = RunPramble({"reset", dir_, "1"});
  EXPECT_EQ(reset.code, 0) << reset.err;
  EXPECT_EQ(reset.out, "");
  EXPECT_FALSE(fs::exists(dir_ + "/ddf.1.01.png"));
  EXPECT_TRUE(fs::exists(dir_ + "/ddf.11.01.png"));
  EXPECT_EQ(RunPramble({"log", dir_, "1"}).code, 66);
  EXPECT_TRUE(Has(RunPramble({"status", dir_, "1"}).out, "\t0\tNot run\t\n"));
}

// Sets or clears the immutable flag of `path`: not even root may delete it.
// False when the file system does not allow it.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return done;
}

// ResetItem answers True when a plot file could not be deleted; the command
// still exits 1, with the log that says so.
TEST_F(CliEngineTest, ResetThatLeavesAPlotExitsOne) {
  const std::string plot = dir_ + "/ddf.1.01.png";
  WriteFile(plot, "plot");
  if (!SetImmutable(plot, true)) GTEST_SKIP() << "no immutable files here";
  const Outcome reset = RunPramble({"reset", dir_, "1"});
  SetImmutable(plot, false);
  EXPECT_EQ(reset.code, 1) << reset.err;
  EXPECT_TRUE(Has(reset.out, "Error: Encountered an error while trying to reset the results"))
      << reset.out;
  EXPECT_TRUE(fs::exists(plot));
}

// A signal while R runs stops the run, which then ends the normal way.
TEST_F(CliEngineTest, SignalStopsTheRun) {
  // R that runs until it is stopped.
  const std::string hanging_r = temp_.path() + "/hanging-R";
  WriteFile(hanging_r, "#!/bin/sh\nexec /usr/bin/R --no-save --no-restore -e 'Sys.sleep(600)'\n");
  fs::permissions(hanging_r, fs::perms::owner_all);
  ASSERT_EQ(RunPramble({"settings", dir_, "set", "R", "EnginePath", hanging_r}).code, 0);

  for (int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    bool sent = false;
    Pramble run({"run", dir_, "1"});
    const Outcome o = run.Wait([&](const std::string& line) {
      if (!sent && line == "status 7 Engine running") {
        sent = true;
        kill(run.pid(), signal_number);
      }
    });
    EXPECT_TRUE(sent) << o.err;
    EXPECT_EQ(o.code, 2) << o.err << o.out;
    EXPECT_TRUE(Has(o.err, "status 9 Stopping\nstatus 8 Reading results\nstatus 0 Not run\n"))
        << o.err;
    EXPECT_TRUE(Has(o.out, "Stopping the run")) << o.out;
    EXPECT_TRUE(Has(o.out, "Analysis engine status 'Stopped'")) << o.out;
  }
}

// Another process holds the project database: a clear message, no crash,
// and exit 70 (the host failed on something that is no bad input).
TEST_F(CliEngineTest, LockedProjectDatabase) {
  ChildLock other(dir_ + "/project.db", "BEGIN EXCLUSIVE");
  ASSERT_TRUE(other.locked());
  const Outcome o = RunPramble({"run", dir_, "1"});
  other.Release();
  EXPECT_EQ(o.code, 70) << o.err;
  EXPECT_TRUE(Has(o.err, "lock")) << o.err;
}

// A project database that another process keeps locked even for readers
// gives every command the same exit code, 70, whether it would read or write.
TEST_F(CliEngineTest, LockedProjectDatabaseSameExitFromEveryCommand) {
  ChildLock other(dir_ + "/project.db", "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE");
  ASSERT_TRUE(other.locked());
  const std::vector<std::vector<std::string>> commands = {
      {"settings", dir_, "set", "R", "X", "1"}, {"status", dir_}, {"run", dir_, "1"}};
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const Outcome o = RunPramble(args);
    EXPECT_EQ(o.code, 70) << o.err;
    EXPECT_TRUE(Has(o.err, "pramble " + args[0] + ": ")) << o.err;
    EXPECT_TRUE(Has(o.err, "locked")) << o.err;
  }
}

// The whole road: R runs the example analysis; the row, the statistics and the
// final status are stored and the command folder is gone.
TEST_F(CliEngineTest, FullRunWithR) {
  const Outcome run = RunPramble({"run", dir_, "1"});
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  EXPECT_TRUE(Has(run.err, "status 7 Engine running\n"));
  EXPECT_TRUE(Has(run.out, "Analysis engine status 'Finished'")) << run.out;

  // The command folder of the run, named on the command line in the log.
  const std::string folder = CommandFolderOf(run.out);
  ASSERT_FALSE(folder.empty()) << run.out;
  EXPECT_FALSE(fs::exists(folder)) << folder;

  const Outcome stats = RunPramble({"stats", dir_, "1"});
  EXPECT_EQ(stats.code, 0);
  EXPECT_FALSE(stats.out.empty());
  for (std::size_t b = 0, e; b < stats.out.size(); b = e + 1) {
    e = stats.out.find('\n', b);
    const std::string line = stats.out.substr(b, e - b);
    EXPECT_NE(line.find('\t'), std::string::npos) << line;
  }
  const Outcome results = RunPramble({"results", dir_, "1"});
  EXPECT_EQ(results.code, 0);
  EXPECT_FALSE(results.out.empty());
  const Outcome log = RunPramble({"log", dir_, "1"});
  EXPECT_EQ(log.out, run.out);
  EXPECT_TRUE(Has(RunPramble({"status", dir_, "1"}).out, "\t1\tFinished\t"));
}

}  // namespace
}  // namespace pramble::testing
