// QuoxNEngineInterface: the analysis engine for double-observer (mark-
// recapture) line-transect distance sampling. A host creates it, gives it the
// project and a notifier, and runs, stops or resets analysis items by ID.
//
//   auto engine = std::make_shared<pramble::QuoxNEngineInterface>();
//   engine->ProjectDatabase(project);   // a host::ProjectDatabase
//   engine->NEngineNotify(notify);      // optional
//   if (engine->RunItem(12)) {
//     // R runs; the host's event loop later delivers the end of the run,
//     // which stores the results and calls notify->ItemFinished().
//   }
//   std::string log = engine->Log();
//
// RunItem answers True when R was started, False when the run ended at once
// (the item then already has its final status 0 to 3). A missing project or
// an unknown item raises pramble::ComponentError (component_error.h).
//
// Thread-safety: the object is used on one thread, the one that runs the
// host's event loop; the host's services (sqlhost/services.h) must be installed
// on it. The host must not call RunItem again before the previous run has
// ended (ItemFinished).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pramble/component_error.h"
#include "pramble/engine_interface.h"

namespace pramble {

class CClsDatabaseInterface;
namespace host {
class BrowserItem;
class RProcess;
}  // namespace host

class QuoxNEngineInterface : public INEngineInterface {
 public:
  QuoxNEngineInterface();
  ~QuoxNEngineInterface() override;
  QuoxNEngineInterface(const QuoxNEngineInterface&) = delete;
  QuoxNEngineInterface& operator=(const QuoxNEngineInterface&) = delete;

  std::shared_ptr<host::ProjectDatabase> ProjectDatabase() const;
  void ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project);
  std::shared_ptr<pramble::NEngineNotify> NEngineNotify() const;
  void NEngineNotify(std::shared_ptr<pramble::NEngineNotify> notify);
  // The log of the last run or reset on this thread ("" before any).
  std::string Log() const;

  bool RunItem(std::int32_t ID, const std::string& Parameters = "");
  // Always False.
  bool StopItemRun();
  // True when the item's results, statistics and plot files were removed.
  bool ResetItem(std::int32_t ID, const std::string& Parameters = "");

  // INEngineInterface: each forwards to the member of the same name.
  std::shared_ptr<host::ProjectDatabase> INEngineInterface_ProjectDatabase() const override;
  void INEngineInterface_ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project) override;
  std::shared_ptr<pramble::NEngineNotify> INEngineInterface_NEngineNotify() const override;
  void INEngineInterface_NEngineNotify(std::shared_ptr<pramble::NEngineNotify> notify) override;
  std::string INEngineInterface_Log() const override;
  bool INEngineInterface_RunItem(std::int32_t id, const std::string& parameters = "") override;
  bool INEngineInterface_StopItemRun() override;
  bool INEngineInterface_ResetItem(std::int32_t id, const std::string& parameters = "") override;

 private:
  void GetBrowserItem();
  void FinishRun(std::int32_t& EngineStatus);
  void PublishStatus(std::int32_t status);
  // Handler of mclsRProcess's RunFinished event.
  void mclsRProcess_RunFinished(std::int32_t EngineStatus);

  std::shared_ptr<host::ProjectDatabase> mProjectDatabase;
  std::shared_ptr<pramble::NEngineNotify> mNEngineNotify;
  std::int32_t mlngID = 0;
  std::shared_ptr<host::BrowserItem> mBrowserItem;
  bool mblnStopRequested = false;
  std::unique_ptr<CClsDatabaseInterface> mclsDatabaseInterface;
  bool mblnDebugMode = false;
  std::unique_ptr<host::RProcess> mclsRProcess;
};

}  // namespace pramble
