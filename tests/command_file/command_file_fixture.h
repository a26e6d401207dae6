// The fixture of the command file tests: a real project (SQLite host, real
// services on the thread), a fresh run log, a command folder, and a
// CClsInputFileMaker set up the way the engine sets it up for analysis 7 of
// the example survey. Expected R text is written with the placeholders of
// docs/command-file.md and expanded with the values the real host gives.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "errors/c_mod_global.h"
#include "sqlhost/project/project.h"
#include "pramble/host/services.h"
#include "pramble/host/value.h"
#include "pramble/input_file_maker.h"
#include "support/test_project.h"

namespace pramble {

inline constexpr char kSurvey[] =
    "Type Line; Distance Perp; Object Cluster; Configuration d; PDist /Fld=distance; "
    "CSize /Fld=size; ObjID /Fld=object; Obs /Fld=observer; Detected /Fld=detected; "
    "Area /Fld=Area; Effort /Fld=\"Line length\";";
inline constexpr char kFilter[] = "Distance /Width=50 /Left=0;";
inline constexpr char kModel[] =
    "Method io; DSModel /Method=cds /Key=hn /Formula=1; "
    "MRModel /Method=glm /Link=logit /Formula=distance; Control /Showit=0; "
    "Diagnostics /Plot=T /GOF=T; Detection T; Density T /VarFlag=1 /PrintOptions=1;";

// What one MakeFile call is given.
struct RunInput {
  std::string survey = kSurvey;
  std::string filter = kFilter;
  std::string model = kModel;
  bool run_ddf = true;
  bool run_dht = true;
  std::int32_t id = 7;
  std::string distance_units = "Meter";
};

// A setting stored before the run (section, key, value).
struct StoredSetting {
  std::string section;
  std::string key;
  host::Value value;
};

class CommandFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project_ = pramble::testing::TestProject::FromExample();
    gLog = host::CurrentServices().NewLog();
    cmd_ = std::make_unique<pramble::testing::TempDir>();
  }
  void TearDown() override { gLog.reset(); }

  std::shared_ptr<host::ProjectDatabase> project() const { return project_->project(); }
  const std::string& cmd() const { return cmd_->path(); }
  std::string CmdPath(const std::string& name) const {
    return cmd() + host::CurrentServices().Files().PathSeparator() + name;
  }

  void Store(const std::vector<StoredSetting>& settings) {
    for (const StoredSetting& s : settings)
      project()->Settings().SaveSetting(1, SettingKind(s.value), s.section, s.key, s.value);
  }
  host::Value Stored(const std::string& section, const std::string& key) {
    return project()->Settings().GetSetting(1, 3, section, key);
  }
  // The plot settings that the host's GetPlotSettings reads.
  void StorePlot(const std::string& format, const std::string& quality = "75") {
    Store({{"Plot", "Format", format}, {"Plot", "Width", std::string("6")},
           {"Plot", "Height", std::string("5")}, {"Plot", "PointSize", std::string("12")},
           {"Plot", "Quality", quality}, {"Plot", "Lwd", std::string("2")},
           {"Plot", "Lty", std::string("1")}, {"Plot", "Pch", std::string("19")},
           {"Plot", "Cex", std::string("0.8")}});
  }

  // A maker set up as the engine sets it up.
  std::unique_ptr<CClsInputFileMaker> NewMaker(const RunInput& run) const {
    auto maker = std::make_unique<CClsInputFileMaker>();
    maker->ProjectDatabase(project());
    maker->ID(run.id);
    maker->SurveyDefinition(run.survey);
    maker->DataFilterDefinition(run.filter);
    maker->ModelDefinitionDefinition(run.model);
    maker->CmdFolder(cmd());
    maker->DistanceMeasureUnits(run.distance_units);
    maker->EffortMeasureUnits("Kilometer");
    maker->AreaMeasureUnits("Square kilometer");
    maker->DdfDataFile(CmdPath("ddf.dat.r"));
    maker->RegionDataFile(CmdPath("region.dat.r"));
    maker->SampleDataFile(CmdPath("sample.dat.r"));
    maker->ObsDataFile(CmdPath("obs.dat.r"));
    return maker;
  }

  // Runs MakeFile; `text` receives the command file (or "" when none was written).
  bool Make(const RunInput& run, std::string* text) {
    auto maker = NewMaker(run);
    bool run_ddf = run.run_ddf;
    bool run_dht = run.run_dht;
    const bool ok = maker->MakeFile(run_ddf, run_dht);
    EXPECT_EQ(run_ddf, run.run_ddf);
    EXPECT_EQ(run_dht, run.run_dht);
    *text = Exists(maker->InputFile()) ? pramble::testing::ReadFile(maker->InputFile()) : "";
    return ok;
  }

  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  // `templ` with LF line ends turned into CR LF and the placeholders of
  // docs/command-file.md replaced by the host's values for analysis `id`.
  std::string Expand(const std::string& templ, std::int32_t id = 7) {
    host::Services& services = host::CurrentServices();
    host::EngineUtilities& engine = services.Engine();
    host::StringUtilities& strings = services.Strings();
    host::ProjectDatabase& p = *project();
    std::unique_ptr<host::Log> log = services.NewLog();  // keeps the run log clean
    host::PlotSettings plot;
    engine.GetPlotSettings(plot, p, *log);
    std::string convert_units;
    engine.GetConvertUnits(convert_units, "Meter", "Kilometer", "Square kilometer", p, *log);
    const std::pair<std::string, std::string> values[] = {
        {"{ID}", std::to_string(id)},
        {"{PKG}", engine.GetEngineLibrary("Quox", p, *log, false)},
        {"{PKGPATH}", engine.GetEngineLibrary("Quox", p, *log, true)},
        {"{SUPPORT}", engine.GetSupportFunctionsFile("Quox", p, *log, true)},
        {"{RES}", strings.RPath(CmdPath("res.r"))},
        {"{STAT}", strings.RPath(CmdPath("stat.r"))},
        {"{DDFDATA}", strings.RPath(CmdPath("ddf.dat.r"))},
        {"{REGION}", strings.RPath(CmdPath("region.dat.r"))},
        {"{SAMPLE}", strings.RPath(CmdPath("sample.dat.r"))},
        {"{OBS}", strings.RPath(CmdPath("obs.dat.r"))},
        {"{PW}", plot.width},
        {"{PH}", plot.height},
        {"{PS}", plot.point_size},
        {"{LWD}", plot.lwd},
        {"{LTY}", plot.lty},
        {"{PCH}", plot.pch},
        {"{CEX}", plot.cex},
        {"{CU}", convert_units},
    };
    std::string text;
    for (char c : templ) {
      if (c == '\n') text += '\r';
      text += c;
    }
    for (const auto& [placeholder, value] : values) {
      for (std::size_t at = text.find(placeholder); at != std::string::npos;
           at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
      }
    }
    return text;
  }

  // True when `block` (expanded) stands in `text` as whole lines.
  bool HasLines(const std::string& text, const std::string& block, std::int32_t id = 7) {
    return ("\r\n" + text).find("\r\n" + Expand(block, id) + "\r\n") != std::string::npos;
  }

  // The run log holds `message` and its highest level is `level`.
  static void ExpectLogged(const std::string& message, std::int32_t level) {
    ASSERT_TRUE(gLog);
    EXPECT_NE(gLog->Contents().find(message), std::string::npos)
        << "missing \"" << message << "\" in log:\n"
        << gLog->Contents();
    EXPECT_EQ(gLog->Severity(), level) << gLog->Contents();
  }

 private:
  static std::int32_t SettingKind(const host::Value& v) {
    return std::holds_alternative<bool>(v) ? 3 : 2;
  }

  std::unique_ptr<pramble::testing::TestProject> project_;
  std::unique_ptr<pramble::testing::TempDir> cmd_;
};

}  // namespace pramble
