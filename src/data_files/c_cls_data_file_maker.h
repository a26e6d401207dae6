// CClsDataFileMaker: turns the survey data of one analysis item into the
// tab-delimited data files that the R command file reads, entirely through
// temporary queries saved in the project's data database. One instance serves
// one run: set the properties, call MakeFiles once, read the file paths and
// the measure units back. The data file format is described in
// docs/data-files.md.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pramble {

namespace host {
class ProjectDatabase;
}

class CClsDataFileMaker {
 public:
  CClsDataFileMaker();
  ~CClsDataFileMaker();

  // Also keeps the project's Layers and DataDatabase when not null.
  void ProjectDatabase(std::shared_ptr<host::ProjectDatabase> project);
  void ID(std::int32_t id);
  void SurveyDefinition(const std::string& text);
  void DataFilterDefinition(const std::string& text);
  void ModelDefinitionDefinition(const std::string& text);
  void CmdFolder(const std::string& folder);
  void DdfDataFile(const std::string& path);
  std::string DdfDataFile() const;
  void RegionDataFile(const std::string& path);
  std::string RegionDataFile() const;
  void SampleDataFile(const std::string& path);
  std::string SampleDataFile() const;
  void ObsDataFile(const std::string& path);
  std::string ObsDataFile() const;
  std::string DistanceMeasureUnits() const;
  std::string EffortMeasureUnits() const;
  std::string AreaMeasureUnits() const;

  // Builds the queries and writes the requested data files; True on success.
  // Every temporary query of the item is deleted before it returns.
  bool MakeFiles(bool blnMakeDdfDataFile, bool blnMakeDhtDataFiles, bool blnIsSinglePlatform);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pramble
