// CClsDatabaseInterface, first half: the properties and the preparation of a
// run (definitions, what to do, survey configuration, command folder, and the
// two file makers).
#include <exception>

#include "data_files/c_cls_data_file_maker.h"
#include "database_interface/c_cls_database_interface.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/dao.h"
#include "pramble/host/errors.h"
#include "pramble/host/project_database.h"
#include "pramble/host/services.h"
#include "pramble/host/value.h"
#include "pramble/input_file_maker.h"

namespace pramble {
CClsDatabaseInterface::CClsDatabaseInterface() = default;
CClsDatabaseInterface::~CClsDatabaseInterface() = default;

void CClsDatabaseInterface::ProjectDatabase(
    std::shared_ptr<host::ProjectDatabase> New_ProjectDatabase) {
  mProjectDatabase = std::move(New_ProjectDatabase);
}

void CClsDatabaseInterface::BrowserItem(std::shared_ptr<host::BrowserItem> New_BrowserItem) {
  mBrowserItem = std::move(New_BrowserItem);
  mlngID = mBrowserItem ? mBrowserItem->ID() : 0;
}

std::string CClsDatabaseInterface::CmdFolder(bool IncludeLastSlash) const {
  if (!IncludeLastSlash) return mstrCmdFolder;
  return mstrCmdFolder + host::CurrentServices().Files().PathSeparator();
}

std::string CClsDatabaseInterface::InputFile() const { return mstrInputFile; }

std::string CClsDatabaseInterface::LogFile() const { return mstrLogFile; }

void CClsDatabaseInterface::DebugMode(bool New_DebugMode) { mblnDebugMode = New_DebugMode; }

bool CClsDatabaseInterface::MakeFiles() {
  try {
    host::Services& services = host::CurrentServices();
    if (!mProjectDatabase || !mBrowserItem)
      throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
    host::DefinitionRetrieval& definitions = services.Definitions();
    if (!definitions.GetSurveyDefinition(mstrSurveyDefinition, *mProjectDatabase, *mBrowserItem,
                                         RunLog()))
      return false;
    if (!definitions.GetDataFilterDefinition(mstrDataFilterDefinition, *mProjectDatabase,
                                             *mBrowserItem, RunLog()))
      return false;
    if (!definitions.GetModelDefinitionDefinition(mstrModelDefinitionDefinition,
                                                  *mProjectDatabase, *mBrowserItem, RunLog()))
      return false;

    bool blnRunDdf = false;
    bool blnRunDht = false;
    if (!GetWhatToDo(blnRunDdf, blnRunDht)) return false;
    bool blnIsSinglePlatform = false;
    if (!GetIsSinglePlatform(blnIsSinglePlatform)) return false;
    if (!CheckPassesEngineRestrictions(blnRunDdf, blnRunDht, blnIsSinglePlatform)) return false;

    host::FileSystem& files = services.Files();
    mstrCmdFolder = files.GetTempFolderName();
    if (mstrCmdFolder.empty()) {
      LogAdd("Could not obtain temporary folder name.", 2);
      return false;
    }
    if (!files.CreateFolder(mstrCmdFolder)) {
      LogAdd("Could not create temporary folder '" + mstrCmdFolder + "'.", 2);
      return false;
    }

    // The data file maker chooses its default file names in the folder.
    CClsDataFileMaker data_file_maker;
    data_file_maker.ProjectDatabase(mProjectDatabase);
    data_file_maker.ID(mlngID);
    data_file_maker.SurveyDefinition(mstrSurveyDefinition);
    data_file_maker.DataFilterDefinition(mstrDataFilterDefinition);
    data_file_maker.ModelDefinitionDefinition(mstrModelDefinitionDefinition);
    data_file_maker.CmdFolder(mstrCmdFolder);
    if (!data_file_maker.MakeFiles(blnRunDdf, blnRunDht, blnIsSinglePlatform)) return false;
    if (blnRunDdf) mstrDdfDataFile = data_file_maker.DdfDataFile();
    if (blnRunDht) {
      mstrRegionDataFile = data_file_maker.RegionDataFile();
      mstrSampleDataFile = data_file_maker.SampleDataFile();
      mstrObsDataFile = data_file_maker.ObsDataFile();
    }

    // The command file maker chooses its own command, log, results and stats
    // file names in the folder.
    CClsInputFileMaker input_file_maker;
    input_file_maker.ProjectDatabase(mProjectDatabase);
    input_file_maker.ID(mlngID);
    input_file_maker.SurveyDefinition(mstrSurveyDefinition);
    input_file_maker.DataFilterDefinition(mstrDataFilterDefinition);
    input_file_maker.ModelDefinitionDefinition(mstrModelDefinitionDefinition);
    input_file_maker.CmdFolder(mstrCmdFolder);
    if (blnRunDdf) input_file_maker.DdfDataFile(mstrDdfDataFile);
    if (blnRunDht) {
      input_file_maker.RegionDataFile(mstrRegionDataFile);
      input_file_maker.SampleDataFile(mstrSampleDataFile);
      input_file_maker.ObsDataFile(mstrObsDataFile);
      input_file_maker.DistanceMeasureUnits(data_file_maker.DistanceMeasureUnits());
      input_file_maker.EffortMeasureUnits(data_file_maker.EffortMeasureUnits());
      input_file_maker.AreaMeasureUnits(data_file_maker.AreaMeasureUnits());
    }
    if (!input_file_maker.MakeFile(blnRunDdf, blnRunDht)) return false;
    mstrInputFile = input_file_maker.InputFile();
    mstrLogFile = input_file_maker.LogFile();
    mstrResultsFile = input_file_maker.ResultsFile();
    mstrStatsFile = input_file_maker.StatsFile();

    if (mblnDebugMode) {
      std::string strPath = files.GetDisplayPath(mstrCmdFolder, "");
      if (strPath.empty()) strPath = mstrCmdFolder;
      LogAdd("Debug mode: R commands folder '" + strPath + "' will not be deleted.", 0);
    }
    return true;
  } catch (...) {
    LogAdd("Encountered an error while trying to make the input or data files", 2);
    return false;
  }
}

bool CClsDatabaseInterface::GetWhatToDo(bool& blnRunDdf, bool& blnRunDht) {
  try {
    host::DefinitionReader& reader = host::CurrentServices().Reader();
    // "Detection" may also name another item's detection function by number:
    // only "T" fits one in this run.
    const host::Command density = reader.GetCommand(mstrModelDefinitionDefinition, "Density");
    blnRunDht = density.found && host::EqualsNoCase(density.value, "T");
    const host::Command detection =
        reader.GetCommand(mstrModelDefinitionDefinition, "Detection");
    blnRunDdf = detection.found && host::EqualsNoCase(detection.value, "T");
    return true;
  } catch (...) {
    LogErrorSource("DatabaseInterface.GetWhatToDo");
    return false;
  }
}

bool CClsDatabaseInterface::GetIsSinglePlatform(bool& blnIsSinglePlatform) {
  try {
    const host::Command configuration =
        host::CurrentServices().Reader().GetCommand(mstrSurveyDefinition, "Configuration");
    if (!configuration.found) {
      LogAdd("Could not find 'Configuration' command in the survey definition.", 2);
      return false;
    }
    blnIsSinglePlatform = host::EqualsNoCase(configuration.value, "s");
    return true;
  } catch (...) {
    LogErrorSource("DatabaseInterface.GetIsSinglePlatform");
    return false;
  }
}

}  // namespace pramble
