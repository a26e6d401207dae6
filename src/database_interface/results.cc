// CClsDatabaseInterface: storing what a run left (R log, results text,
// statistics) in the project, and removing the command folder.
#include <algorithm>
#include <cctype>
#include <exception>

#include "database_interface/c_cls_database_interface.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/dao.h"
#include "pramble/host/errors.h"
#include "pramble/host/project_database.h"
#include "pramble/host/r_process.h"
#include "pramble/host/services.h"
#include "pramble/host/value.h"

namespace pramble {
namespace {

constexpr char kResultsTable[] = "AnalysisQuoxResults";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// Whether an echoed command prints one of the run's data tables, which the
// command file does when the data are to be echoed: "print(ddf.dat.12)".
bool PrintsDataTable(const std::string& command) {
  for (const char* stem : {"ddf.dat.", "region.dat.", "sample.dat.", "obs.dat."}) {
    if (StartsWith(command, (std::string("print(") + stem).c_str())) return true;
  }
  return false;
}

// R reports trouble in its console output with these words; any occurrence
// counts, even inside a warning or a longer word. What R only repeats is not
// its own report: the commands it echoes from the command file (after its
// prompt "> " or its continuation prompt "+ "), which name the command
// folder, and the data tables it prints on the command file's request, which
// hold the survey's labels. A line of such a table that begins with "Error"
// is R's own (printing failed), as a table's lines begin with a row name or
// blanks; so is R's closing "Execution halted".
bool LogReportsError(const std::string& r_log) {
  bool blnInDataTable = false;
  std::size_t start = 0;
  while (start < r_log.size()) {
    std::size_t end = r_log.find('\n', start);
    if (end == std::string::npos) end = r_log.size();
    std::string line = r_log.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == ">" || line == "+" || StartsWith(line, "> ") || StartsWith(line, "+ ")) {
      if (StartsWith(line, "> ")) blnInDataTable = PrintsDataTable(line.substr(2));
      continue;
    }
    if (blnInDataTable && !StartsWith(line, "Error") && !StartsWith(line, "Execution halted"))
      continue;
    const std::string lower = host::ToLowerAscii(line);
    if (lower.find("error") != std::string::npos ||
        lower.find("execution halted") != std::string::npos)
      return true;
  }
  return false;
}

// A run that R finished whose results or statistics were lost ends with
// warnings at least.
void MarkResultsLost(std::int32_t& udtEngineStatus) {
  if (udtEngineStatus == host::kEngineFinished) udtEngineStatus = host::kEngineFinishedWithWarnings;
}

}  // namespace

