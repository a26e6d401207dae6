// The names of the files and folders that the host makes or recognises in a
// project folder, each made by one function here and recognised by
// ParseFileName, and the layout of the statistic codes that R's support
// functions write (docs/statistic-codes.md). Nothing else spells them out.
//
//   <folder>/project.db                 the project database (schema.h)
//   <folder>/data.db                    the data database
//   <folder>/.locks/item-<ID>.lock      the lock of one analysis item
//   <folder>/(ddf|qq).<ID>.<NN>.<ext>   a plot page of an item's run
//   <library>/.pramble-install.lock     the R library's install lock
//
//   const std::string lock = ItemLockFile(project.folder(), 12);
//   if (auto plot = ParsePlotFileName("ddf.12.03.png")) ... plot->page == 3
//   const std::int32_t lcl = DensityStatCode(StatKind::kClusterAbundance, 1, StatQuantity::kLcl);
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pramble::sqlhost {

// The two databases of a project folder.
inline constexpr char kProjectFileName[] = "project.db";
inline constexpr char kDataFileName[] = "data.db";

// The file in an R library that runs lock while they install or use the R
// package quox (sqlhost/runner/r_library_lock.h).
inline constexpr char kRLibraryLockFileName[] = ".pramble-install.lock";

enum class FileType {
  kProjectDatabase,
  kDataDatabase,
  kLocksFolder,
  kItemLock,
  kPlot,
};

// The path of each file in the project folder `folder` (no trailing "/").
std::string ProjectDatabaseFile(const std::string& folder);
std::string DataDatabaseFile(const std::string& folder);
std::string LocksFolder(const std::string& folder);
std::string ItemLockFile(const std::string& folder, std::int32_t id);

// A plot page that R wrote for an item: "ddf" (detection probability, one
// file per page) or "qq" (the Q-Q plot), the item, the page (two digits or
// more in the name), the extension (the plot format).
struct PlotFile {
  std::string kind;
  std::int32_t id = 0;
  int page = 0;
  std::string extension;
};
std::string PlotFileName(const PlotFile& plot);
// nullopt when `name` is no plot page's name.
std::optional<PlotFile> ParsePlotFileName(const std::string& name);
// The names of item `id`'s plot pages in `folder`, sorted; none when the
// folder cannot be read.
std::vector<std::string> PlotFilesOf(const std::string& folder, std::int32_t id);

// What a name in a project folder is; nullopt for a name the host does not
// know. `id` is the item of an item lock or a plot page.
struct ParsedFileName {
  FileType type;
  std::int32_t id = 0;
};
// `name` is a folder entry's name, or for an item lock ".locks/item-<ID>.lock".
std::optional<ParsedFileName> ParseFileName(const std::string& name);

// The statistic codes of the density step: 1000 * kind + 10 * region +
// quantity, region 0 being the total and 1-99 the regions in the order of
// the region table. The detection-function codes (1-40) are plain numbers.
enum class StatKind : std::int32_t {
  kClusterAbundance = 1,
  kClusterDensity = 2,
  kIndividualAbundance = 3,
  kIndividualDensity = 4,
  kExpectedClusterSize = 5,
  kSurveyFigures = 6,
};
enum class StatQuantity : std::int32_t {
  kEstimate = 0,
  kSe = 1,
  kCv = 2,
  kLcl = 3,
  kUcl = 4,
  kDf = 5,
};
inline constexpr std::int32_t kMaxStatRegion = 99;

std::int32_t DensityStatCode(StatKind kind, std::int32_t region, std::int32_t quantity);
inline std::int32_t DensityStatCode(StatKind kind, std::int32_t region, StatQuantity quantity) {
  return DensityStatCode(kind, region, static_cast<std::int32_t>(quantity));
}

struct DensityStat {
  StatKind kind;
  std::int32_t region = 0;
  std::int32_t quantity = 0;
};
// nullopt for a detection-function code or a number outside the layout.
std::optional<DensityStat> ParseDensityStatCode(std::int32_t code);

}  // namespace pramble::sqlhost
