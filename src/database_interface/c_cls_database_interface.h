// CClsDatabaseInterface: everything one run (or one reset) of one analysis
// item does to the host's project. The engine object creates one per run,
// configures it and calls, in this order:
//
//   ProjectDatabase(project); BrowserItem(item); DebugMode(debug);
//   MakeFiles();                      // definitions, restrictions, folder, files
//   ... InputFile(), LogFile() ...    // the engine starts R on these
//   SaveResults(engine_status);       // after R ended: log, results, statistics
//
// A reset uses a fresh instance with only ProjectDatabase and BrowserItem set
// and calls ResetResults(). Every operation reports its trouble in the thread's
// global log (gLog) and answers False; none raises to the engine, except that
// SaveResults lets a failure to reach the project database through.
//
// The files a run leaves and reads are described in docs/engine.md.
//
// Thread-safety: one instance is used on one thread, with the host's services
// installed on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pramble {

namespace host {
class ProjectDatabase;
class BrowserItem;
namespace dao {
class Database;
class Recordset;
}  // namespace dao
}  // namespace host

class CClsDatabaseInterface {
 public:
  CClsDatabaseInterface();
  ~CClsDatabaseInterface();
  CClsDatabaseInterface(const CClsDatabaseInterface&) = delete;
  CClsDatabaseInterface& operator=(const CClsDatabaseInterface&) = delete;

  void ProjectDatabase(std::shared_ptr<host::ProjectDatabase> New_ProjectDatabase);
  // Also takes the item's ID (0 for a null item).
  void BrowserItem(std::shared_ptr<host::BrowserItem> New_BrowserItem);
  // The run's command folder, with a trailing "/" when asked for ("" before MakeFiles).
  std::string CmdFolder(bool IncludeLastSlash = false) const;
  std::string InputFile() const;
  std::string LogFile() const;
  void DebugMode(bool New_DebugMode);

  // Fetches the definitions, decides what to do, checks the engine's
  // restrictions, creates the command folder and has the data files and the R
  // command file written. True when all of them are written. Called once.
  bool MakeFiles();

  // Stores the run's output and log in the results table, the statistics on
  // the item, and removes the command folder (kept in debug mode). May raise
  // udtEngineStatus to 3 when the R log reports an error. True when the row
  // was stored.
  bool SaveResults(std::int32_t& udtEngineStatus);

  // Deletes the item's results row, statistics and plot files. True unless
  // something other than the results row failed.
  bool ResetResults();

  // Notes that the host asked for a stop; the run itself is stopped by the
  // engine object and the process runner.
  void StopProcessing();

 private:
  bool GetWhatToDo(bool& blnRunDdf, bool& blnRunDht);
  bool GetIsSinglePlatform(bool& blnIsSinglePlatform);
  bool CheckPassesEngineRestrictions(bool blnRunDdf, bool blnRunDht, bool& blnIsSinglePlatform);
  bool OpenQuoxResultsTable();
  void DeleteCmdFolder();
  bool SaveStatsFileContents(const std::string& strFileName);
  bool DeletePlotFiles();

  std::shared_ptr<host::ProjectDatabase> mProjectDatabase;
  std::shared_ptr<host::BrowserItem> mBrowserItem;
  bool mblnDebugMode = false;
  std::int32_t mlngID = 0;
  std::string mstrCmdFolder;
  std::string mstrDdfDataFile;
  std::string mstrRegionDataFile;
  std::string mstrSampleDataFile;
  std::string mstrObsDataFile;
  std::string mstrInputFile;
  std::string mstrLogFile;
  std::string mstrResultsFile;
  std::string mstrStatsFile;
  std::string mstrSurveyDefinition;
  std::string mstrDataFilterDefinition;
  std::string mstrModelDefinitionDefinition;

  host::dao::Database* mdbProject = nullptr;  // owned by mProjectDatabase
  std::unique_ptr<host::dao::Recordset> mrsResults;
  bool mblnStopProcessing = false;
};

}  // namespace pramble
