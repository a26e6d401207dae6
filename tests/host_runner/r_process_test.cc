// The R runner on real processes: real R for how R ends and where it runs,
// small shell engines where only the process matters.
#include "sqlhost/runner/posix_r_process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "sqlhost/runner/event_loop.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

using std::chrono::milliseconds;
using pramble::testing::ReadFile;
using pramble::testing::TempDir;
using pramble::testing::WriteFile;

constexpr auto kPatience = std::chrono::seconds(120);  // a safety net, not a measure

int LiveProcessesInGroup(pid_t group) {
  int live = 0;
  for (const auto& p : pramble::testing::LiveProcesses()) live += p.pgrp == group;
  return live;
}

// The processes of a group that was sent SIGKILL: the kernel may take a
// moment to carry it out on a busy machine, so this waits up to five seconds.
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
  TrackedRun(EventLoop& loop, const std::string& folder_name)
      : folder(folder_name), runner(std::make_unique<PosixRProcess>(loop)) {
    std::filesystem::create_directories(folder);
    runner->SetRunFinishedHandler([this](std::int32_t status) {
      statuses.push_back(status);
      error_message = runner->ErrorMessage();
    });
  }
  void Start(const std::string& script, const std::string& engine = "/usr/bin/R") {
    WriteFile(folder + "/in.r", script);
    runner->Run(engine, folder, folder + "/in.r", folder + "/log.r");
  }
  // Waits, running the loop, until `file` of the folder exists.
  bool Await(EventLoop& loop, const std::string& file) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (; !std::filesystem::exists(folder + "/" + file); loop.RunOnce(milliseconds(20)))
      if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
  }

  std::string folder;
  std::unique_ptr<PosixRProcess> runner;
  std::vector<std::int32_t> statuses;
  std::string error_message;
};

std::string Engine(const TempDir& area, const std::string& name, const std::string& script) {
  WriteFile(area / name, script);
  ::chmod((area / name).c_str(), 0755);
  return area / name;
}

TEST(RProcessTest, EngineStatusOfEachWayRCanEnd) {
  // R runs in the folder, with its own library first, in English, with
  // nothing on stdin, and appends stdout and stderr to the log.
  const auto cases = pramble::testing::ReadCases("host_runner/r_endings.txt");
  TempDir area;
  const std::string library = area / "my lib/R";
  pramble::testing::ScopedEnv own_library("PRAMBLE_R_LIBRARY", library);
  EventLoop loop;
  std::vector<std::unique_ptr<TrackedRun>> runs;
  for (const auto& c : cases) {  // all at once: R's start-up is the slow part
    runs.push_back(std::make_unique<TrackedRun>(loop, area / ("run " + c.name)));
    WriteFile(runs.back()->folder + "/log.r", "before\n");
    runs.back()->Start(c.Get("script"));
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
    const std::string log = ReadFile(runs[i]->folder + "/log.r");
    EXPECT_EQ(runs[i]->statuses, std::vector<std::int32_t>{std::stoi(cases[i].Get("status"))});
    EXPECT_EQ(runs[i]->error_message, cases[i].Get("message"));
    EXPECT_EQ(log.rfind("before\n", 0), 0u) << log;
    EXPECT_TRUE(pramble::testing::Has(log, cases[i].Get("log"))) << log;
    EXPECT_EQ(runs[i]->runner->CommandLine(),
              "/usr/bin/R --no-save --no-restore -f '" + runs[i]->folder + "/in.r'");
  }
  EXPECT_EQ(ReadFile(runs[0]->folder + "/facts.txt"),
            runs[0]->folder + "\n" + library + "\nen\n0\n");
}

TEST(RProcessTest, StartFailuresDeliverSixThroughTheLoop) {
  TempDir area;
  Engine(area, "not a program", "this is no program\n");
  const std::string good = area / "good";
  std::filesystem::create_directory(good);
  EventLoop loop;
  for (auto c : pramble::testing::ReadTable("host_runner/start_failures.tsv")) {
    for (auto& part : c) part = pramble::testing::Fill(part, {{"<area>", area.path()}});
    SCOPED_TRACE(c[3]);
    TrackedRun run(loop, good);
    run.runner->Run(c[0], c[1], good + "/in.r", c[2]);
    EXPECT_TRUE(run.statuses.empty()) << "delivered inside Run";
    EXPECT_TRUE(loop.RunUntil([&] { return !run.statuses.empty(); }, kPatience));
    loop.RunOnce(milliseconds(0));
    EXPECT_EQ(run.statuses, std::vector<std::int32_t>{6});
    EXPECT_EQ(run.error_message, "R could not be started: " + c[3]);
    EXPECT_EQ(run.runner->ProcessGroup(), -1);
  }
}

TEST(RProcessTest, StopRunEndsRAndEveryProcessOfItsGroup) {
  TempDir area;
  EventLoop loop;
  TrackedRun run(loop, area / "stop");
  // A child that ignores SIGTERM: only the SIGKILL after R's end takes it.
  run.Start("system(\"trap '' TERM; exec sleep 300\", wait=FALSE)\n"
            "file.create('started')\nSys.sleep(300)\n");
  ASSERT_TRUE(run.Await(loop, "started"));
  const pid_t group = run.runner->ProcessGroup();
  ASSERT_GT(group, 0);
  // The background child may still be on its way when R has gone on.
  for (int i = 0; i < 100 && LiveProcessesInGroup(group) < 2; ++i) loop.RunOnce(milliseconds(50));
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
  EventLoop loop;
  TrackedRun run(loop, area / "stubborn run");
  run.runner->SetStopGrace(milliseconds(50));
  run.Start("", Engine(area, "stubborn", "#!/bin/sh\ntrap '' TERM\ntouch started\n"
                                         "while :; do sleep 1; done\n"));
  ASSERT_TRUE(run.Await(loop, "started"));
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
  WriteFile(area / "in.r", "");
  runner->Run(Engine(area, "quick", "#!/bin/sh\nexit 0\n"), area.path(), area / "in.r",
              area / "log.r");
  ASSERT_TRUE(loop.RunUntil([&] { return runner == nullptr; }, kPatience));
  EXPECT_EQ(statuses, std::vector<std::int32_t>{1});
}

TEST(RProcessTest, DestroyingARunnerKillsItsProcessAndDeliversNothing) {
  TempDir area;
  EventLoop loop;
  auto run = std::make_unique<TrackedRun>(loop, area / "sleep");
  bool delivered = false;
  run->runner->SetRunFinishedHandler([&](std::int32_t) { delivered = true; });
  run->Start("", Engine(area, "sleeper", "#!/bin/sh\ntouch started\nsleep 300\n"));
  ASSERT_TRUE(run->Await(loop, "started"));
  const pid_t group = run->runner->ProcessGroup();
  run->runner.reset();
  EXPECT_EQ(LiveProcessesAfterKill(loop, group), 0);
  while (loop.RunOnce(milliseconds(0))) {
  }
  EXPECT_FALSE(delivered);
}

TEST(ShellCommandLineTest, QuotesWhatAShellWouldSplit) {
  EXPECT_EQ(ShellCommandLine({"/usr/bin/R", "--no-save", "-f", "/tmp/x/in.r"}),
            "/usr/bin/R --no-save -f /tmp/x/in.r");
  EXPECT_EQ(ShellCommandLine({"/opt/my R/R", "-f", "it's $HOME", ""}),
            "'/opt/my R/R' -f 'it'\\''s $HOME' ''");
}

}  // namespace
}  // namespace pramble::sqlhost
