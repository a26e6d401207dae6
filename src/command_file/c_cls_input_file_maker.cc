// CClsInputFileMaker: the object, the order of the pieces of the R command
// file, the package block at its top and the clean-up block at its end. The
// file is described in docs/command-file.md.
#include <string>
#include <utility>

#include "command_file/c_cls_input_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"
#include "pramble/host/errors.h"
#include "pramble/host/services.h"
#include "pramble/input_file_maker.h"

namespace pramble {

namespace {

// The engine name under which the host keeps the R package and its support file.
constexpr char kEngineName[] = "Quox";

// Default names of the files in the command folder.
constexpr char kInputFileName[] = "in.r";
constexpr char kLogFileName[] = "log.r";
constexpr char kResultsFileName[] = "res.r";
constexpr char kStatsFileName[] = "stat.r";

void SetDefault(std::string& path, const std::string& folder, const std::string& separator,
                const char* name) {
  if (path.empty()) path = folder + separator + name;
}

}  // namespace

// ---------------------------------------------------------------------------
// Properties.

CClsInputFileMaker::CClsInputFileMaker() : impl_(std::make_unique<Impl>()) {}
CClsInputFileMaker::~CClsInputFileMaker() = default;

void CClsInputFileMaker::ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project) {
  impl_->mclsProjectDatabase = std::move(project);
}
void CClsInputFileMaker::ID(std::int32_t id) { impl_->mlngID = id; }
void CClsInputFileMaker::SurveyDefinition(const std::string& text) {
  impl_->mstrSurveyDefinition = text;
}
void CClsInputFileMaker::DataFilterDefinition(const std::string& text) {
  impl_->mstrDataFilterDefinition = text;
}
void CClsInputFileMaker::ModelDefinitionDefinition(const std::string& text) {
  impl_->mstrModelDefinitionDefinition = text;
}
void CClsInputFileMaker::CmdFolder(const std::string& folder) { impl_->mstrCmdFolder = folder; }
void CClsInputFileMaker::DistanceMeasureUnits(const std::string& units) {
  impl_->mstrDistanceMeasureUnits = units;
}
void CClsInputFileMaker::EffortMeasureUnits(const std::string& units) {
  impl_->mstrEffortMeasureUnits = units;
}
void CClsInputFileMaker::AreaMeasureUnits(const std::string& units) {
  impl_->mstrAreaMeasureUnits = units;
}
std::string CClsInputFileMaker::InputFile() const { return impl_->mstrInputFile; }
void CClsInputFileMaker::InputFile(const std::string& path) { impl_->mstrInputFile = path; }
std::string CClsInputFileMaker::LogFile() const { return impl_->mstrLogFile; }
void CClsInputFileMaker::LogFile(const std::string& path) { impl_->mstrLogFile = path; }
std::string CClsInputFileMaker::ResultsFile() const { return impl_->mstrResultsFile; }
void CClsInputFileMaker::ResultsFile(const std::string& path) { impl_->mstrResultsFile = path; }
std::string CClsInputFileMaker::StatsFile() const { return impl_->mstrStatsFile; }
void CClsInputFileMaker::StatsFile(const std::string& path) { impl_->mstrStatsFile = path; }
void CClsInputFileMaker::DdfDataFile(const std::string& path) { impl_->mstrDdfDataFile = path; }
std::string CClsInputFileMaker::DdfDataFile() const { return impl_->mstrDdfDataFile; }
void CClsInputFileMaker::RegionDataFile(const std::string& path) {
  impl_->mstrRegionDataFile = path;
}
std::string CClsInputFileMaker::RegionDataFile() const { return impl_->mstrRegionDataFile; }
void CClsInputFileMaker::SampleDataFile(const std::string& path) {
  impl_->mstrSampleDataFile = path;
}
std::string CClsInputFileMaker::SampleDataFile() const { return impl_->mstrSampleDataFile; }
void CClsInputFileMaker::ObsDataFile(const std::string& path) { impl_->mstrObsDataFile = path; }
std::string CClsInputFileMaker::ObsDataFile() const { return impl_->mstrObsDataFile; }

