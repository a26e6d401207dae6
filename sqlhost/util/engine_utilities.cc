#include "sqlhost/util/engine_utilities.h"

#include <sys/stat.h>

#include <cstdlib>
#include <exception>
#include <optional>

#include "pramble/host/errors.h"
#include "sqlhost/util/number_text.h"
#include "sqlhost/util/shipped_files.h"
#include "sqlhost/util/string_utilities.h"
#include "sqlhost/util/units.h"
#include "pramble/host/value.h"


namespace pramble::sqlhost {
namespace {

// The setting when it holds a non-empty text, else the environment variable
// when set and non-empty, else the built-in value.
std::string SettingOrDefault(host::ProjectDatabase& project, const std::string& section,
                             const std::string& key, const char* env_name,
                             const std::string& built_in) {
  const std::string stored = host::ToText(
      project.Settings().GetSetting(host::kSettingScopeProject, host::kSettingText, section, key));
  if (!stored.empty()) return stored;
  const char* env = std::getenv(env_name);
  if (env != nullptr && *env != '\0') return env;
  return built_in;
}

bool IsQuox(const std::string& engine) { return host::EqualsNoCase(engine, "Quox"); }

void LogUnknownEngine(const std::string& engine, host::Log& log) {
  log.Add("Unknown analysis engine '" + engine + "': only the Quox engine is available.", 2);
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string QuoxEngineUtilities::GetEngineLibrary(const std::string& engine,
                                                  host::ProjectDatabase& project, host::Log& log,
                                                  bool full_path) {
  if (!IsQuox(engine)) {
    LogUnknownEngine(engine, log);
    return "";
  }
  if (!full_path) return "quox";
  return RQuotablePath(SettingOrDefault(project, "R", "QuoxArchive", "PRAMBLE_QUOX_ARCHIVE",
                                        ShippedQuoxArchive()));
}

std::string QuoxEngineUtilities::GetSupportFunctionsFile(const std::string& engine,
                                                         host::ProjectDatabase& project,
                                                         host::Log& log, bool full_path) {
  if (!IsQuox(engine)) {
    LogUnknownEngine(engine, log);
    return "";
  }
  const std::string path = SettingOrDefault(project, "R", "SupportFunctionsFile",
                                            "PRAMBLE_QUOX_SUPPORT_FILE",
                                            ShippedSupportFile());
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    log.Add("The R support functions file '" + path +
                "' does not exist. Set R/SupportFunctionsFile to the file quox_support.R.",
            2);
    return "";
  }
  return full_path ? RQuotablePath(path) : BaseName(path);
}

bool QuoxEngineUtilities::GetPlotSettings(host::PlotSettings& settings,
                                          host::ProjectDatabase& project, host::Log& log) {
  settings = {"png", "600", "600", "12", "75", "2", "1", "1", "1"};
  struct Entry {
    const char* key;
    std::string* value;
    std::int32_t kind;
  };
  const Entry entries[] = {
      {"Format", &settings.format, host::kSettingText},
      {"Width", &settings.width, host::kSettingNumber},
      {"Height", &settings.height, host::kSettingNumber},
      {"PointSize", &settings.point_size, host::kSettingNumber},
      {"Quality", &settings.quality, host::kSettingNumber},
      {"Lwd", &settings.lwd, host::kSettingNumber},
      {"Lty", &settings.lty, host::kSettingNumber},
      {"Pch", &settings.pch, host::kSettingNumber},
      {"Cex", &settings.cex, host::kSettingNumber},
  };
  try {
    for (const Entry& entry : entries) {
      const host::Value value =
          project.Settings().GetSetting(host::kSettingScopeProject, entry.kind, "Plot", entry.key);
      if (!host::IsNull(value)) *entry.value = host::ToText(value);
    }
  } catch (const host::HostError& e) {
    log.Add("Could not read the plot settings: " + e.description(), 2);
    return false;
  }
  return true;
}

bool QuoxEngineUtilities::GetConvertUnits(std::string& factor_text,
                                          const std::string& distance_units,
                                          const std::string& effort_units,
                                          const std::string& area_units,
                                          host::ProjectDatabase& project, host::Log& log) {
  bool ok = true;
  auto look_up = [&](const std::string& role, const std::string& unit, bool area) {
    std::optional<double> size;
    if (unit.empty()) {
      log.Add("Cannot convert units: no " + role + " unit is given.", 2);
    } else {
      size = area ? SquareMetresPerAreaUnit(unit) : MetresPerLengthUnit(unit);
      if (!size)
        log.Add("Cannot convert units: the " + role + " unit '" + unit + "' is not a known " +
                    (area ? "area" : "length") + " unit.",
                2);
    }
    if (!size) ok = false;
    return size.value_or(0.0);
  };
  const double distance = look_up("distance", distance_units, false);
  const double effort = look_up("effort", effort_units, false);
  // A survey without an area field has no area unit: densities are then
  // reported per square effort unit (metres and kilometres give 0.001, per
  // square kilometre).
  const double area =
      area_units.empty() && effort > 0 ? effort * effort : look_up("area", area_units, true);
  if (!ok) return false;
  factor_text = ShortestNumberText(distance * effort / area);
  return true;
}

std::string QuoxDescriptionFile(const std::string& library) {
  return library + "/quox/DESCRIPTION";
}

bool ProjectForcesQuoxInstall(host::ProjectDatabase& project) {
  try {
    return host::ToBool(project.Settings().GetSetting(
        host::kSettingScopeProject, host::kSettingBoolean, "R", "ForceLoadLibrary",
        host::Value{true}));
  } catch (const std::exception&) {
    return true;  // the run refuses the setting itself
  }
}

bool NextRunInstallsQuox(host::ProjectDatabase& project, const std::string& library) {
  if (ProjectForcesQuoxInstall(project)) return true;
  struct stat st {};
  return ::stat(QuoxDescriptionFile(library).c_str(), &st) != 0;
}

}  // namespace pramble::sqlhost
