#include "sqlhost/runner/run_outcome.h"

#include <string.h>

#include <system_error>

#include "pramble/host/r_process.h"

namespace pramble::sqlhost {

std::string SignalText(int signal) {
  const char* description = ::sigdescr_np(signal);
  return "signal " + std::to_string(signal) +
         (description ? std::string(" (") + description + ")" : "");
}

RunOutcome DecideRunOutcome(const RunEnd& end) {
  RunOutcome outcome;
  switch (end.how) {
    case RunEnd::How::kNotStarted:
      outcome = {host::kEngineNotStarted, "R could not be started: " + end.start_failure};
      break;
    case RunEnd::How::kWaitFailed:
      outcome = {host::kEngineEndedAbnormally, "The end of R could not be awaited: " +
                        std::generic_category().message(end.value)};
      break;
    case RunEnd::How::kExited:
      if (end.value == 0)
        outcome.status = end.log_reports_warnings ? host::kEngineFinishedWithWarnings
                                                  : host::kEngineFinished;
      else if (end.value == 1)
        outcome.status = host::kEngineReportedError;
      else
        outcome = {host::kEngineEndedAbnormally, "R ended with exit status " + std::to_string(end.value) + "."};
      // R does not fail on a full disk: what it wrote may be cut short
      // although it ended as if all was well.
      if (!end.full_folder.empty() && outcome.status <= host::kEngineReportedError)
        outcome = {host::kEngineEndedAbnormally, "R ended, but the file system of the folder '" + end.full_folder +
                          "' is full: the log, results and statistics that R wrote there may "
                          "be cut short."};
      break;
    case RunEnd::How::kSignaled:
      outcome = {host::kEngineKilled, "R was ended by " + SignalText(end.value) + "."};
      break;
    case RunEnd::How::kOther:
      outcome = {host::kEngineEndedAbnormally, "R ended abnormally (wait status " + std::to_string(end.value) + ")."};
      break;
  }
  // A stopped run ends with 0; a start that failed keeps its message.
  if (end.stop_requested) {
    if (end.how != RunEnd::How::kNotStarted) outcome.message.clear();
    outcome.status = host::kEngineStopped;
  }
  return outcome;
}

}  // namespace pramble::sqlhost