bool CClsInputFileMaker::MakeFile(bool& blnRunDdf, bool& blnRunDht) {
  return impl_->MakeFile(blnRunDdf, blnRunDht);
}

// ---------------------------------------------------------------------------
// R object names.

std::string CClsInputFileMaker::Impl::GetDdfDataName(std::int32_t lngID) {
  return "ddf.dat." + std::to_string(lngID);
}
std::string CClsInputFileMaker::Impl::GetRegionDataName(std::int32_t lngID) {
  return "region.dat." + std::to_string(lngID);
}
std::string CClsInputFileMaker::Impl::GetSampleDataName(std::int32_t lngID) {
  return "sample.dat." + std::to_string(lngID);
}
std::string CClsInputFileMaker::Impl::GetObsDataName(std::int32_t lngID) {
  return "obs.dat." + std::to_string(lngID);
}
std::string CClsInputFileMaker::Impl::GetDdfName(std::int32_t lngID) {
  return "ddf." + std::to_string(lngID);
}
std::string CClsInputFileMaker::Impl::GetDdfSummaryName(std::int32_t lngID) {
  return std::string("ddf.") + "summary." + std::to_string(lngID);
}
std::string CClsInputFileMaker::Impl::GetDdfGofName(std::int32_t lngID) {
  return std::string("ddf.") + "gof." + std::to_string(lngID);
}
std::string CClsInputFileMaker::Impl::GetDhtName(std::int32_t lngID) {
  return "dht." + std::to_string(lngID);
}

// ---------------------------------------------------------------------------
// Helpers shared by the steps.

host::ProjectDatabase& CClsInputFileMaker::Impl::Project() const {
  if (!mclsProjectDatabase)
    throw host::HostError(host::kErrObjectNotSet, "Object variable or With block variable not set");
  return *mclsProjectDatabase;
}

bool CClsInputFileMaker::Impl::GetBoolSetting(const std::string& strSection,
                                              const std::string& strKey,
                                              const host::Value& varDefault) const {
  return host::ToBool(Project().Settings().GetSetting(
      host::kSettingScopeProject, host::kSettingBoolean, strSection, strKey, varDefault));
}

std::string CClsInputFileMaker::Impl::RPath(const std::string& path) {
  return host::CurrentServices().Strings().RPath(path);
}

std::string CClsInputFileMaker::Impl::SinkResultsLine() const {
  return "sink(file='" + RPath(mstrResultsFile) + "',append=T)";
}

// ---------------------------------------------------------------------------
// The layout.

bool CClsInputFileMaker::Impl::MakeFile(bool& blnRunDdf, bool& blnRunDht) {
  host::Services& services = host::CurrentServices();
  const std::string strSeparator = services.Files().PathSeparator();
  SetDefault(mstrInputFile, mstrCmdFolder, strSeparator, kInputFileName);
  SetDefault(mstrLogFile, mstrCmdFolder, strSeparator, kLogFileName);
  SetDefault(mstrResultsFile, mstrCmdFolder, strSeparator, kResultsFileName);
  SetDefault(mstrStatsFile, mstrCmdFolder, strSeparator, kStatsFileName);

  // A host that drives this class on its own may not have a run log yet; the
  // steps and the host utilities they call report into it.
  if (!gLog) gLog = services.NewLog();

  host::clsStringBuilder sb;
  if (!AppendLinkQuoxLibraryString(sb)) return false;

  bool blnPlotRequested = false;
  bool blnGofRequested = false;
  std::string strIntervals;
  if (blnRunDdf) {
    if (!AppendGetDdfDataString(sb)) return false;
    if (!AppendRunDdfString(sb, blnPlotRequested, blnGofRequested, strIntervals)) return false;
    if (!AppendOutputResultsString(sb, blnGofRequested, strIntervals)) return false;
    if (blnPlotRequested && !AppendOutputPlotString(sb, strIntervals)) return false;
    if (!AppendOutputDdfStatsString(sb, blnGofRequested)) return false;
  }
  if (blnRunDht) {
    if (!AppendGetDhtDataString(sb)) return false;
    if (!AppendRunDhtString(sb)) return false;
    if (!AppendOutputDhtStatsString(sb)) return false;
  }
  if (!AppendRemoveNewObjectsString(sb, blnRunDdf, blnRunDht, blnGofRequested)) return false;

  // R must not be started on a command file that is not there, nor have its
  // output appended to a stale log: a failed write fails the whole file.
  host::FileSystem& files = services.Files();
  if (!files.WriteTextFile(mstrInputFile, sb.Text())) {
    LogAdd("Could not write the R command file '" + mstrInputFile + "'.", 2);
    return false;
  }
  if (!files.WriteTextFile(mstrLogFile, "")) {
    LogAdd("Could not write the R log file '" + mstrLogFile + "'.", 2);
    return false;
  }
  return true;
}

