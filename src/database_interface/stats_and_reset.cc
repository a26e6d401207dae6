// CClsDatabaseInterface: the item's statistics and plot files, and the reset
// of an item's stored results. The statistics file format is described in
// docs/engine.md.
#include <regex>
#include <string>
#include <vector>

#include "database_interface/c_cls_database_interface.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/dao.h"
#include "pramble/host/errors.h"
#include "pramble/host/project_database.h"
#include "pramble/host/services.h"
#include "pramble/host/value.h"

namespace pramble {

bool CClsDatabaseInterface::SaveStatsFileContents(const std::string& strFileName) {
  std::unique_ptr<host::LineReader> reader;
  try {
    host::Services& services = host::CurrentServices();
    reader = services.Files().NewLineReader(strFileName);
    std::string strLine;
    while (reader->ReadLine(strLine)) {
      // A line that cannot be stored is skipped; the rest still are.
      try {
        const std::string strCode = strLine.substr(0, 4);
        if (!host::IsNumeric(strCode)) continue;
        const std::int32_t lngCode = host::ToLong(host::Value{strCode});
        const std::string strValue =
            services.Strings().NumericText(strLine.size() > 4 ? strLine.substr(4) : "");
        if (!host::IsNumeric(strValue)) continue;
        const float sngValue = host::ToSingle(host::Value{strValue});
        if (!mBrowserItem) throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
        mBrowserItem->SetStat(lngCode, sngValue);
      } catch (...) {
      }
    }
    reader->Close();
    return true;
  } catch (...) {
    LogErrorSource("DatabaseInterface.SaveStatsFileContents");
    if (reader) {
      try {
        reader->Close();
      } catch (...) {
      }
    }
    return false;
  }
}

bool CClsDatabaseInterface::DeletePlotFiles() {
  try {
    if (!mProjectDatabase) throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
    // The ID must not be preceded by a digit, or item 12 would take the plots
    // of item 112.
    const std::regex plot_name("(^|[^0-9])" + std::to_string(mlngID) +
                                   "\\.\\d+\\.(bmp|jpg|jpeg|gif|wmf|emf|png)",
                               std::regex::icase | std::regex::ECMAScript);
    host::FileSystem& files = host::CurrentServices().Files();
    const std::string strFolder = mProjectDatabase->GetProjectFolder(0);
    const std::string separator = files.PathSeparator();
    for (const std::string& name : files.ListFiles(strFolder)) {
      if (std::regex_search(name, plot_name)) files.DeleteFile(strFolder + separator + name);
    }
    return true;
  } catch (...) {
    ReportError(kErrUnexpected, "DatabaseInterface.DeletePlotFiles");
  }
}

bool CClsDatabaseInterface::ResetResults() {
  try {
    if (!mdbProject) {
      if (!mProjectDatabase)
        throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
      mdbProject = &mProjectDatabase->Database();
    }
    // The table does not exist before the first save; that is not a failure.
    try {
      mdbProject->Execute("DELETE * FROM AnalysisQuoxResults WHERE ID = " +
                          std::to_string(mlngID));
    } catch (...) {
    }
    if (!mBrowserItem) throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
    mBrowserItem->ClearStats();
    DeletePlotFiles();
    return true;
  } catch (...) {
    LogAdd("Encountered an error while trying to reset the results", 2);
    return false;
  }
}

void CClsDatabaseInterface::StopProcessing() { mblnStopProcessing = true; }

}  // namespace pramble
