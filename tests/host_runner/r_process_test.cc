#include "sqlhost/runner/posix_r_process.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/runner/event_loop.h"
#include "host_util/settings_project.h"
#include "host_util/test_util.h"

namespace pramble::sqlhost {
namespace {

using std::chrono::milliseconds;
using testing::ScopedEnv;
using testing::TempDir;
using testing::Slurp;
using testing::Spit;

constexpr auto kPatience = std::chrono::seconds(120);  // a safety net, not a measure

// Processes of the group that are still alive (zombies not counted: they
// are gone, only not yet reaped by whoever inherited them).
int LiveProcessesInGroup(pid_t group) {
  int live = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = Slurp(entry.path().string() + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long ppid = 0, pgrp = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 &&
        pgrp == group && state != 'Z')
      ++live;
  }
  return live;
}

// The processes of a group that was sent SIGKILL: the signal is sent before
// the runner answers, but on a busy machine the kernel may take a moment to
// carry it out, so this waits up to five seconds for the group to empty.
int LiveProcessesAfterKill(EventLoop& loop, pid_t group) {
  int live = LiveProcessesInGroup(group);
  for (int i = 0; i < 100 && live > 0; ++i) {
    loop.RunOnce(milliseconds(50));
    live = LiveProcessesInGroup(group);
  }
  return live;
}

// One run: its folder, the runner and what RunFinished delivered.
struct TrackedRun {
  explicit TrackedRun(EventLoop& loop, const std::string& parent, const std::string& name)
      : folder(parent + "/" + name), runner(std::make_unique<PosixRProcess>(loop)) {
    std::filesystem::create_directories(folder);
    runner->SetRunFinishedHandler([this](std::int32_t status) {
      statuses.push_back(status);
      error_message = runner->ErrorMessage();
    });
  }
  void Start(const std::string& script, const std::string& engine = "/usr/bin/R") {
    Spit(folder + "/in.r", script);
    runner->Run(engine, folder, folder + "/in.r", folder + "/log.r");
  }
  std::string Log() const { return Slurp(folder + "/log.r"); }

  std::string folder;
  std::unique_ptr<PosixRProcess> runner;
  std::vector<std::int32_t> statuses;
  std::string error_message;
};

// Waits, running the loop, until `file` exists.
bool AwaitFile(EventLoop& loop, const std::string& file) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!std::filesystem::exists(file)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.RunOnce(milliseconds(20));
  }
  return true;
}

TEST(RProcessTest, EngineStatusOfEachWayRCanEnd) {
  struct Case {
    std::string name, script;
    std::int32_t status;
    std::string error_message, log_holds;
  };
  const Case cases[] = {
      {"succeeds", "cat('all well\\n')\n", 1, "", "all well"},
      {"warns", "x <- as.integer('a')\ncat('done\\n')\n", 2, "", "Warning message"},
      {"stops", "stop('bad input')\ncat('never\\n')\n", 3, "", "Error: bad input"},
      {"quits", "quit(status=4)\n", 4, "R ended with exit status 4.", ""},
      {"crashes", "tools::pskill(Sys.getpid(), tools::SIGKILL)\nSys.sleep(60)\n", 5,
       "R was ended by signal 9 (Killed).", ""},
  };
  TempDir area;
  EventLoop loop;
  std::vector<std::unique_ptr<TrackedRun>> runs;
  for (const auto& c : cases) {  // all at once: R's start-up is the slow part
    runs.push_back(std::make_unique<TrackedRun>(loop, area.path(), "run " + c.name));
    runs.back()->Start(c.script);
  }
  ASSERT_TRUE(loop.RunUntil(
      [&] {
        for (const auto& run : runs)
          if (run->statuses.empty()) return false;
        return true;
      },
      kPatience));
  loop.RunOnce(milliseconds(0));
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(runs[i]->statuses, std::vector<std::int32_t>{cases[i].status});
    EXPECT_EQ(runs[i]->error_message, cases[i].error_message);
    EXPECT_NE(runs[i]->Log().find(cases[i].log_holds), std::string::npos) << runs[i]->Log();
    EXPECT_EQ(runs[i]->runner->CommandLine(),
              "/usr/bin/R --no-save --no-restore -f '" + runs[i]->folder + "/in.r'");
  }
}

