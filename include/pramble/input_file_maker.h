// CClsInputFileMaker: writes the R command file of one analysis run (and an
// empty R log file beside it). A host can drive it on its own:
//
//   pramble::CClsInputFileMaker maker;
//   maker.ProjectDatabase(project);              // settings and host utilities
//   maker.ID(7);
//   maker.SurveyDefinition(survey);
//   maker.DataFilterDefinition(filter);
//   maker.ModelDefinitionDefinition(model);
//   maker.CmdFolder("/tmp/run7");
//   maker.DdfDataFile("/tmp/run7/ddf.dat.r");    // when fitting a detection function
//   bool run_ddf = true, run_dht = false;
//   if (maker.MakeFile(run_ddf, run_dht)) {
//     // maker.InputFile() is /tmp/run7/in.r, LogFile() /tmp/run7/log.r, ...
//   }
//
// MakeFile answers False, and writes no file, when a step declined; the
// reason is then in the thread's global log (a thread without one gets one
// from the host's services). It also answers False, with a level-2 message
// naming the file, when the command file or the log file cannot be written.
// The host's services must be installed on the calling thread
// (sqlhost/services.h). Lines end in CR LF; the file is described in
// docs/command-file.md.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pramble {

namespace host {
class ProjectDatabase;
class clsStringBuilder;
}  // namespace host

class CClsInputFileMaker {
 public:
  CClsInputFileMaker();
  ~CClsInputFileMaker();

  void ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project);
  void ID(std::int32_t id);
  void SurveyDefinition(const std::string& text);
  void DataFilterDefinition(const std::string& text);
  void ModelDefinitionDefinition(const std::string& text);
  void CmdFolder(const std::string& folder);
  void DistanceMeasureUnits(const std::string& units);
  void EffortMeasureUnits(const std::string& units);
  void AreaMeasureUnits(const std::string& units);
  std::string InputFile() const;
  void InputFile(const std::string& path);
  std::string LogFile() const;
  void LogFile(const std::string& path);
  std::string ResultsFile() const;
  void ResultsFile(const std::string& path);
  std::string StatsFile() const;
  void StatsFile(const std::string& path);
  void DdfDataFile(const std::string& path);
  std::string DdfDataFile() const;
  void RegionDataFile(const std::string& path);
  std::string RegionDataFile() const;
  void SampleDataFile(const std::string& path);
  std::string SampleDataFile() const;
  void ObsDataFile(const std::string& path);
  std::string ObsDataFile() const;

  // Writes InputFile and an empty LogFile; True when both are written.
  bool MakeFile(bool& blnRunDdf, bool& blnRunDht);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pramble