bool CClsDatabaseInterface::SaveResults(std::int32_t& udtEngineStatus) {
  // A project without its database is a failure of the caller's run.
  if (!mdbProject) {
    if (!mProjectDatabase) throw host::HostError(host::kErrObjectNotSet, "Object variable not set");
    mdbProject = &mProjectDatabase->Database();
  }
  host::Services& services = host::CurrentServices();
  host::FileSystem& files = services.Files();
  std::string strOutput;
  bool blnStatsSaved = false;

  // The row stored below replaces the item's earlier results; the statistics
  // go with it, so that none of an earlier run's values survive beside this
  // run's output.
  try {
    if (mBrowserItem) mBrowserItem->ClearStats();
  } catch (...) {
    LogAdd("Could not remove the statistics of the previous run of this analysis.", 1);
  }

  // In debug mode R never ran; a run that never started left no file.
  if (!mblnDebugMode && udtEngineStatus != host::kEngineNotStarted) {
    try {
      std::string strLog;
      if (!files.ReadTextFile(mstrLogFile, strLog)) {
        LogAdd("Analysis engine finished, but Corvane could not read the log file.", 1);
      } else {
        LogAdd("-- Start of Analyis Engine Log File --", 0);
        LogAdd(strLog, 0);
        LogAdd("-- End of Analyis Engine Log File --", 0);
        if (LogReportsError(strLog) && udtEngineStatus < host::kEngineReportedError)
          udtEngineStatus = host::kEngineReportedError;
      }
    } catch (...) {
      LogAdd("Engine finished, but Corvane could not read the log file.", 1);
    }

    LogAdd("Analysis engine status '" + services.Results().GetEngineStatusText(udtEngineStatus) +
               "'",
           0);

    if (udtEngineStatus >= host::kEngineFinished &&
        udtEngineStatus <= host::kEngineEndedAbnormally) {
      try {
        LogAdd("Reading Results", 0);
        if (!files.ReadTextFile(mstrResultsFile, strOutput)) {
          // A run that R finished cannot count as a clean finish without its
          // results: the message is a warning.
          LogAdd("Could not read the results file.  Results not saved.", 1);
          strOutput.clear();
          MarkResultsLost(udtEngineStatus);
        }
      } catch (...) {
        LogAdd("Encontered a problem reading either the output or plot file.  Results not saved.",
               1);
        strOutput.clear();
        MarkResultsLost(udtEngineStatus);
      }
    }

    if (udtEngineStatus == host::kEngineFinished ||
        udtEngineStatus == host::kEngineFinishedWithWarnings) {
      try {
        if (SaveStatsFileContents(mstrStatsFile)) {
          blnStatsSaved = true;
        } else {
          LogAdd("Could not read the stats file.  Results not saved.", 1);
          strOutput.clear();
          MarkResultsLost(udtEngineStatus);
        }
      } catch (...) {
        LogAdd("Encontered a problem reading the stats file.  Stats not saved.", 1);
        strOutput.clear();
        MarkResultsLost(udtEngineStatus);
      }
    }
  }
  if (mblnDebugMode || udtEngineStatus != host::kEngineNotStarted) LogAdd("Run finished", 0);

  // Plot files of an earlier run must not stand beside a run that stored no
  // statistics (stopped, never started, failed in R, results lost): they go
  // as a reset removes them. A run that stored its statistics has just
  // written its own plots over the earlier ones.
  if (!blnStatsSaved) {
    try {
      DeletePlotFiles();
    } catch (...) {
      LogAdd("Could not remove the plot files of an earlier run of this analysis.", 1);
    }
  }

  try {
    if (!OpenQuoxResultsTable()) {
      DeleteCmdFolder();
      return false;
    }
    // An absent setting stores plain texts.
    const host::Value level = mProjectDatabase->Settings().GetSetting(
        host::kSettingScopeProject, host::kSettingNumber, "General", "CompressionLevel");
    const std::int32_t lngCompressionLevel = host::IsNull(level) ? 0 : host::ToLong(level);

    mrsResults->Seek("=", host::Value{static_cast<std::int64_t>(mlngID)});
    if (mrsResults->NoMatch()) {
      mrsResults->AddNew();
      mrsResults->Fields("ID").SetValue(host::Value{static_cast<std::int64_t>(mlngID)});
    } else {
      mrsResults->Edit();
    }
    const std::string strLogContents = gLog ? gLog->Contents() : std::string();
    if (lngCompressionLevel > 0) {
      host::ResultsUtilities& results = services.Results();
      mrsResults->Fields("Log").SetValue(host::Value{results.CompressText(strLogContents)});
      mrsResults->Fields("Output").SetValue(host::Value{results.CompressText(strOutput)});
    } else {
      mrsResults->Fields("Log").SetValue(host::Value{strLogContents});
      mrsResults->Fields("Output").SetValue(host::Value{strOutput});
    }
    mrsResults->Update();
    mrsResults.reset();
  } catch (...) {
    // The final status 3 needs a reason the user can read. The command folder
    // stays, so that nothing R wrote is lost.
    LogAdd("Could not store the results of this analysis in the project database: " +
               GetCurrentError().description,
           2);
    mrsResults.reset();
    return false;
  }

  DeleteCmdFolder();
  return true;
}

bool CClsDatabaseInterface::OpenQuoxResultsTable() {
  bool blnTableExists = false;
  try {
    mdbProject->GetTableDef(kResultsTable);
    blnTableExists = true;
  } catch (...) {
    // Only means that the table is missing.
  }
  try {
    if (!blnTableExists) {
      host::ResultsUtilities& results = host::CurrentServices().Results();
      std::unique_ptr<host::dao::TableDef> tdf = mdbProject->CreateTableDef(kResultsTable);
      results.AddLongField(*tdf, "ID", 0, true);
      results.AddMemoField(*tdf, "Output", "\"\"", true);
      results.AddMemoField(*tdf, "Log", "\"\"", true);
      mdbProject->AppendTableDef(*tdf);
      results.AddPrimaryKey(*tdf, "ID", "", "");
    }
    mrsResults = mdbProject->OpenRecordset(kResultsTable, host::dao::kOpenTable);
    mrsResults->SetIndex("PrimaryKey");
    return true;
  } catch (...) {
    LogErrorSource("DatabaseInterface.OpenQuoxResultsTable");
    mrsResults.reset();
    return false;
  }
}

void CClsDatabaseInterface::DeleteCmdFolder() {
  // A run that failed before its folder was made has nothing to delete.
  if (mblnDebugMode || mstrCmdFolder.empty()) return;
  try {
    host::CurrentServices().Files().DeleteFolder(mstrCmdFolder, false);
  } catch (...) {
  }
}

}  // namespace pramble
