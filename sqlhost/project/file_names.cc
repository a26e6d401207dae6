#include "sqlhost/project/file_names.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "sqlhost/project/schema.h"

namespace pramble::sqlhost {
namespace {

constexpr char kLocksFolderName[] = ".locks";
constexpr char kItemLockPrefix[] = "item-";
constexpr char kItemLockSuffix[] = ".lock";
constexpr const char* kPlotKinds[] = {"ddf", "qq"};

bool AllOf(const std::string& text, int (*is)(int)) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [is](unsigned char c) { return is(c) != 0; });
}

// An item ID as the names spell it: decimal digits as std::to_string makes them.
std::optional<std::int32_t> ParseId(const std::string& text) {
  std::int32_t id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end != text.data() + text.size() || std::to_string(id) != text)
    return std::nullopt;
  return id;
}

// Splits `name` at its dots.
std::vector<std::string> Parts(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find('.', start);
    parts.push_back(name.substr(start, dot == std::string::npos ? dot : dot - start));
    if (dot == std::string::npos) return parts;
    start = dot + 1;
  }
}

}  // namespace

std::string ProjectDatabaseFile(const std::string& folder) {
  return folder + "/" + kProjectFileName;
}

std::string DataDatabaseFile(const std::string& folder) { return folder + "/" + kDataFileName; }

std::string LocksFolder(const std::string& folder) { return folder + "/" + kLocksFolderName; }

std::string ItemLockFile(const std::string& folder, std::int32_t id) {
  return LocksFolder(folder) + "/" + kItemLockPrefix + std::to_string(id) + kItemLockSuffix;
}

std::string PlotFileName(const PlotFile& plot) {
  char page[16];
  std::snprintf(page, sizeof page, "%02d", plot.page);
  return plot.kind + "." + std::to_string(plot.id) + "." + page + "." + plot.extension;
}

std::optional<PlotFile> ParsePlotFileName(const std::string& name) {
  const std::vector<std::string> parts = Parts(name);
  if (parts.size() != 4) return std::nullopt;
  if (std::find(std::begin(kPlotKinds), std::end(kPlotKinds), parts[0]) == std::end(kPlotKinds))
    return std::nullopt;
  const std::optional<std::int32_t> id = ParseId(parts[1]);
  if (!id || parts[2].size() < 2 || !AllOf(parts[2], std::isdigit) ||
      !AllOf(parts[3], std::isalnum))
    return std::nullopt;
  int page = 0;
  const auto [end, ec] = std::from_chars(parts[2].data(), parts[2].data() + parts[2].size(), page);
  if (ec != std::errc()) return std::nullopt;
  return PlotFile{parts[0], *id, page, parts[3]};
}

std::vector<std::string> PlotFilesOf(const std::string& folder, std::int32_t id) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    const std::optional<PlotFile> plot = ParsePlotFileName(name);
    if (plot && plot->id == id) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<ParsedFileName> ParseFileName(const std::string& name) {
  if (name == kProjectFileName) return ParsedFileName{FileType::kProjectDatabase};
  if (name == kDataFileName) return ParsedFileName{FileType::kDataDatabase};
  if (name == kLocksFolderName) return ParsedFileName{FileType::kLocksFolder};
  const std::string lock_prefix = std::string(kLocksFolderName) + "/" + kItemLockPrefix;
  const std::size_t suffix = sizeof kItemLockSuffix - 1;
  if (name.rfind(lock_prefix, 0) == 0 && name.size() > lock_prefix.size() + suffix &&
      name.compare(name.size() - suffix, suffix, kItemLockSuffix) == 0) {
    const std::optional<std::int32_t> id =
        ParseId(name.substr(lock_prefix.size(), name.size() - lock_prefix.size() - suffix));
    if (id) return ParsedFileName{FileType::kItemLock, *id};
    return std::nullopt;
  }
  if (const std::optional<PlotFile> plot = ParsePlotFileName(name))
    return ParsedFileName{FileType::kPlot, plot->id};
  return std::nullopt;
}

std::int32_t DensityStatCode(StatKind kind, std::int32_t region, std::int32_t quantity) {
  return 1000 * static_cast<std::int32_t>(kind) + 10 * region + quantity;
}

std::optional<DensityStat> ParseDensityStatCode(std::int32_t code) {
  const std::int32_t kind = code / 1000;
  if (kind < static_cast<std::int32_t>(StatKind::kClusterAbundance) ||
      kind > static_cast<std::int32_t>(StatKind::kSurveyFigures))
    return std::nullopt;
  return DensityStat{static_cast<StatKind>(kind), (code % 1000) / 10, code % 10};
}

}  // namespace pramble::sqlhost
