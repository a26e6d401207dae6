// The data file maker object: its properties, MakeFiles and the orchestration
// step MakeDataQuery.
#include "data_files/c_cls_data_file_maker.h"

#include "data_files/data_file_maker_impl.h"
#include "errors/c_mod_error_handling.h"
#include "errors/c_mod_global.h"

namespace pramble {

host::ProjectDatabase& CClsDataFileMaker::Impl::Project() const {
  return Required(ProjectDatabase);
}

host::LayerCollection& CClsDataFileMaker::Impl::LayerList() const {
  if (Layers == nullptr)
    throw host::HostError(host::kErrObjectNotSet,
                          "Object variable or With block variable not set (Layers)");
  return *Layers;
}

host::dao::Database& CClsDataFileMaker::Impl::Data() const {
  if (DataDatabase == nullptr)
    throw host::HostError(host::kErrObjectNotSet,
                          "Object variable or With block variable not set (DataDatabase)");
  return *DataDatabase;
}

bool CClsDataFileMaker::Impl::SaveTempQuery(const std::string& suffix, const std::string& sql,
                                            bool flag) {
  return host::CurrentServices().Queries().MakeTempQuery(suffix, sql, ID, Data(), RunLog(), flag);
}

std::string CClsDataFileMaker::Impl::QueryName(const std::string& suffix_or_layer) const {
  return host::CurrentServices().Queries().GetTempQueryName(suffix_or_layer, ID);
}

std::string CClsDataFileMaker::Impl::DefaultPath(const std::string& name) const {
  return CmdFolder + host::CurrentServices().Files().PathSeparator() + name;
}

// ---------------------------------------------------------------------------
// Properties.

CClsDataFileMaker::CClsDataFileMaker() : impl_(std::make_unique<Impl>()) {}
CClsDataFileMaker::~CClsDataFileMaker() = default;

void CClsDataFileMaker::ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project) {
  impl_->ProjectDatabase = project;
  if (project) {
    impl_->Layers = &project->Layers();
    impl_->DataDatabase = &project->DataDatabase();
    impl_->LayersOwner = std::move(project);
  }
}

void CClsDataFileMaker::ID(std::int32_t id) { impl_->ID = id; }
void CClsDataFileMaker::SurveyDefinition(const std::string& text) {
  impl_->SurveyDefinition = text;
}
void CClsDataFileMaker::DataFilterDefinition(const std::string& text) {
  impl_->DataFilterDefinition = text;
}
void CClsDataFileMaker::ModelDefinitionDefinition(const std::string& text) {
  impl_->ModelDefinitionDefinition = text;
}
void CClsDataFileMaker::CmdFolder(const std::string& folder) { impl_->CmdFolder = folder; }
void CClsDataFileMaker::DdfDataFile(const std::string& path) { impl_->DdfDataFile = path; }
std::string CClsDataFileMaker::DdfDataFile() const { return impl_->DdfDataFile; }
void CClsDataFileMaker::RegionDataFile(const std::string& path) { impl_->RegionDataFile = path; }
std::string CClsDataFileMaker::RegionDataFile() const { return impl_->RegionDataFile; }
void CClsDataFileMaker::SampleDataFile(const std::string& path) { impl_->SampleDataFile = path; }
std::string CClsDataFileMaker::SampleDataFile() const { return impl_->SampleDataFile; }
void CClsDataFileMaker::ObsDataFile(const std::string& path) { impl_->ObsDataFile = path; }
std::string CClsDataFileMaker::ObsDataFile() const { return impl_->ObsDataFile; }
std::string CClsDataFileMaker::DistanceMeasureUnits() const { return impl_->DistanceMeasureUnits; }
std::string CClsDataFileMaker::EffortMeasureUnits() const { return impl_->EffortMeasureUnits; }
std::string CClsDataFileMaker::AreaMeasureUnits() const { return impl_->AreaMeasureUnits; }

bool CClsDataFileMaker::MakeFiles(bool blnMakeDdfDataFile, bool blnMakeDhtDataFiles,
                                  bool blnIsSinglePlatform) {
  return impl_->MakeFiles(blnMakeDdfDataFile, blnMakeDhtDataFiles, blnIsSinglePlatform);
}

// ---------------------------------------------------------------------------

bool CClsDataFileMaker::Impl::MakeFiles(bool blnMakeDdfDataFile, bool blnMakeDhtDataFiles,
                                        bool blnIsSinglePlatform) {
  LogAdd("Making data files", 0);
  try {
    std::string strObsLayerName;
    if (!host::CurrentServices().Queries().GetObsLayerName(strObsLayerName, SurveyDefinition,
                                                           LayerList(), RunLog())) {
      // Nothing has been made yet: no clean-up.
      return false;
    }
    bool ok = MakeDataQuery(strObsLayerName, blnMakeDdfDataFile, blnMakeDhtDataFiles,
                            blnIsSinglePlatform);
    if (ok && blnMakeDdfDataFile) ok = WriteDdfDataFile();
    if (ok && blnMakeDhtDataFiles) ok = WriteDhtDataFiles();
    if (ok) {
      host::CurrentServices().Queries().DeleteTempQueries(ID, Data());
      return true;
    }
  } catch (...) {
    // An unexpected error resumes at the clean-up; the steps have logged.
  }
  try {
    host::CurrentServices().Queries().DeleteTempQueries(ID, Data());
  } catch (...) {
    // The clean-up ignores errors.
  }
  return false;
}

bool CClsDataFileMaker::Impl::MakeDataQuery(const std::string& strObsLayerName,
                                            bool blnMakeDdfDataFile, bool blnMakeDhtDataFiles,
                                            bool blnIsSinglePlatform) {
  try {
    if (!host::CurrentServices().Queries().MakeLayerQueries(Project(), ID, strObsLayerName,
                                                            DataFilterDefinition, RunLog()))
      return false;

    std::int32_t lngSmpLayerType = 0;
    std::int32_t lngStratType = 0;
    std::int32_t lngStratLayerType = 0;
    std::string strStratFieldName;
    if (!GetSampleLayerType(lngSmpLayerType, strObsLayerName)) return false;
    if (!GetStratificationType(lngStratType, lngStratLayerType, strStratFieldName, strObsLayerName))
      return false;
    if (lngStratType == 2) {
      LogAdd("The current version of the Quox engine can't deal with post stratification.", 2);
      return false;
    }

    // The order of the three layer queries decides which columns keep their
    // plain names: observation fields first, then sample, then stratum fields.
    host::clsKeyedCollection colFields;
    if (!MakeObsQuery(lngStratType, lngStratLayerType, strStratFieldName, strObsLayerName,
                      blnIsSinglePlatform, colFields))
      return false;
    if (!MakeSmpQuery(lngSmpLayerType, lngStratType, lngStratLayerType, strStratFieldName,
                      strObsLayerName, colFields))
      return false;
    if (!MakeStrQuery(lngStratType, lngStratLayerType, strStratFieldName, strObsLayerName,
                      colFields))
      return false;

    const std::string sql = GetMainDataQuery(lngStratType, lngStratLayerType, strStratFieldName);
    if (sql.empty()) return false;
    if (!SaveTempQuery("_Data", sql, false)) return false;

    if (blnMakeDdfDataFile) {
      WriteColRename(colFields);
      if (!MakeDdfDataQuery(colFields)) return false;
    }
    if (blnMakeDhtDataFiles) {
      if (!MakeDhtDataQueries()) return false;
    }
    return true;
  } catch (...) {
    LogErrorSource("DataFileMaker.MakeDataQuery");
    return false;
  }
}

}  // namespace pramble
