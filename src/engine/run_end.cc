// QuoxNEngineInterface: the end of a run in every case (the runner's
// RunFinished and the early exits of RunItem), stop and reset.
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

namespace pramble {

void QuoxNEngineInterface::mclsRProcess_RunFinished(std::int32_t EngineStatus) {
  const std::string strCommandLine = mclsRProcess->CommandLine();
  if (!strCommandLine.empty())
    LogAdd("Engine started with the following command:\r\n " + strCommandLine, 0);
  const std::string strError = mclsRProcess->ErrorMessage();
  if (!strError.empty()) LogAdd(strError, 2);
  FinishRun(EngineStatus);
}

void QuoxNEngineInterface::FinishRun(std::int32_t& EngineStatus) {
  // No further events arrive from a released runner. The runner allows its
  // release from inside its own RunFinished.
  mclsRProcess.reset();

  // Stopped is valid only after a stop was requested.
  if ((EngineStatus == host::kEngineStopped && !mblnStopRequested) ||
      EngineStatus < host::kEngineStopped || EngineStatus > host::kEngineNotStarted) {
    LogAdd("Analysis engine terminated unexpectedly (with error code " +
               std::to_string(EngineStatus) + ").",
           2);
    EngineStatus = host::kEngineEndedAbnormally;
  }

  PublishStatus(kStatusReadingResults);
  if (!mclsDatabaseInterface->SaveResults(EngineStatus))
    EngineStatus = host::kEngineEndedAbnormally;
  mclsDatabaseInterface.reset();

  std::int32_t lngItemStatus;
  switch (EngineStatus) {
    case host::kEngineStopped: lngItemStatus = kStatusNotRun; break;
    case host::kEngineFinished: lngItemStatus = kStatusFinished; break;
    case host::kEngineFinishedWithWarnings: lngItemStatus = kStatusFinishedWithWarnings; break;
    default: lngItemStatus = kStatusFinishedWithErrors; break;
  }
  if (lngItemStatus != kStatusFinishedWithErrors) {
    const std::int32_t lngSeverity = gLog ? gLog->Severity() : 0;
    if (lngItemStatus == kStatusFinishedWithWarnings) {
      if (lngSeverity == 3) lngItemStatus = kStatusFinishedWithErrors;
    } else if (lngSeverity == 1) {
      lngItemStatus = kStatusFinishedWithWarnings;
    } else if (lngSeverity == 2) {
      lngItemStatus = kStatusFinishedWithErrors;
    }
  }

  mBrowserItem->SetStatus(lngItemStatus);
  if (lngItemStatus == kStatusNotRun) mBrowserItem->SetRunDate(host::Date{});
  mProjectDatabase->NotifyItemChanged();
  if (mNEngineNotify) mNEngineNotify->StatusChanged(lngItemStatus);
  if (mNEngineNotify) mNEngineNotify->ItemFinished();
}

bool QuoxNEngineInterface::StopItemRun() {
  // Before any run or reset there is no item to mark and nothing to stop.
  if (!mBrowserItem) return false;
  if (!gLog) {
    gLog = host::CurrentServices().NewLog();
    gLog->SetTimeStamp(host::ToBool(mProjectDatabase->Settings().GetSetting(
        host::kSettingScopeProject, host::kSettingBoolean, "AnalysisDetails", "TimeStampLog",
        host::Value{false})));
  }
  PublishStatus(kStatusStopping);
  LogAdd("Stopping the run", 0);
  // Set before StopRun, so that a RunFinished delivered during it sees the stop.
  mblnStopRequested = true;
  if (mclsDatabaseInterface) mclsDatabaseInterface->StopProcessing();
  if (mclsRProcess) mclsRProcess->StopRun();
  return false;
}

bool QuoxNEngineInterface::ResetItem(std::int32_t ID, const std::string& /*Parameters*/) {
  bool blnResult = false;
  try {
    gLog.reset();
    gLog = host::CurrentServices().NewLog();
    if (!mProjectDatabase) throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
    gLog->SetTimeStamp(host::ToBool(mProjectDatabase->Settings().GetSetting(
        host::kSettingScopeProject, host::kSettingBoolean, "AnalysisDetails", "TimeStampLog",
        host::Value{false})));
    mlngID = ID;
    GetBrowserItem();
    mclsDatabaseInterface = std::make_unique<CClsDatabaseInterface>();
    mclsDatabaseInterface->ProjectDatabase(mProjectDatabase);
    mclsDatabaseInterface->BrowserItem(mBrowserItem);
    mclsDatabaseInterface->ResetResults();
    mBrowserItem->SetRunDate(host::Date{});
    PublishStatus(kStatusNotRun);
    blnResult = true;
  } catch (...) {
    LogAdd("Reset item failed", 2);
  }
  try {
    if (mNEngineNotify) mNEngineNotify->ItemFinished();
  } catch (...) {
  }
  return blnResult;
}

}  // namespace pramble