TEST(RProcessTest, RRunsInTheFolderWithItsLibraryAndAppendsToTheLog) {
  TempDir area;
  const std::string library = area / "my lib/R";
  ScopedEnv own_library("PRAMBLE_R_LIBRARY", library);
  EventLoop loop;
  TrackedRun run(loop, area.path(), "work");
  Spit(run.folder + "/log.r", "before\n");
  run.Start(
      "writeLines(c(getwd(), .libPaths()[1], Sys.getenv('LANGUAGE'), "
      "length(readLines(file('stdin')))), 'facts.txt')\n"
      "message('to stderr')\n");
  ASSERT_TRUE(loop.RunUntil([&] { return !run.statuses.empty(); }, kPatience));
  EXPECT_EQ(run.statuses, std::vector<std::int32_t>{1});
  EXPECT_EQ(Slurp(run.folder + "/facts.txt"),
            run.folder + "\n" + library + "\nen\n0\n");
  const std::string log = run.Log();
  EXPECT_EQ(log.rfind("before\n", 0), 0u);
  EXPECT_NE(log.find("to stderr"), std::string::npos);
}

TEST(RProcessTest, StartFailuresDeliverSixThroughTheLoop) {
  TempDir area;
  const std::string garbage = area / "not a program";
  Spit(garbage, "this is no program\n");
  ::chmod(garbage.c_str(), 0755);
  struct Case {
    std::string engine, folder_name, log_file, message;
  };
  const std::string good = area / "good";
  std::filesystem::create_directory(good);
  const Case cases[] = {
      {"/nonexistent/R", good, good + "/log.r",
       "R could not be started: cannot run '/nonexistent/R': No such file or directory"},
      {"no-such-program-xyz", good, good + "/log.r",
       "R could not be started: cannot find 'no-such-program-xyz' on the PATH"},
      {garbage, good, good + "/log.r",
       "R could not be started: cannot run '" + garbage + "': Exec format error"},
      {"/usr/bin/R", area / "missing", good + "/log.r",
       "R could not be started: cannot change to the folder '" + (area / "missing") +
           "': No such file or directory"},
      {"/usr/bin/R", good, area / "missing/log.r",
       "R could not be started: cannot open the log file '" + (area / "missing/log.r") +
           "': No such file or directory"},
  };
  EventLoop loop;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    PosixRProcess runner(loop);
    std::vector<std::int32_t> statuses;
    std::string message;
    runner.SetRunFinishedHandler([&](std::int32_t status) {
      statuses.push_back(status);
      message = runner.ErrorMessage();
    });
    runner.Run(c.engine, c.folder_name, good + "/in.r", c.log_file);
    EXPECT_TRUE(statuses.empty()) << "delivered inside Run";
    EXPECT_TRUE(loop.RunUntil([&] { return !statuses.empty(); }, kPatience));
    loop.RunOnce(milliseconds(0));
    EXPECT_EQ(statuses, std::vector<std::int32_t>{6});
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(runner.ProcessGroup(), -1);
  }
}

TEST(RProcessTest, StopRunEndsRAndEveryProcessOfItsGroup) {
  TempDir area;
  EventLoop loop;
  TrackedRun run(loop, area.path(), "stop");
  // A child that ignores SIGTERM: only the SIGKILL after R's end takes it.
  run.Start(
      "system(\"trap '' TERM; exec sleep 300\", wait=FALSE)\n"
      "file.create('started')\nSys.sleep(300)\n");
  ASSERT_TRUE(AwaitFile(loop, run.folder + "/started"));
  const pid_t group = run.runner->ProcessGroup();
  ASSERT_GT(group, 0);
  // The background child may still be on its way when R has gone on.
  for (int i = 0; i < 100 && LiveProcessesInGroup(group) < 2; ++i)
    loop.RunOnce(milliseconds(50));
  EXPECT_GE(LiveProcessesInGroup(group), 2);
  run.runner->StopRun();
  run.runner->StopRun();  // a second request changes nothing
  ASSERT_TRUE(loop.RunUntil([&] { return !run.statuses.empty(); }, kPatience));
  loop.RunOnce(milliseconds(0));
  EXPECT_EQ(run.statuses, std::vector<std::int32_t>{0});
  EXPECT_EQ(run.error_message, "");
  EXPECT_EQ(LiveProcessesAfterKill(loop, group), 0);
  run.runner->StopRun();  // after the end: nothing
}

