// Settings on a real project: kept with their type, overridden per object,
// and read by the engine utilities and the R runner; unit conversion factors
// (tests/data/host_project/convert_units.tsv).
#include <sqlite3.h>

#include "host_project/project_fixture.h"
#include "sqlhost/runner/event_loop.h"
#include "sqlhost/runner/posix_r_process.h"
#include "sqlhost/util/engine_utilities.h"
#include "sqlhost/util/text_log.h"

namespace pramble::sqlhost::test {
namespace {

using pramble::testing::ScopedEnv;

class SettingsTest : public ProjectTest {
 protected:
  void SetUp() override { CreateFromExample(); }
  void Set(const std::string& section, const std::string& key, const host::Value& value) {
    project().Settings().SaveSetting(1, 1, section, key, value);
  }
  // Takes the settings away under the open project: every read fails.
  void BreakSettings() {
    sqlite3* db = nullptr;
    sqlite3_open((dir() + "/project.db").c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE settings", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  QuoxEngineUtilities engine_;
  TextLog log_;
};

TEST_F(SettingsTest, KeepTheirTypeAcrossOpens) {
  for (const auto& v : {host::Value{true}, host::Value{false}, host::Value{std::int64_t{-3}},
                        host::Value{2.5}, host::Value{std::string("Pramble")},
                        host::Value{std::string("")}}) {
    project().Settings().SaveSetting(1, 2, "R", "Value", v);
    EXPECT_EQ(Project::Open(dir())->Settings().GetSetting(1, 2, "r", "value"), v)
        << host::ToText(v);
  }
  project().Settings().SaveSetting(1, 3, "R", "Value", host::Value{});
  EXPECT_EQ(project().GetSettingValue("R", "Value"), std::nullopt);
}

// An override is this object's alone: another open of the same project (a
// run in another process) reads what is stored, and nothing is stored.
TEST_F(SettingsTest, AnOverrideStaysWithItsObject) {
  auto other = Project::Open(dir());
  project().OverrideSetting("AnalysisDetails", "DebugMode", host::Value{true});
  auto debug = [](Project& p) {
    return p.Settings().GetSetting(1, 3, "analysisdetails", "debugmode", host::Value{false});
  };
  EXPECT_EQ(debug(project()), host::Value{true});
  EXPECT_EQ(debug(*other), host::Value{false});
  EXPECT_EQ(project().GetSettingValue("AnalysisDetails", "DebugMode"), std::nullopt);
  project().OverrideSetting("AnalysisDetails", "DebugMode", host::Value{});
  EXPECT_EQ(debug(project()), host::Value{false});
}

TEST_F(SettingsTest, ConvertUnits) {
  for (auto c : pramble::testing::ReadTable("host_project/convert_units.tsv")) {
    c.resize(4);
    for (auto at = c[3].find("\\n"); at != std::string::npos; at = c[3].find("\\n"))
      c[3].replace(at, 2, "\n");
    TextLog log;
    std::string factor = "unset";
    const bool ok = engine_.GetConvertUnits(factor, c[0], c[1], c[2], project(), log);
    EXPECT_EQ(ok ? factor + log.Contents() : log.Contents(), c[3]) << c[0] << " " << c[1];
    EXPECT_EQ(ok ? "ok" : factor + std::to_string(log.Severity()), ok ? "ok" : "unset2");
  }
}

TEST_F(SettingsTest, EngineLibrarySettingThenEnvironmentThenBuild) {
  ScopedEnv env("PRAMBLE_QUOX_ARCHIVE", std::nullopt);
  EXPECT_EQ(engine_.GetEngineLibrary("Quox", project(), log_, false), "quox");
  EXPECT_EQ(engine_.GetEngineLibrary("Quox", project(), log_, true), PRAMBLE_QUOX_ARCHIVE);
  ::setenv("PRAMBLE_QUOX_ARCHIVE", "/env/quox_1.tar.gz", 1);
  EXPECT_EQ(engine_.GetEngineLibrary("quox", project(), log_, true), "/env/quox_1.tar.gz");
  Set("R", "QuoxArchive", std::string("/it's/quox.tar.gz"));
  EXPECT_EQ(engine_.GetEngineLibrary("Quox", project(), log_, true), "/it\\'s/quox.tar.gz");
  EXPECT_EQ(log_.Contents(), "");
  EXPECT_EQ(engine_.GetEngineLibrary("Other", project(), log_, false), "");
  EXPECT_EQ(log_.Contents(),
            "Error: Unknown analysis engine 'Other': only the Quox engine is available.\n");
}

TEST_F(SettingsTest, SupportFunctionsFileExistingOrMessage) {
  ScopedEnv env("PRAMBLE_QUOX_SUPPORT_FILE", std::nullopt);
  const std::string file = temp_ / "my support's.R";
  pramble::testing::WriteFile(file, "f <- 1\n");
  EXPECT_EQ(engine_.GetSupportFunctionsFile("Quox", project(), log_, true),
            PRAMBLE_QUOX_SUPPORT_FILE);
  Set("R", "SupportFunctionsFile", file);
  EXPECT_EQ(engine_.GetSupportFunctionsFile("Quox", project(), log_, true),
            temp_.path() + "/my support\\'s.R");
  EXPECT_EQ(engine_.GetSupportFunctionsFile("Quox", project(), log_, false), "my support's.R");
  EXPECT_EQ(log_.Contents(), "");
  Set("R", "SupportFunctionsFile", temp_ / "gone.R");
  EXPECT_EQ(engine_.GetSupportFunctionsFile("Quox", project(), log_, true), "");
  EXPECT_EQ(log_.Contents(), "Error: The R support functions file '" + (temp_ / "gone.R") +
                                 "' does not exist. Set R/SupportFunctionsFile to the file "
                                 "quox_support.R.\n");
}

TEST_F(SettingsTest, PlotSettingsDefaultsAndSettings) {
  host::PlotSettings plot;
  const auto all = [&] {
    return plot.format + "," + plot.width + "," + plot.height + "," + plot.point_size + "," +
           plot.quality + "," + plot.lwd + "," + plot.lty + "," + plot.pch + "," + plot.cex;
  };
  EXPECT_TRUE(engine_.GetPlotSettings(plot, project(), log_));
  EXPECT_EQ(all(), "png,600,600,12,75,2,1,1,1");
  Set("Plot", "Format", std::string("jpeg"));
  Set("Plot", "Width", std::int64_t{800});
  Set("Plot", "Cex", 1.5);
  EXPECT_TRUE(engine_.GetPlotSettings(plot, project(), log_));
  EXPECT_EQ(all(), "jpeg,800,600,12,75,2,1,1,1.5");
  BreakSettings();
  EXPECT_FALSE(engine_.GetPlotSettings(plot, project(), log_));
  EXPECT_EQ(all(), "png,600,600,12,75,2,1,1,1");
  EXPECT_TRUE(pramble::testing::Has(log_.Contents(), "Error: Could not read the plot settings: "))
      << log_.Contents();
}

TEST_F(SettingsTest, EnginePath) {
  EventLoop loop;
  PosixRProcess runner(loop);
  EXPECT_EQ(runner.GetEnginePath(project()), "/usr/bin/R");
  EXPECT_EQ(runner.ErrorMessage(), "");
  Set("R", "EnginePath", std::string("/usr/bin/R"));
  EXPECT_EQ(runner.GetEnginePath(project()), "/usr/bin/R");
  Set("R", "EnginePath", std::string(" Rscript "));
  EXPECT_EQ(runner.GetEnginePath(project()), "/usr/bin/Rscript");
  Set("R", "EnginePath", temp_ / "nowhere/R");
  EXPECT_EQ(runner.GetEnginePath(project()), "");
  EXPECT_EQ(runner.ErrorMessage(),
            "R could not be found: the setting R/EnginePath names '" + (temp_ / "nowhere/R") +
                "', which is not an executable file. Set it to the R program (for example: "
                "pramble settings DIR set R EnginePath /usr/bin/R) or clear it to use R from "
                "the PATH.");
  Set("R", "EnginePath", temp_.path());  // a folder is no program
  EXPECT_EQ(runner.GetEnginePath(project()), "");
  Set("R", "EnginePath", std::string(""));
  {
    ScopedEnv path("PATH", temp_.path());
    EXPECT_EQ(runner.GetEnginePath(project()), "");
    EXPECT_EQ(runner.ErrorMessage(),
              "R could not be found on the PATH. Install R (the Debian package r-base-core) "
              "or set the setting R/EnginePath to the R program (for example: pramble "
              "settings DIR set R EnginePath /usr/bin/R).");
  }
  BreakSettings();
  EXPECT_EQ(runner.GetEnginePath(project()), "");
  EXPECT_TRUE(pramble::testing::Has(
      runner.ErrorMessage(), "R could not be found: the setting R/EnginePath cannot be read: "))
      << runner.ErrorMessage();
}

}  // namespace
}  // namespace pramble::sqlhost::test
