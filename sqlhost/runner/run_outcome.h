// How a run of R ended, as the engine status and the runner's ErrorMessage
// that PosixRProcess reports: decided from facts alone (how the process
// ended, whether a stop was asked for, what the log holds, whether the disk
// is full), so that the decision is tested without starting a process. The
// statuses and messages are listed in docs/engine-status.md.
//
//   RunEnd end{RunEnd::How::kExited, 0};
//   end.log_reports_warnings = true;
//   DecideRunOutcome(end)  // {2, ""}
#pragma once

#include <cstdint>
#include <string>

namespace pramble::sqlhost {

struct RunEnd {
  enum class How {
    kNotStarted,  // R could not be started; `start_failure` says why
    kWaitFailed,  // the end of R could not be awaited; `value` is the errno
    kExited,      // R exited; `value` is its exit status
    kSignaled,    // a signal ended R; `value` is the signal
    kOther,       // any other end; `value` is the wait status
  };
  How how = How::kExited;
  int value = 0;
  std::string start_failure;
  // StopRun was called before the end was delivered.
  bool stop_requested = false;
  // The log holds R's warning header ("Warning message:" or "Warning
  // messages:"); looked for after an exit with status 0.
  bool log_reports_warnings = false;
  // The folder of the log when its file system has no room left, else "";
  // looked at after an exit.
  std::string full_folder;
};

struct RunOutcome {
  std::int32_t status = 0;  // the engine status of the run's end
  std::string message;      // the runner's ErrorMessage
};

RunOutcome DecideRunOutcome(const RunEnd& end);

// "signal 9 (Killed)".
std::string SignalText(int signal);

}  // namespace pramble::sqlhost
