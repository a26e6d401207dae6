// The host's utility objects that the component calls. Each is one instance
// per thread, reached through host::CurrentServices() (services.h).
//
// Operations that take the ProjectDatabase and the Log write their own
// messages to the log and answer False (or "") on failure; the caller then
// stops without a message of its own. Other failures throw host::HostError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pramble/host/dao.h"
#include "pramble/host/log.h"
#include "pramble/host/project_database.h"

namespace pramble::host {

// ---------------------------------------------------------------------------
// Definition retrieval: the three definition texts of an analysis item.
class DefinitionRetrieval {
 public:
  virtual ~DefinitionRetrieval() = default;
  virtual bool GetSurveyDefinition(std::string& definition, ProjectDatabase& project,
                                   BrowserItem& item, Log& log) = 0;
  virtual bool GetDataFilterDefinition(std::string& definition, ProjectDatabase& project,
                                       BrowserItem& item, Log& log) = 0;
  virtual bool GetModelDefinitionDefinition(std::string& definition, ProjectDatabase& project,
                                            BrowserItem& item, Log& log) = 0;
};

// ---------------------------------------------------------------------------
// Definition reader. A definition is a sequence of commands
//   NAME [VALUE] { /OPTION[=VALUE] } ;
// Command and option names compare without regard to case; values are kept as
// written (a quoted value loses its quotes, a doubled quote stands for one).
struct Command {
  bool found = false;
  std::string name;
  std::string value;
  std::vector<std::string> option_names;   // in the order they stand
  std::vector<std::string> option_values;  // entry i belongs to option_names[i]
  int OptionCount() const { return static_cast<int>(option_names.size()); }
  // The value of the last option named `option_name` (compared without regard
  // to case); nullopt when the command has no such option.
  std::optional<std::string> LastOption(const std::string& option_name) const;
};

class DefinitionReader {
 public:
  virtual ~DefinitionReader() = default;
  // The first command named `name`; found == false (and empty parts) if none.
  virtual Command GetCommand(const std::string& definition, const std::string& name) = 0;
  // Takes the first command off the front of `definition`. Each call shortens
  // it by at least that command; it is "" after the last one.
  virtual Command GetNextCommand(std::string& definition) = 0;
  // Splits at `delimiter`; an empty text gives no items.
  virtual std::vector<std::string> SplitList(const std::string& text,
                                             const std::string& delimiter) = 0;
};

// ---------------------------------------------------------------------------
// Temporary queries of an item, saved in the data database.
class TempQueries {
 public:
  virtual ~TempQueries() = default;
  // The survey's observation layer (layer type 30).
  virtual bool GetObsLayerName(std::string& obs_layer_name, const std::string& survey_definition,
                               LayerCollection& layers, Log& log) = 0;
  // Saves one query per data layer for item `id`, with the data filter's
  // Select criteria applied. Afterwards GetTempQueryName(layer name, id) names
  // the layer's query, usable unbracketed or bracketed in SQL.
  virtual bool MakeLayerQueries(ProjectDatabase& project, std::int32_t id,
                                const std::string& obs_layer_name,
                                const std::string& data_filter_definition, Log& log) = 0;
  // Saves `jet_sql` as the item's query for `suffix` (e.g. "_Obs").
  virtual bool MakeTempQuery(const std::string& suffix, const std::string& jet_sql,
                             std::int32_t id, dao::Database& data_database, Log& log,
                             bool flag) = 0;
  // The saved name of the item's query for a suffix or a layer name: distinct
  // per item, never colliding with a layer table, usable unbracketed in SQL.
  virtual std::string GetTempQueryName(const std::string& suffix_or_layer, std::int32_t id) = 0;
  // Removes every temporary query of the item.
  virtual bool DeleteTempQueries(std::int32_t id, dao::Database& data_database) = 0;

