// QuoxNEngineInterface: the object, its properties, the start of a run up to
// the launch of R, and the lookup of the item. The end of a run, stop and
// reset are in run_end.cc. Status values and the order of calls a host sees
// are described in docs/engine.md.
#include <chrono>
#include <string>

#include "database_interface/c_cls_database_interface.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/errors.h"
#include "pramble/host/project_database.h"
#include "pramble/host/r_process.h"
#include "pramble/host/services.h"
#include "pramble/host/value.h"
#include "pramble/quox_n_engine_interface.h"
#include "resources/string_table.h"

namespace pramble {

QuoxNEngineInterface::QuoxNEngineInterface() = default;

// Destroying a runner whose process still runs ends the process; no event
// arrives afterwards.
QuoxNEngineInterface::~QuoxNEngineInterface() = default;

std::shared_ptr<host::ProjectDatabase> QuoxNEngineInterface::ProjectDatabase() const {
  return mProjectDatabase;
}

void QuoxNEngineInterface::ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project) {
  mProjectDatabase = std::move(project);
}

std::shared_ptr<pramble::NEngineNotify> QuoxNEngineInterface::NEngineNotify() const {
  return mNEngineNotify;
}

void QuoxNEngineInterface::NEngineNotify(std::shared_ptr<pramble::NEngineNotify> notify) {
  mNEngineNotify = std::move(notify);
}

std::string QuoxNEngineInterface::Log() const { return gLog ? gLog->Contents() : std::string(); }

bool QuoxNEngineInterface::RunItem(std::int32_t ID, const std::string& /*Parameters*/) {
  gLog.reset();
  gLog = host::CurrentServices().NewLog();
  // The host keeps the engine object across runs: a stop of an earlier run
  // must not end this one. A stop arriving while this run prepares its files
  // still ends it.
  mblnStopRequested = false;
  if (!mProjectDatabase) ReportError(kResProjectDatabaseNotSet, "QuoxNEngineInterface.RunItem");

  gLog->SetTimeStamp(host::ToBool(mProjectDatabase->Settings().GetSetting(
      host::kSettingScopeProject, host::kSettingBoolean, "AnalysisDetails", "TimeStampLog",
      host::Value{false})));

  mlngID = ID;
  GetBrowserItem();

  mblnDebugMode = host::ToBool(
      mProjectDatabase->Settings().GetSetting(host::kSettingScopeProject, host::kSettingBoolean,
                                              "AnalysisDetails", "DebugMode", host::Value{false}));
  if (mblnDebugMode)
    LogAdd("Running in debug mode: input files will be generated but analysis will not be run.",
           1);

  mBrowserItem->SetRunDate(std::chrono::system_clock::now());
  PublishStatus(kStatusPreparing);
  LogAdd("Initializing", 0);

  mclsDatabaseInterface = std::make_unique<CClsDatabaseInterface>();
  mclsDatabaseInterface->ProjectDatabase(mProjectDatabase);
  mclsDatabaseInterface->BrowserItem(mBrowserItem);
  mclsDatabaseInterface->DebugMode(mblnDebugMode);
  std::int32_t lngEngineStatus;
  if (!mclsDatabaseInterface->MakeFiles()) {
    lngEngineStatus = host::kEngineNotStarted;
    FinishRun(lngEngineStatus);
    return false;
  }
  if (mblnStopRequested) {
    lngEngineStatus = host::kEngineStopped;
    FinishRun(lngEngineStatus);
    return false;
  }
  if (mblnDebugMode) {
    // The command and data files stay in the command folder.
    lngEngineStatus = host::kEngineFinishedWithWarnings;
    FinishRun(lngEngineStatus);
    return false;
  }

  mclsRProcess = host::CurrentServices().NewRProcess();
  mclsRProcess->SetRunFinishedHandler(
      [this](std::int32_t EngineStatus) { mclsRProcess_RunFinished(EngineStatus); });
  const std::string strEnginePath = mclsRProcess->GetEnginePath(*mProjectDatabase);
  if (strEnginePath.empty()) {
    const std::string strError = mclsRProcess->ErrorMessage();
    if (!strError.empty()) LogAdd(strError, 2);
    lngEngineStatus = host::kEngineNotStarted;
    FinishRun(lngEngineStatus);
    return false;
  }

  PublishStatus(kStatusEngineRunning);
  const std::string strFolder = mProjectDatabase->GetProjectFolder(0);
  const std::string strInputFile = mclsDatabaseInterface->InputFile();
  const std::string strLogFile = mclsDatabaseInterface->LogFile();
  // Returns at once; the end of the engine arrives later as RunFinished.
  mclsRProcess->Run(strEnginePath, strFolder, strInputFile, strLogFile);
  return true;
}

void QuoxNEngineInterface::GetBrowserItem() {
  constexpr char kSource[] = "QuoxNEngineInterface.GetBrowserItem";
  std::int32_t lngIndex = 0;
  try {
    if (!mProjectDatabase) throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
    lngIndex = host::ToLong(host::Value{mProjectDatabase->Browsers().IndexOfItem(mlngID)});
  } catch (...) {
    ReportError(kErrUnexpected, kSource);
  }
  try {
    std::shared_ptr<host::BrowserItem> item =
        mProjectDatabase->Browsers().Item(lngIndex).Items().Item(mlngID);
    if (!item) throw host::HostError(host::kErrElementNotFound, "Element not found");
    mBrowserItem = std::move(item);
  } catch (...) {
    ReportError(kResCannotFindItem, kSource, std::to_string(mlngID));
  }
}

void QuoxNEngineInterface::PublishStatus(std::int32_t status) {
  mBrowserItem->SetStatus(status);
  mProjectDatabase->NotifyItemChanged();
  if (mNEngineNotify) mNEngineNotify->StatusChanged(status);
}

// INEngineInterface: each member forwards to the member of the same name.
std::shared_ptr<host::ProjectDatabase> QuoxNEngineInterface::INEngineInterface_ProjectDatabase()
    const {
  return ProjectDatabase();
}
void QuoxNEngineInterface::INEngineInterface_ProjectDatabase(
    std::shared_ptr<host::ProjectDatabase> project) {
  ProjectDatabase(std::move(project));
}
std::shared_ptr<pramble::NEngineNotify> QuoxNEngineInterface::INEngineInterface_NEngineNotify()
    const {
  return NEngineNotify();
}
void QuoxNEngineInterface::INEngineInterface_NEngineNotify(
    std::shared_ptr<pramble::NEngineNotify> notify) {
  NEngineNotify(std::move(notify));
}
std::string QuoxNEngineInterface::INEngineInterface_Log() const { return Log(); }
bool QuoxNEngineInterface::INEngineInterface_RunItem(std::int32_t id,
                                                     const std::string& parameters) {
  return RunItem(id, parameters);
}
bool QuoxNEngineInterface::INEngineInterface_StopItemRun() { return StopItemRun(); }
bool QuoxNEngineInterface::INEngineInterface_ResetItem(std::int32_t id,
                                                       const std::string& parameters) {
  return ResetItem(id, parameters);
}

}  // namespace pramble
