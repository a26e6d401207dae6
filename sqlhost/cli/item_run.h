// Running one analysis item through the engine object until the run has
// ended, as `pramble run` and `pramble demo` do, and turning the errors that
// reach a command into a message and an exit code. What the engine publishes
// and logs is described in docs/engine.md.
//
//   auto project = sqlhost::Project::Open(dir);
//   const ItemRunResult r = RunItemToEnd(project, 12, on_status, on_log);
//   return ExitCodeOfFinalStatus(r.final_status);
#pragma once

#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "sqlhost/cli/exit_codes.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/project.h"
#include "sqlhost/project/project_error.h"
#include "sqlhost/runner/r_library_lock.h"
#include "pramble/component_error.h"

namespace pramble::cli {

// ComponentError number of "Cannot find item '<ID>'."
inline constexpr std::int32_t kCannotFindItem = -2147221504 + 7951;

struct ItemRunResult {
  std::int32_t final_status = -1;  // the item's status once the run has ended; -1: item gone
  bool stop_requested = false;     // a signal asked the run to stop
};

// Runs item `id` of `project` with a fresh engine object, on this thread,
// with an event loop and the host's default services of its own, and returns
// once the run has ended (the engine called ItemFinished, or RunItem answered
// False). `on_status` sees every status the engine publishes. SIGINT or
// SIGTERM while the run goes on calls StopItemRun (the first signal only).
// `on_log` receives the engine's log when the run has ended, and also when
// the engine or the host throws; the exception then goes on to the caller.
ItemRunResult RunItemToEnd(const std::shared_ptr<sqlhost::Project>& project, std::int32_t id,
                           const std::function<void(std::int32_t)>& on_status,
                           const std::function<void(const std::string&)>& on_log);

// Writes the note of a command that waits for the R library's lock
// (RLibraryLock) to standard error.
sqlhost::RLibraryLock::WaitHandler LibraryWaitNote(const std::string& command);

// The exit code of `pramble run` for an item's final status: 0 for 1 and 2,
// 1 for 3, 2 for 0 (stopped), 70 otherwise.
int ExitCodeOfFinalStatus(std::int32_t status);

inline int ExitCodeOf(const sqlhost::ProjectError& e) {
  return e.kind() == sqlhost::ProjectError::Kind::kMissing ? kExitNoInput : kExitBadInput;
}

// Runs `body` (which answers an exit code) and turns the errors that reach
// the command into a message on standard error and an exit code.
template <typename Body>
int Guarded(const std::string& command, Body body) {
  try {
    return body();
  } catch (const ComponentError& e) {
    std::cerr << e.source() << " (" << e.number() << "): " << e.description() << "\n";
    return e.number() == kCannotFindItem ? kExitNoInput : kExitComponentError;
  } catch (const sqlhost::ProjectError& e) {
    std::cerr << "pramble " << command << ": " << e.what() << "\n";
    return ExitCodeOf(e);
  } catch (const host::HostError& e) {
    std::cerr << "pramble " << command << ": error (" << e.number() << "): " << e.what() << "\n";
    return kExitComponentError;
  }
}

}  // namespace pramble::cli
