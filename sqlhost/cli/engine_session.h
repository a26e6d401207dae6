// One engine object at work for a command, with what it needs around it:
// an event loop, the host's default services installed for this thread, and
// the project. `pramble run`, `reset` and `demo` each make one (the demo one
// per item). What the engine publishes and logs is described in
// docs/engine.md.
//
//   EngineSession session(project, "run");
//   const ItemRunResult r = session.RunItem(12, {.on_status = show, .lock_r_library = true});
//   return ExitCodeOfFinalStatus(r.final_status);
//
// Thread-safety: one thread, the one that made the session. The session
// ends the engine before its services, the services before the loop, and
// lets the R library's lock go last.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pramble/host/services.h"
#include "pramble/quox_n_engine_interface.h"
#include "sqlhost/project/project.h"
#include "sqlhost/runner/event_loop.h"
#include "sqlhost/runner/r_library_lock.h"
#include "sqlhost/services/default_services.h"

namespace pramble::cli {

struct ItemRunResult {
  std::int32_t final_status = -1;  // the item's status once the run has ended; -1: item gone
  bool stop_requested = false;     // a signal asked the run to stop
};

struct RunOptions {
  // Sees every status the engine publishes.
  std::function<void(std::int32_t)> on_status;
  // Receives the engine's log when the run has ended, and also when the
  // engine or the host throws; the exception then goes on to the caller.
  std::function<void(const std::string&)> on_log;
  // Hold the R library's lock (RLibraryLock) for the run, installing or
  // using as the project's next run will, with a note on standard error
  // while it waits.
  bool lock_r_library = false;
};

class EngineSession {
 public:
  // `command` names the command in the notes the session writes.
  EngineSession(std::shared_ptr<sqlhost::Project> project, std::string command);
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  QuoxNEngineInterface& engine() { return *engine_; }

  // Runs item `id` on this thread and returns once the run has ended (the
  // engine called ItemFinished, or RunItem answered False). SIGINT or
  // SIGTERM while the run goes on calls StopItemRun (the first signal only).
  ItemRunResult RunItem(std::int32_t id, const RunOptions& options);

  // The highest level that any log of the host's services has seen: the
  // engine answers True from ResetItem even when its log says that something
  // could not be deleted.
  std::int32_t LogSeverity() const;

 private:
  class LogWatchingServices;

  std::shared_ptr<sqlhost::Project> project_;
  std::string command_;
  // Held until the engine, and with it any R it started, has gone.
  sqlhost::RLibraryLock library_lock_;
  sqlhost::EventLoop loop_;
  sqlhost::DefaultServices host_services_;
  std::unique_ptr<LogWatchingServices> services_;
  std::unique_ptr<host::ScopedServices> installed_;
  std::shared_ptr<QuoxNEngineInterface> engine_;
};

}  // namespace pramble::cli
