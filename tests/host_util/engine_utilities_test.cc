#include "sqlhost/util/engine_utilities.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "sqlhost/util/text_log.h"
#include "host_util/settings_project.h"
#include "host_util/test_util.h"

namespace pramble::sqlhost {
namespace {

using testing::TempDir;
using testing::SettingsProject;

class ScopedUnsetEnv {
 public:
  explicit ScopedUnsetEnv(const char* name) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    ::unsetenv(name);
  }
  ~ScopedUnsetEnv() {
    if (had_) ::setenv(name_, old_.c_str(), 1);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(GetConvertUnitsTest, Factors) {
  struct Case {
    std::string distance, effort, area, factor;
  };
  const Case cases[] = {
      {"Meter", "Kilometer", "Square kilometer", "0.001"},
      {"meter", "KILOMETER", "square KILOMETER", "0.001"},
      {"Meter", "Meter", "Square meter", "1"},
      {"Meter", "Kilometer", "Hectare", "0.1"},
      {"Kilometer", "Kilometer", "Square kilometer", "1"},
      {"Centimeter", "Meter", "Square meter", "0.01"},
      {"Foot", "Mile", "Square mile", "0.0001893939393939394"},
      {"Yard", "Nautical mile", "Square nautical mile", "0.0004937365010799136"},
      {"Meter", "Kilometer", "Acre", "0.24710538146716532"},
      {"Foot", "Foot", "Square foot", "1"},
      // No area field: per square effort unit.
      {"Meter", "Kilometer", "", "0.001"},
      {"Foot", "Mile", "", "0.0001893939393939394"},
  };
  SettingsProject project;
  QuoxEngineUtilities engine;
  for (const auto& c : cases) {
    TextLog log;
    std::string factor = "unset";
    EXPECT_TRUE(engine.GetConvertUnits(factor, c.distance, c.effort, c.area, project, log));
    EXPECT_EQ(factor, c.factor) << c.distance << " " << c.effort << " " << c.area;
    EXPECT_EQ(log.Contents(), "");
  }
}

TEST(GetConvertUnitsTest, UnknownOrMissingUnits) {
  struct Case {
    std::string distance, effort, area, log;
  };
  const Case cases[] = {
      {"Furlong", "Kilometer", "Square kilometer",
       "Error: Cannot convert units: the distance unit 'Furlong' is not a known length unit.\n"},
      {"Meter", "", "Square kilometer", "Error: Cannot convert units: no effort unit is given.\n"},
      {"Meter", "Kilometer", "Kilometer",
       "Error: Cannot convert units: the area unit 'Kilometer' is not a known area unit.\n"},
      {"Hectare", "", "",
       "Error: Cannot convert units: the distance unit 'Hectare' is not a known length unit.\n"
       "Error: Cannot convert units: no effort unit is given.\n"
       "Error: Cannot convert units: no area unit is given.\n"},
  };
  SettingsProject project;
  QuoxEngineUtilities engine;
  for (const auto& c : cases) {
    TextLog log;
    std::string factor = "unset";
    EXPECT_FALSE(engine.GetConvertUnits(factor, c.distance, c.effort, c.area, project, log));
    EXPECT_EQ(factor, "unset");
    EXPECT_EQ(log.Contents(), c.log);
    EXPECT_EQ(log.Severity(), 2);
  }
}

TEST(GetEngineLibraryTest, SettingThenEnvironmentThenBuild) {
  ScopedUnsetEnv env("PRAMBLE_QUOX_ARCHIVE");
  SettingsProject project;
  QuoxEngineUtilities engine;
  TextLog log;
  EXPECT_EQ(engine.GetEngineLibrary("Quox", project, log, false), "quox");
  EXPECT_EQ(engine.GetEngineLibrary("Quox", project, log, true), PRAMBLE_QUOX_ARCHIVE);
  ::setenv("PRAMBLE_QUOX_ARCHIVE", "/env/quox_1.tar.gz", 1);
  EXPECT_EQ(engine.GetEngineLibrary("quox", project, log, true), "/env/quox_1.tar.gz");
  project.settings().SaveSetting(1, 1, "R", "QuoxArchive", std::string("/it's/quox.tar.gz"));
  EXPECT_EQ(engine.GetEngineLibrary("Quox", project, log, true), "/it\\'s/quox.tar.gz");
  EXPECT_EQ(log.Contents(), "");
  EXPECT_EQ(engine.GetEngineLibrary("Other", project, log, false), "");
  EXPECT_EQ(log.Contents(),
            "Error: Unknown analysis engine 'Other': only the Quox engine is available.\n");
}

TEST(GetSupportFunctionsFileTest, ExistingFileOrMessage) {
  ScopedUnsetEnv env("PRAMBLE_QUOX_SUPPORT_FILE");
  TempDir folder;
  const std::string file = folder / "my support's.R";
  testing::Spit(file, "f <- 1\n");
  SettingsProject project;
  QuoxEngineUtilities engine;
  TextLog log;
  EXPECT_EQ(engine.GetSupportFunctionsFile("Quox", project, log, true),
            PRAMBLE_QUOX_SUPPORT_FILE);
  project.settings().SaveSetting(1, 1, "R", "SupportFunctionsFile", file);
  EXPECT_EQ(engine.GetSupportFunctionsFile("Quox", project, log, true),
            folder.path() + "/my support\\'s.R");
  EXPECT_EQ(engine.GetSupportFunctionsFile("Quox", project, log, false), "my support's.R");
  EXPECT_EQ(log.Contents(), "");
  project.settings().SaveSetting(1, 1, "R", "SupportFunctionsFile", folder / "gone.R");
  EXPECT_EQ(engine.GetSupportFunctionsFile("Quox", project, log, true), "");
  EXPECT_EQ(log.Contents(), "Error: The R support functions file '" + (folder / "gone.R") +
                                "' does not exist. Set R/SupportFunctionsFile to the file "
                                "quox_support.R.\n");
}

TEST(GetPlotSettingsTest, DefaultsAndSettings) {
  SettingsProject project;
  QuoxEngineUtilities engine;
  TextLog log;
  host::PlotSettings plot;
  EXPECT_TRUE(engine.GetPlotSettings(plot, project, log));
  const auto all = [](const host::PlotSettings& p) {
    return p.format + "," + p.width + "," + p.height + "," + p.point_size + "," + p.quality +
           "," + p.lwd + "," + p.lty + "," + p.pch + "," + p.cex;
  };
  EXPECT_EQ(all(plot), "png,600,600,12,75,2,1,1,1");
  project.settings().SaveSetting(1, 1, "Plot", "Format", std::string("jpeg"));
  project.settings().SaveSetting(1, 2, "Plot", "Width", std::int64_t{800});
  project.settings().SaveSetting(1, 2, "Plot", "Cex", 1.5);
  EXPECT_TRUE(engine.GetPlotSettings(plot, project, log));
  EXPECT_EQ(all(plot), "jpeg,800,600,12,75,2,1,1,1.5");
  project.settings().set_fail(true);
  EXPECT_FALSE(engine.GetPlotSettings(plot, project, log));
  EXPECT_EQ(all(plot), "png,600,600,12,75,2,1,1,1");
  EXPECT_EQ(log.Contents(),
            "Error: Could not read the plot settings: the settings store cannot be read\n");
}

}  // namespace
}  // namespace pramble::sqlhost
