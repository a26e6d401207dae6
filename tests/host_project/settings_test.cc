// Settings on a real project: kept with their type, overridden per object,
// and read by the engine utilities and the R runner; unit conversion factors
// (tests/data/host_project/convert_units.tsv).
#include <sqlite3.h>

#include <deque>

#include "host_project/project_fixture.h"
#include "sqlhost/runner/event_loop.h"
#include "sqlhost/runner/posix_r_process.h"
#include "sqlhost/util/engine_utilities.h"
#include "sqlhost/util/text_log.h"

namespace pramble::sqlhost::test {
namespace {

using pramble::testing::Has;
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
    c[3] = pramble::testing::Fill(c[3], {{"\\n", "\n"}});
    TextLog log;
    std::string factor = "unset";
    const bool ok = engine_.GetConvertUnits(factor, c[0], c[1], c[2], project(), log);
    EXPECT_EQ(ok ? factor + log.Contents() : log.Contents(), c[3]) << c[0] << " " << c[1];
    EXPECT_EQ(ok ? "ok" : factor + std::to_string(log.Severity()), ok ? "ok" : "unset2");
  }
}

// The steps of tests/data/host_project/settings_script.tsv: settings and
// environment set, and what the engine utilities and the runner then read.
// "<area>" is the test's folder; an expected text ending in "..." is a start.
TEST_F(SettingsTest, ReadByTheEngineUtilitiesAndTheRunner) {
  std::deque<std::string> names;  // ScopedEnv keeps the name's address
  std::vector<std::unique_ptr<ScopedEnv>> env;
  EventLoop loop;
  PosixRProcess runner(loop);
  host::PlotSettings plot;
  for (auto step : pramble::testing::ReadTable("host_project/settings_script.tsv")) {
    step.resize(4);
    for (auto& part : step)
      part = pramble::testing::Fill(part, {{"<area>", temp_.path()},
                                           {"<archive>", PRAMBLE_QUOX_ARCHIVE},
                                           {"<support>", PRAMBLE_QUOX_SUPPORT_FILE}, {"\\n", "\n"}});
    const std::string &op = step[0], &a = step[1], &b = step[2];
    SCOPED_TRACE(op + " " + a + " " + b);
    std::string got;
    if (op == "env") {
      env.push_back(std::make_unique<ScopedEnv>(
          names.emplace_back(a).c_str(),
          b == "<unset>" ? std::nullopt : std::optional<std::string>(b)));
    } else if (op == "set") {
      const std::string section = a.substr(0, a.find('/')), key = a.substr(a.find('/') + 1);
      const bool number = !b.empty() && b.find_first_not_of("0123456789.") == std::string::npos;
      Set(section, key, !number ? host::Value{b}
                        : Has(b, ".") ? host::Value{std::stod(b)}
                                      : host::Value{std::int64_t{std::stoll(b)}});
    } else if (op == "file") {
      pramble::testing::WriteFile(a, b);
    } else if (op == "library") {
      got = engine_.GetEngineLibrary(a, project(), log_, b == "archive");
    } else if (op == "support") {
      got = engine_.GetSupportFunctionsFile(a, project(), log_, b == "archive");
    } else if (op == "plot") {
      got = engine_.GetPlotSettings(plot, project(), log_) ? "" : "failed: ";
      got += plot.format + "," + plot.width + "," + plot.height + "," + plot.point_size + "," +
             plot.quality + "," + plot.lwd + "," + plot.lty + "," + plot.pch + "," + plot.cex;
    } else if (op == "engine path") {
      got = runner.GetEnginePath(project()) + "|";
      got += runner.ErrorMessage();
    } else if (op == "log") {
      got = log_.Contents();
      log_ = TextLog();
    } else if (op == "break") {
      BreakSettings();
    } else {
      ADD_FAILURE() << "unknown step";
    }
    if (step[3].size() > 3 && step[3].substr(step[3].size() - 3) == "...")
      EXPECT_EQ(got.substr(0, step[3].size() - 3), step[3].substr(0, step[3].size() - 3)) << got;
    else
      EXPECT_EQ(got, step[3]);
  }
  while (!env.empty()) env.pop_back();  // the last set goes first
}

}  // namespace
}  // namespace pramble::sqlhost::test
