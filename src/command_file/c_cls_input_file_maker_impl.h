// The state and the private steps of CClsInputFileMaker, shared by the
// sources of this folder: the object, its layout and the package and clean-up
// blocks in c_cls_input_file_maker.cc; the detection-function data and fit in
// ddf_commands.cc; the detection-function output in ddf_output_commands.cc;
// the density estimation in dht_commands.cc. docs/command-file.md describes
// the command file that the steps write together.
//
// Every Append... and Get... step answers True on success. False means
// "stop": the step has already logged its reason (a level-2 message, its
// error source at level 3, or the message of the host utility that declined),
// and MakeFile passes the False on without a message of its own. The steps
// catch every error of their own body; MakeFile and the name builders have no
// handler.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pramble/host/project_database.h"
#include "pramble/host/string_builder.h"
#include "pramble/host/utilities.h"
#include "pramble/host/value.h"
#include "pramble/input_file_maker.h"

namespace pramble {

struct CClsInputFileMaker::Impl {
  // Properties, in the order of the class interface.
  std::shared_ptr<host::ProjectDatabase> mclsProjectDatabase;
  std::int32_t mlngID = 0;
  std::string mstrSurveyDefinition;
  std::string mstrDataFilterDefinition;
  std::string mstrModelDefinitionDefinition;
  std::string mstrCmdFolder;
  std::string mstrDistanceMeasureUnits;
  std::string mstrEffortMeasureUnits;
  std::string mstrAreaMeasureUnits;
  std::string mstrInputFile;
  std::string mstrLogFile;
  std::string mstrResultsFile;
  std::string mstrStatsFile;
  std::string mstrDdfDataFile;
  std::string mstrRegionDataFile;
  std::string mstrSampleDataFile;
  std::string mstrObsDataFile;

  bool MakeFile(bool& blnRunDdf, bool& blnRunDht);

  // R object names: a stem and the analysis ID in plain decimal.
  static std::string GetDdfDataName(std::int32_t lngID);
  static std::string GetRegionDataName(std::int32_t lngID);
  static std::string GetSampleDataName(std::int32_t lngID);
  static std::string GetObsDataName(std::int32_t lngID);
  static std::string GetDdfName(std::int32_t lngID);
  static std::string GetDdfSummaryName(std::int32_t lngID);
  static std::string GetDdfGofName(std::int32_t lngID);
  static std::string GetDhtName(std::int32_t lngID);

  // Package block and clean-up block (c_cls_input_file_maker.cc).
  bool AppendLinkQuoxLibraryString(host::clsStringBuilder& sb);
  bool AppendRemoveNewObjectsString(host::clsStringBuilder& sb, bool blnRunDdf, bool blnRunDht,
                                    bool blnGofRequested);

  // Detection-function data and fit (ddf_commands.cc).
  bool GetFactors(std::vector<std::string>& strFactors, std::int32_t& lngFactorCount);
  bool GetCutpoints(std::string& strIntervals, std::string& strWidth);
  bool AppendGetDdfDataString(host::clsStringBuilder& sb);
  bool AppendRunDdfString(host::clsStringBuilder& sb, bool& blnPlotRequested, bool& blnGofRequested,
                          std::string& strIntervals);

  // Detection-function output (ddf_output_commands.cc).
  bool AppendOutputResultsString(host::clsStringBuilder& sb, bool blnGofRequested,
                                 const std::string& strIntervals);
  bool AppendOutputPlotString(host::clsStringBuilder& sb, const std::string& strIntervals);
  bool AppendOutputDdfStatsString(host::clsStringBuilder& sb, const bool& blnGofRequested);
  // Appends the line that opens the graphics device for plot files named
  // strKind + "." + ID + ".%02d." + format; answers the plot settings used.
  host::PlotSettings AppendOpenDeviceString(host::clsStringBuilder& sb, const std::string& strKind);

  // Density estimation (dht_commands.cc).
  bool AppendGetDhtDataString(host::clsStringBuilder& sb);
  bool AppendRunDhtString(host::clsStringBuilder& sb);
  bool AppendOutputDhtStatsString(host::clsStringBuilder& sb);

  // The project; fails (HostError 91) when the property is not set.
  host::ProjectDatabase& Project() const;
  // A Boolean setting of kind 3, scope 1.
  bool GetBoolSetting(const std::string& strSection, const std::string& strKey,
                      const host::Value& varDefault) const;
  // `path` as R reads it between single quotes.
  static std::string RPath(const std::string& path);
  // "sink(file='" + RPath(ResultsFile) + "',append=T)": opens a results-file section.
  std::string SinkResultsLine() const;
};

}  // namespace pramble
