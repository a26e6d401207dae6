// The process runner: starts R on a command file and reports its end.
//
// RunFinished delivers an engine status (EngineStatus below) once per Run, on
// the thread that owns the host's event loop (the engine object's thread),
// never from another thread, and never after the runner has been destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pramble::host {

class ProjectDatabase;

// Engine status values: how a run of R ended.
enum EngineStatus : std::int32_t {
  kEngineStopped = 0,               // stopped by StopRun
  kEngineFinished = 1,              // R ended normally
  kEngineFinishedWithWarnings = 2,  // R ended normally and reported warnings
  kEngineReportedError = 3,         // R stopped on an error (non-zero exit after
                                    // "Execution halted" or similar)
  kEngineEndedAbnormally = 4,       // R ended with another non-zero exit status
  kEngineKilled = 5,                // R was killed by a signal it was not sent by
                                    // StopRun (a crash)
  kEngineNotStarted = 6,            // R could not be started
};

class RProcess {
 public:
  using RunFinishedHandler = std::function<void(std::int32_t engine_status)>;

  virtual ~RProcess() = default;

  // The program to start R with: the setting "R"/"EnginePath" when set, else
  // R found on the PATH. "" when none is found; ErrorMessage then says why.
  virtual std::string GetEnginePath(ProjectDatabase& project) = 0;

  // Starts R on `command_file` in `folder`, console output to `log_file`,
  // and returns at once.
  virtual void Run(const std::string& engine_path, const std::string& folder,
                   const std::string& command_file, const std::string& log_file) = 0;

  // Ends the process and all its children; RunFinished(kEngineStopped) follows.
  virtual void StopRun() = 0;

  virtual std::string CommandLine() const = 0;   // "" before Run
  virtual std::string ErrorMessage() const = 0;  // "" when there is none

  // The event sink. Set before Run.
  virtual void SetRunFinishedHandler(RunFinishedHandler handler) = 0;
};

}  // namespace pramble::host