bool CClsInputFileMaker::Impl::AppendLinkQuoxLibraryString(host::clsStringBuilder& sb) {
  try {
    host::ProjectDatabase& project = Project();
    // Only the first run after the setting was cleared (or never set)
    // installs the package unconditionally.
    const bool blnForceLoad = GetBoolSetting("R", "ForceLoadLibrary", host::Value(true));
    if (blnForceLoad)
      project.Settings().SaveSetting(host::kSettingScopeProject, host::kSettingBoolean, "R",
                                     "ForceLoadLibrary", host::Value(false));

    host::EngineUtilities& engine = host::CurrentServices().Engine();
    const std::string strPackageName =
        engine.GetEngineLibrary(kEngineName, project, RunLog(), false);
    const std::string strPackagePath =
        engine.GetEngineLibrary(kEngineName, project, RunLog(), true);

    if (!blnForceLoad) {
      // The guard ends in a blank before the line end; the install line below
      // is its indented body.
      sb.Append("if(sum(.packages(all=T)=='" + strPackageName + "')==0) " + "\r\n" + "  ", false);
    }
    sb.Append("install.packages('" + strPackagePath + "', repos=NULL)", true);
    sb.Append("library(" + strPackageName + ")", true);

    const std::string strSupportFile =
        engine.GetSupportFunctionsFile(kEngineName, project, RunLog(), true);
    if (strSupportFile.empty()) return false;

    sb.Append("source('" + strSupportFile + "')", true);
    sb.Append("file.create('" + RPath(mstrResultsFile) + "')", true);
    sb.Append("file.create('" + RPath(mstrStatsFile) + "')", true);
    sb.Append("", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendLinkQuoxLibraryString");
    return false;
  }
}

bool CClsInputFileMaker::Impl::AppendRemoveNewObjectsString(host::clsStringBuilder& sb,
                                                            bool blnRunDdf, bool blnRunDht,
                                                            bool blnGofRequested) {
  try {
    if (!GetBoolSetting("R", "RemoveNewObjects", host::Value(std::int64_t{-1}))) return true;
    if (blnRunDdf) {
      sb.Append("rm(" + GetDdfDataName(mlngID) + "," + GetDdfName(mlngID) + "," +
                    GetDdfSummaryName(mlngID) + ")",
                true);
      if (blnGofRequested) sb.Append("rm(" + GetDdfGofName(mlngID) + ")", true);
    }
    if (blnRunDht) {
      sb.Append("rm(" + GetRegionDataName(mlngID) + "," + GetSampleDataName(mlngID) + "," +
                    GetObsDataName(mlngID) + "," + GetDhtName(mlngID) + ")",
                true);
    }
    sb.Append("remove.quox.support.functions()", true);
    return true;
  } catch (...) {
    LogErrorSource("InputFileMaker.AppendRemoveNewObjectsString");
    return false;
  }
}

}  // namespace pramble