TEST(RProcessTest, StopRunKillsAnEngineThatIgnoresSigterm) {
  TempDir area;
  const std::string engine = area / "stubborn";
  Spit(engine, "#!/bin/sh\ntrap '' TERM\ntouch started\nwhile :; do sleep 1; done\n");
  ::chmod(engine.c_str(), 0755);
  EventLoop loop;
  TrackedRun run(loop, area.path(), "stubborn run");
  run.runner->SetStopGrace(milliseconds(50));
  run.Start("", engine);
  ASSERT_TRUE(AwaitFile(loop, run.folder + "/started"));
  const pid_t group = run.runner->ProcessGroup();
  run.runner->StopRun();
  ASSERT_TRUE(loop.RunUntil([&] { return !run.statuses.empty(); }, kPatience));
  EXPECT_EQ(run.statuses, std::vector<std::int32_t>{0});
  EXPECT_EQ(LiveProcessesAfterKill(loop, group), 0);
}

TEST(RProcessTest, TheHandlerMayDestroyTheRunner) {
  TempDir area;
  EventLoop loop;
  auto runner = std::make_unique<PosixRProcess>(loop);
  std::vector<std::int32_t> statuses;
  runner->SetRunFinishedHandler([&](std::int32_t status) {
    statuses.push_back(status);
    runner.reset();
  });
  Spit(area / "in.r", "cat('x\\n')\n");
  runner->Run("/usr/bin/R", area.path(), area / "in.r", area / "log.r");
  ASSERT_TRUE(loop.RunUntil([&] { return runner == nullptr; }, kPatience));
  EXPECT_EQ(statuses, std::vector<std::int32_t>{1});
}

TEST(RProcessTest, DestroyingARunnerKillsItsProcessAndDeliversNothing) {
  TempDir area;
  const std::string engine = area / "sleeper";
  Spit(engine, "#!/bin/sh\ntouch started\nsleep 300\n");
  ::chmod(engine.c_str(), 0755);
  EventLoop loop;
  auto run = std::make_unique<TrackedRun>(loop, area.path(), "sleep");
  bool delivered = false;
  run->runner->SetRunFinishedHandler([&](std::int32_t) { delivered = true; });
  run->Start("", engine);
  ASSERT_TRUE(AwaitFile(loop, run->folder + "/started"));
  const pid_t group = run->runner->ProcessGroup();
  run->runner.reset();
  EXPECT_EQ(LiveProcessesAfterKill(loop, group), 0);
  while (loop.RunOnce(milliseconds(0))) {
  }
  EXPECT_FALSE(delivered);
}

TEST(RProcessTest, GetEnginePath) {
  TempDir area;
  testing::SettingsProject project;
  EventLoop loop;
  PosixRProcess runner(loop);
  auto set = [&](const std::string& path) {
    project.settings().SaveSetting(1, 1, "R", "EnginePath", path);
  };
  EXPECT_EQ(runner.GetEnginePath(project), "/usr/bin/R");
  EXPECT_EQ(runner.ErrorMessage(), "");
  set("/usr/bin/R");
  EXPECT_EQ(runner.GetEnginePath(project), "/usr/bin/R");
  set(" Rscript ");
  EXPECT_EQ(runner.GetEnginePath(project), "/usr/bin/Rscript");
  set(area / "nowhere/R");
  EXPECT_EQ(runner.GetEnginePath(project), "");
  EXPECT_EQ(runner.ErrorMessage(),
            "R could not be found: the setting R/EnginePath names '" + (area / "nowhere/R") +
                "', which is not an executable file. Set it to the R program (for example: "
                "pramble settings DIR set R EnginePath /usr/bin/R) or clear it to use R from "
                "the PATH.");
  set(area.path());  // a folder is no program
  EXPECT_EQ(runner.GetEnginePath(project), "");
  set("");
  {
    ScopedEnv path("PATH", area.path());
    EXPECT_EQ(runner.GetEnginePath(project), "");
    EXPECT_EQ(runner.ErrorMessage(),
              "R could not be found on the PATH. Install R (the Debian package r-base-core) "
              "or set the setting R/EnginePath to the R program (for example: pramble "
              "settings DIR set R EnginePath /usr/bin/R).");
  }
  project.settings().set_fail(true);
  EXPECT_EQ(runner.GetEnginePath(project), "");
  EXPECT_EQ(runner.ErrorMessage(),
            "R could not be found: the setting R/EnginePath cannot be read: the settings "
            "store cannot be read");
}

TEST(ShellCommandLineTest, QuotesWhatAShellWouldSplit) {
  EXPECT_EQ(ShellCommandLine({"/usr/bin/R", "--no-save", "-f", "/tmp/x/in.r"}),
            "/usr/bin/R --no-save -f /tmp/x/in.r");
  EXPECT_EQ(ShellCommandLine({"/opt/my R/R", "-f", "it's $HOME", ""}),
            "'/opt/my R/R' -f 'it'\\''s $HOME' ''");
}

}  // namespace
}  // namespace pramble::sqlhost
