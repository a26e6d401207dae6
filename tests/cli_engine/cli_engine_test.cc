// The real `pramble` binary on a project made from the example description:
// a debug run and the reset after it, a reset that cannot delete a plot, and
// a locked project database. Exit codes and messages of missing things are in
// tests/data/cli/commands.tsv (cli_project); runs with R in robustness.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sqlhost/project/description.h"
#include "support/child_lock.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

class CliEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlhost::CreateProject(dir_, PRAMBLE_EXAMPLES_DIR "/double-observer/project.json");
  }
  TempDir temp_;
  const std::string dir_ = temp_ / "survey project";
};

// The command folder named by the debug message in a log.
std::string DebugFolder(const std::string& log) {
  const std::string start = "Debug mode: R commands folder '";
  const auto b = log.find(start);
  if (b == std::string::npos) return "";
  return log.substr(b + start.size(), log.find("' will not be deleted.", b) - b - start.size());
}

TEST_F(CliEngineTest, DebugRunKeepsTheFilesRestoresTheSettingAndResets) {
  const Outcome run = RunPramble({"run", dir_, "1", "--debug"});
  EXPECT_EQ(run.code, 0) << run.err << run.out;
  EXPECT_TRUE(Has(run.err, "status 6 Preparing\nstatus 8 Reading results\n"
                           "status 2 Finished with warnings\n")) << run.err;
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
  EXPECT_TRUE(Has(RunPramble({"status", dir_, "1"}).out, "\t2\tFinished with warnings\t"));
  const Outcome log = RunPramble({"log", dir_, "1"});
  EXPECT_EQ(log.code, 0);
  EXPECT_TRUE(Has(log.out, "Run finished")) << log.out;
  EXPECT_EQ(log.out, run.out);
  EXPECT_EQ(RunPramble({"results", dir_, "1"}).out, "");
  EXPECT_EQ(RunPramble({"stats", dir_, "1"}).out, "");

  // A reset deletes the item's plots alone and prints nothing.
  WriteFile(dir_ + "/ddf.1.01.png", "plot");
  WriteFile(dir_ + "/ddf.11.01.png", "plot");
  const Outcome reset = RunPramble({"reset", dir_, "1"});
  EXPECT_EQ(reset.code, 0) << reset.err;
  EXPECT_EQ(reset.out, "");
  EXPECT_FALSE(fs::exists(dir_ + "/ddf.1.01.png"));
  EXPECT_TRUE(fs::exists(dir_ + "/ddf.11.01.png"));
  EXPECT_EQ(RunPramble({"log", dir_, "1"}).code, 66);
  EXPECT_TRUE(Has(RunPramble({"status", dir_, "1"}).out, "\t0\tNot run\t\n"));

  // An earlier value of the setting is put back.
  ASSERT_EQ(RunPramble({"settings", dir_, "set", "AnalysisDetails", "DebugMode", "false"}).code, 0);
  fs::remove_all(DebugFolder(RunPramble({"run", dir_, "1", "--debug"}).out));
  EXPECT_EQ(RunPramble({"settings", dir_, "get", "AnalysisDetails", "DebugMode"}).out, "False\n");
}

// Sets or clears the immutable flag of `path`: not even root may delete it.
// False when the file system does not allow it.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int flags = 0;
  bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) close(fd);
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

// A project database that another process keeps locked even for readers
// gives every command the same exit code, 70, whether it would read or write.
TEST_F(CliEngineTest, LockedProjectDatabaseSameExitFromEveryCommand) {
  ChildLock other(dir_ + "/project.db", "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE");
  ASSERT_TRUE(other.locked());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"settings", dir_, "set", "R", "X", "1"}, {"status", dir_}, {"run", dir_, "1"}}) {
    SCOPED_TRACE(args[0]);
    const Outcome o = RunPramble(args);
    EXPECT_EQ(o.code, 70) << o.err;
    EXPECT_TRUE(Has(o.err, "pramble " + args[0] + ": ")) << o.err;
    EXPECT_TRUE(Has(o.err, "locked")) << o.err;
  }
}

// Distances in metres declared as kilometres: R fits them, but the covered
// strips come out larger than their regions; the run finishes with the
// warning that names the likely mistake.
TEST(UnitWarningTest, MetresDeclaredAsKilometresFinishWithTheWarning) {
  TempDir temp;
  nlohmann::json d = ExampleDescription();
  for (auto& layer : d["layers"])
    for (auto& field : layer["fields"])
      if (field["name"] == "distance") field["units"] = "Kilometer";
  sqlhost::CreateProjectFromJson(temp / "p", d, "");
  const Outcome run = RunPramble({"run", temp / "p", "1"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Has(run.err, "status 2 Finished with warnings")) << run.err;
  EXPECT_TRUE(Has(run.out, "is larger than its area")) << run.out;
  EXPECT_TRUE(Has(run.out, "(metres declared as kilometres?)")) << run.out;
}

}  // namespace
}  // namespace pramble::testing
