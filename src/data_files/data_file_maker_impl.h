// The inside of CClsDataFileMaker, shared by its sources: one source per query
// family (strata, samples, observations, main and detection-function, density)
// and one for the data file writer.
//
// Every step answers True on success. False means "stop": the step has already
// logged its reason (level 2) or its error source (level 3), and the caller
// passes the False on without a message of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "data_files/c_cls_data_file_maker.h"
#include "pramble/host/dao.h"
#include "pramble/host/errors.h"
#include "pramble/host/keyed_collection.h"
#include "pramble/host/project_database.h"
#include "pramble/host/services.h"

namespace pramble {

struct CClsDataFileMaker::Impl {
  // The project of the run, and the project whose Layers and DataDatabase are
  // kept (it stays alive while they are in use, even after the property is
  // set to null).
  std::shared_ptr<host::ProjectDatabase> ProjectDatabase;
  std::shared_ptr<host::ProjectDatabase> LayersOwner;
  host::LayerCollection* Layers = nullptr;
  host::dao::Database* DataDatabase = nullptr;
  std::int32_t ID = 0;
  std::string DdfDataFile;
  std::string RegionDataFile;
  std::string SampleDataFile;
  std::string ObsDataFile;
  std::string CmdFolder;
  std::string DistanceMeasureUnits;
  std::string EffortMeasureUnits;
  std::string AreaMeasureUnits;
  std::string SurveyDefinition;
  std::string DataFilterDefinition;
  std::string ModelDefinitionDefinition;

  bool MakeFiles(bool blnMakeDdfDataFile, bool blnMakeDhtDataFiles, bool blnIsSinglePlatform);
  bool MakeDataQuery(const std::string& strObsLayerName, bool blnMakeDdfDataFile,
                     bool blnMakeDhtDataFiles, bool blnIsSinglePlatform);

  // Stratum query (stratum_query.cc).
  bool GetStratificationType(std::int32_t& lngStratType, std::int32_t& lngStratLayerType,
                             std::string& strStratFieldName, const std::string& strObsLayerName);
  bool MakeStrQuery(std::int32_t lngStratType, std::int32_t lngStratLayerType,
                    const std::string& strStratFieldName, const std::string& strObsLayerName,
                    host::clsKeyedCollection& colFields);
  // Copies the usable fields of one layer of a stratum or sample walk: appends
  // "ref AS alias, " to `flds` and "alias, " to `aliases`, and enters each
  // field in `colFields` (a clashing name gets the layer-type-qualified key).
  void AppendLayerFields(host::DataLayer& layer, const std::string& strQueryName, std::string& flds,
                         std::string& aliases, host::clsKeyedCollection& colFields);
  // The start of a stratum or sample walk: the name of the nearest layer above
  // the observation layer whose type is in the list `types`; "" when there is
  // none or it cannot be looked up.
  std::string ParentLayerName(const std::string& strObsLayerName, const char* types);
  // One step up a stratum or sample walk: puts the join of `layer` (saved
  // query `strQueryName`) to its parent in front of `joins`; answers the parent.
  std::shared_ptr<host::DataLayer> JoinToParent(host::DataLayer& layer,
                                                const std::string& strQueryName,
                                                std::string& joins);
  // Saves the queries of a walk whose measure (area or effort) is held below
  // the labelled layer: `stem`1 holds the walk, `stem`2 keeps one row per
  // measure record, `stem`3 sums per label, and `final_suffix` joins the sums
  // back. `prefix` and `measure` name the columns ("STR"/"AREA",
  // "SMP"/"EFFORT"); `lead` is the final query's leading column list.
  bool SaveSummedQueries(const std::string& prefix, const std::string& measure,
                         const std::string& stem, bool first_flag, const std::string& final_suffix,
                         const std::string& base, const std::string& lead,
                         const std::string& aliases);

  // Sample query (sample_query.cc).
  bool GetSampleLayerType(std::int32_t& lngSmpLayerType, const std::string& strObsLayerName);
  bool MakeSmpQuery(std::int32_t lngSmpLayerType, std::int32_t lngStratType,
                    std::int32_t lngStratLayerType, const std::string& strStratFieldName,
                    const std::string& strObsLayerName, host::clsKeyedCollection& colFields);

  // Observation query (observation_query.cc).
  bool GetObsFields(std::string& strIDField, std::string& strLinkField,
                    std::string& strDistanceField, std::string& strClusterSizeField,
                    std::string& strObjectField, std::string& strObserverField,
                    std::string& strDetectedField, const std::string& strObsLayerName,
                    bool blnIsSinglePlatform);
  bool MakeObsQuery(std::int32_t lngStratType, std::int32_t lngStratLayerType,
                    const std::string& strStratFieldName, const std::string& strObsLayerName,
                    bool blnIsSinglePlatform, host::clsKeyedCollection& colFields);

  // Main and detection-function queries (main_query.cc).
  std::string GetMainDataQuery(std::int32_t lngStratType, std::int32_t lngStratLayerType,
                               const std::string& strStratFieldName);
  void WriteColRename(const host::clsKeyedCollection& colFields);
  bool MakeDdfDataQuery(const host::clsKeyedCollection& colFields);

  // Density-estimation queries (density_queries.cc).
  bool MakeDhtDataQueries();

  // Data file writer (data_file_writer.cc).
  bool WriteDdfDataFile();
  bool WriteDhtDataFiles();
  bool WriteQueryToFile(const std::string& strFileName, const std::string& strQueryName);

  // The objects a step works on; each fails (HostError 91) when not set, as
  // the use of an unset object does.
  host::ProjectDatabase& Project() const;
  host::LayerCollection& LayerList() const;
  host::dao::Database& Data() const;
  // Saves one temporary query of the item.
  bool SaveTempQuery(const std::string& suffix, const std::string& sql, bool flag);
  // The saved name of the item's query for a suffix or a layer name.
  std::string QueryName(const std::string& suffix_or_layer) const;
  // CmdFolder + the path separator + `name`.
  std::string DefaultPath(const std::string& name) const;
};

// `p` itself; fails (HostError 91) when it is null, as the use of an unset
// object does.
template <typename Pointer>
auto& Required(const Pointer& p) {
  if (!p)
    throw host::HostError(host::kErrObjectNotSet, "Object variable or With block variable not set");
  return *p;
}

}  // namespace pramble
