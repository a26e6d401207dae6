// The interfaces through which a host drives an analysis engine
// (INEngineInterface) and hears from it (NEngineNotify).
//
// Item status values published through NEngineNotify::StatusChanged and on the
// item itself: 0 not run, 1 finished, 2 finished with warnings, 3 finished with
// errors, 6 preparing, 7 engine running, 8 reading results, 9 stopping.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pramble {

namespace host {
class ProjectDatabase;
}

// Item status values.
enum ItemStatus : std::int32_t {
  kStatusNotRun = 0,
  kStatusFinished = 1,
  kStatusFinishedWithWarnings = 2,
  kStatusFinishedWithErrors = 3,
  kStatusPreparing = 6,
  kStatusEngineRunning = 7,
  kStatusReadingResults = 8,
  kStatusStopping = 9,
};

class NEngineNotify {
 public:
  virtual ~NEngineNotify() = default;
  virtual void StatusChanged(std::int32_t status) = 0;
  virtual void ItemFinished() = 0;
};

class INEngineInterface {
 public:
  virtual ~INEngineInterface() = default;
  virtual std::shared_ptr<host::ProjectDatabase> INEngineInterface_ProjectDatabase() const = 0;
  virtual void INEngineInterface_ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project) = 0;
  virtual std::shared_ptr<pramble::NEngineNotify> INEngineInterface_NEngineNotify() const = 0;
  virtual void INEngineInterface_NEngineNotify(std::shared_ptr<pramble::NEngineNotify> notify) = 0;
  virtual std::string INEngineInterface_Log() const = 0;
  virtual bool INEngineInterface_RunItem(std::int32_t id, const std::string& parameters = "") = 0;
  virtual bool INEngineInterface_StopItemRun() = 0;
  virtual bool INEngineInterface_ResetItem(std::int32_t id, const std::string& parameters = "") = 0;
};

}  // namespace pramble
