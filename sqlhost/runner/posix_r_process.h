// The host's process runner: starts R on a command file as a child process
// and reports its end, through the event loop, on the loop's thread.
//
// R is started without a shell as
//   <engine> --no-save --no-restore -f <command file>
// in the given folder, in a process group of its own, with standard input
// from /dev/null and standard output and error appended to the log file. Its
// environment is the host's, with R_LIBS_USER naming a writable library
// folder (so that install.packages(archive, repos=NULL) works without root)
// and LANGUAGE=en (so that R's messages are the English ones that the log
// scan looks for). A thread of the runner waits for the process and posts its
// end to the loop. Engine status values, messages and the library folder are
// described in docs/engine-status.md, section "The process runner".
//
// Thread-safety: every member is called on the loop's thread. The loop must
// outlive the runner. The runner may be destroyed at any time on that thread,
// from inside its own RunFinished handler too; a process still running then
// is killed, and no RunFinished follows.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pramble/host/project_database.h"
#include "pramble/host/r_process.h"
#include "sqlhost/runner/event_loop.h"
#include "sqlhost/runner/run_outcome.h"

namespace pramble::sqlhost {

class PosixRProcess : public host::RProcess {
 public:
  explicit PosixRProcess(EventLoop& loop);
  ~PosixRProcess() override;
  PosixRProcess(const PosixRProcess&) = delete;
  PosixRProcess& operator=(const PosixRProcess&) = delete;

  // The setting "R"/"EnginePath" when it is set (a path, or a name looked up
  // on the PATH), else "R" looked up on the PATH; the answer is a path. ""
  // when that is no executable file; ErrorMessage then says why and how to
  // set the setting.
  std::string GetEnginePath(host::ProjectDatabase& project) override;

  // Starts R and returns at once. A start that fails (a missing folder, a
  // log file that cannot be opened, a program that cannot be run) delivers
  // RunFinished(6) through the loop, with ErrorMessage saying why.
  // REQUIRES: called at most once per runner.
  void Run(const std::string& engine_path, const std::string& folder,
           const std::string& command_file, const std::string& log_file) override;

  // Sends SIGTERM to R's process group, and SIGKILL when it has not ended
  // after a grace period (3 s unless SetStopGrace says otherwise), and to
  // what is left of the group once R has ended. RunFinished(0) follows. Does nothing before Run or after the end
  // was delivered.
  void StopRun() override;

  std::string CommandLine() const override { return command_line_; }
  std::string ErrorMessage() const override { return error_message_; }
  void SetRunFinishedHandler(RunFinishedHandler handler) override {
    handler_ = std::move(handler);
  }

  // The process group of the running R (its process ID); -1 before Run or
  // when the start failed. For tests that check what is left behind.
  pid_t ProcessGroup() const;

  void SetStopGrace(std::chrono::milliseconds grace) { stop_grace_ = grace; }

 private:
  struct State;

  // Decides the run's outcome from `end` (run_outcome.h), with the stop
  // asked for until now, and calls the handler.
  static void Deliver(const std::shared_ptr<State>& state, PosixRProcess* runner, RunEnd end);
  void PostStartFailure(const std::string& message);

  EventLoop& loop_;
  std::shared_ptr<State> state_;
  std::thread waiter_;
  RunFinishedHandler handler_;
  std::string command_line_;
  std::string error_message_;
  bool run_called_ = false;
  std::chrono::milliseconds stop_grace_{3000};
};

// The folder given to R as R_LIBS_USER (created when missing): the
// environment variable PRAMBLE_R_LIBRARY when set; else "" when R_LIBS_USER
// is already set (it is then kept); else $XDG_DATA_HOME/pramble/R-library, or
// ~/.local/share/pramble/R-library.
std::string RLibraryFolder();

// `args` as a POSIX shell shows them: each quoted when it needs it.
std::string ShellCommandLine(const std::vector<std::string>& args);

}  // namespace pramble::sqlhost
