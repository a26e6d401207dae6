// The host's engine utility: where the R package and the support-functions
// file are, the plot settings, and the unit conversion factor of the density
// step. Where each value comes from, with its defaults, is described in
// docs/engine-status.md, section "Engine settings".
//
// Thread-safety: stateless; used on the thread that owns the project.
#pragma once

#include <string>

#include "pramble/host/utilities.h"

namespace pramble::sqlhost {

class QuoxEngineUtilities : public host::EngineUtilities {
 public:
  // For engine "Quox" (any case): full_path False gives "quox"; True gives
  // the package archive, in the form that R reads between single quotes: the
  // setting "R"/"QuoxArchive" when set, else the environment variable
  // PRAMBLE_QUOX_ARCHIVE, else the shipped archive (shipped_files.h). Another engine:
  // a level-2 message and "".
  std::string GetEngineLibrary(const std::string& engine, host::ProjectDatabase& project,
                               host::Log& log, bool full_path) override;
  // The R support-functions file, chosen like the archive ("R"/
  // "SupportFunctionsFile", PRAMBLE_QUOX_SUPPORT_FILE, the shipped file).
  // full_path True: the path as R reads it between single quotes; False: its
  // file name. "" with a level-2 message naming the path when it does not exist.
  std::string GetSupportFunctionsFile(const std::string& engine, host::ProjectDatabase& project,
                                      host::Log& log, bool full_path) override;
  // Settings of section "Plot" (Format, Width, Height, PointSize, Quality,
  // Lwd, Lty, Pch, Cex) as texts, each defaulting to a value this platform's
  // R accepts: png, 600, 600, 12, 75, 2, 1, 1, 1. False (with the defaults
  // filled in) when the settings cannot be read.
  bool GetPlotSettings(host::PlotSettings& settings, host::ProjectDatabase& project,
                       host::Log& log) override;
  // factor = (metres per distance unit) * (metres per effort unit)
  //          / (square metres per area unit),
  // written in the shortest text that reads back exactly ("0.001" for Meter,
  // Kilometer, Square kilometer). An empty or unknown unit: a level-2 message
  // naming the unit and its role, and False.
  bool GetConvertUnits(std::string& factor_text, const std::string& distance_units,
                       const std::string& effort_units, const std::string& area_units,
                       host::ProjectDatabase& project, host::Log& log) override;
};

// The file that marks a copy of the package quox installed in the R library
// `library`.
std::string QuoxDescriptionFile(const std::string& library);

// Whether the next run's command file installs the package quox into the R
// library `library`, by the command file's own rule: always while the
// setting R/ForceLoadLibrary is absent or True (or not a Boolean, which the
// run refuses), else when the package is not in `library` yet. Asked before
// the run, as the run stores False in the setting.
bool NextRunInstallsQuox(host::ProjectDatabase& project, const std::string& library);
// The first half of that rule: the setting asks for the install whatever
// the library holds.
bool ProjectForcesQuoxInstall(host::ProjectDatabase& project);

}  // namespace pramble::sqlhost