  // The data filter's area text (its Units /Area option), handed on to GetAreaSource.
  virtual bool GetAreaFilterText(std::string& area_filter_text,
                                 const std::string& data_filter_definition, Log& log) = 0;
  // Where the area comes from. area_field "None": the survey has no area.
  // area_factor 0: take the area as it is; otherwise multiply by it.
  virtual bool GetAreaSource(std::string& area_field, std::string& area_layer, double& area_factor,
                             std::string& area_units, ProjectDatabase& project,
                             const std::string& survey_definition,
                             const std::string& area_filter_text, const std::string& start_layer,
                             std::int32_t strat_type, std::int32_t strat_layer_type, Log& log) = 0;
  // Where the effort comes from.
  virtual bool GetEffortSource(std::string& effort_field, std::string& effort_layer,
                               std::string& effort_units, ProjectDatabase& project,
                               const std::string& survey_definition,
                               const std::string& start_layer, std::int32_t smp_layer_type,
                               std::int32_t strat_type, std::int32_t strat_layer_type,
                               Log& log) = 0;
};

// Display names of layer types ("Global", "Stratum", "Sample", "Observation", ...).
class LayerTypeNames {
 public:
  virtual ~LayerTypeNames() = default;
  virtual std::string GetLayerTypeName(std::int32_t layer_type) = 0;
};

// ---------------------------------------------------------------------------
class StringUtilities {
 public:
  virtual ~StringUtilities() = default;
  // The data column name of a field. for_sql False: the name under which the
  // column is known in the data file and in R formulae; True: the same name
  // written so that Jet SQL accepts it as an alias or column reference.
  virtual std::string MakeColumnName(const std::string& name, bool for_sql, bool reserved) = 0;
  // A number text as written into SQL (point as separator, no grouping).
  virtual std::string FormatSqlNumber(const std::string& number_text) = 0;
  // A path as R reads it correctly between single quotes.
  virtual std::string RPath(const std::string& path) = 0;
  // The value text of a statistic line, made ready for a numeric test.
  virtual std::string NumericText(const std::string& text) = 0;
};

// ---------------------------------------------------------------------------
// Sequential text output: the data files are streamed through it, one line at
// a time. Failures throw HostError.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual void Append(const std::string& data) = 0;
  virtual void Close() = 0;
};

// Sequential text input, one line at a time (line end removed).
class LineReader {
 public:
  virtual ~LineReader() = default;
  virtual bool ReadLine(std::string& line) = 0;  // False at the end of the file
  virtual void Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // A new, not yet existing, unpredictable folder path in the temporary area
  // (TMPDIR, else /tmp), without a trailing separator; "" when none can be had.
  virtual std::string GetTempFolderName() = 0;
  virtual bool CreateFolder(const std::string& folder) = 0;
  // A path text for messages; "" means: show the path itself.
  virtual std::string GetDisplayPath(const std::string& folder, const std::string& base) = 0;
  // Writes `text` unchanged as the whole file; False when it cannot.
  virtual bool WriteTextFile(const std::string& file, const std::string& text) = 0;
  virtual bool ReadTextFile(const std::string& file, std::string& text) = 0;
  virtual bool DeleteFolder(const std::string& folder, bool force) = 0;

  // Platform file operations (throw HostError on failure).
  virtual std::unique_ptr<WritableFile> NewWritableFile(const std::string& file) = 0;
  virtual std::unique_ptr<LineReader> NewLineReader(const std::string& file) = 0;
  // Names (not paths) of the files directly in `folder`, in listing order.
  virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;
  virtual void DeleteFile(const std::string& file) = 0;
  // The separator between a folder and a name in paths ("/").
  virtual std::string PathSeparator() const = 0;
};

// ---------------------------------------------------------------------------
struct PlotSettings {
  std::string format, width, height, point_size, quality, lwd, lty, pch, cex;
};

class EngineUtilities {
 public:
  virtual ~EngineUtilities() = default;
  // full_path False: the R package name; True: the archive to install it from.
  virtual std::string GetEngineLibrary(const std::string& engine, ProjectDatabase& project,
                                       Log& log, bool full_path) = 0;
  // The R support-functions file; "" when not available.
  virtual std::string GetSupportFunctionsFile(const std::string& engine,
                                              ProjectDatabase& project, Log& log,
                                              bool full_path) = 0;
  virtual bool GetPlotSettings(PlotSettings& settings, ProjectDatabase& project, Log& log) = 0;
  // The factor (as text) that makes Area / (2 * width * factor * Effort) a pure number.
  virtual bool GetConvertUnits(std::string& factor_text, const std::string& distance_units,
                               const std::string& effort_units, const std::string& area_units,
                               ProjectDatabase& project, Log& log) = 0;
};

// ---------------------------------------------------------------------------
class ResultsUtilities {
 public:
  virtual ~ResultsUtilities() = default;
  virtual std::string GetEngineStatusText(std::int32_t engine_status) = 0;
  // A compressed form that can be told from plain text and read back.
  virtual std::string CompressText(const std::string& text) = 0;
  virtual void AddLongField(dao::TableDef& table, const std::string& name, std::int32_t attributes,
                            bool required) = 0;
  virtual void AddMemoField(dao::TableDef& table, const std::string& name,
                            const std::string& default_value, bool allow_zero_length) = 0;
  virtual void AddPrimaryKey(dao::TableDef& table, const std::string& field_name,
                             const std::string& second_field, const std::string& third_field) = 0;
};

}  // namespace pramble::host
