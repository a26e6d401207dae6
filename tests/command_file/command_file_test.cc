// The R command file of analysis 7 of the example survey, one case per entry
// of tests/data/command_file/cases.txt: whole files (the goldens the R
// package's tests run too), the lines each command and option gives, and the
// refusals with their messages. Expected text has the placeholders of
// docs/command-file.md, filled in with what the real host gives.
#include <gtest/gtest.h>

#include <filesystem>

#include "errors/c_mod_global.h"
#include "pramble/host/services.h"
#include "pramble/host/value.h"
#include "pramble/input_file_maker.h"
#include "sqlhost/project/project.h"
#include "sqlhost/services/default_services.h"
#include "support/faults.h"
#include "support/test_project.h"

namespace pramble::testing {

namespace {

constexpr char kSurvey[] =
    "Type Line; Distance Perp; Object Cluster; Configuration d; PDist /Fld=distance; "
    "CSize /Fld=size; ObjID /Fld=object; Obs /Fld=observer; Detected /Fld=detected; "
    "Area /Fld=Area; Effort /Fld=\"Line length\";";
constexpr char kModel[] =
    "Method io; DSModel /Method=cds /Key=hn /Formula=1; "
    "MRModel /Method=glm /Link=logit /Formula=distance; Control /Showit=0; "
    "Diagnostics /Plot=T /GOF=T; Detection T; Density T /VarFlag=1 /PrintOptions=1;";
constexpr char kGuard[] = "if(sum(.packages(all=T)=='{PKG}')==0) \n  ";

class CommandFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project_ = TestProject::FromExample();
    services_ = std::make_unique<FaultyServices>(&project_->services());
    installed_ = std::make_unique<host::ScopedServices>(services_.get());
    gLog = services_->NewLog();
  }
  void TearDown() override { gLog.reset(); }

  std::shared_ptr<host::ProjectDatabase> project() const { return project_->project(); }
  std::string CmdPath(const std::string& name) const { return cmd_ / name; }
  void Store(const std::string& section, const std::string& key, const std::string& value) {
    const bool boolean = value == "true" || value == "false";
    project()->Settings().SaveSetting(1, boolean ? 3 : 2, section, key,
                                      boolean ? host::Value{value == "true"} : host::Value{value});
  }

  // A maker set up as the engine sets it up.
  std::unique_ptr<CClsInputFileMaker> NewMaker(std::int32_t id, const std::string& units) {
    auto maker = std::make_unique<CClsInputFileMaker>();
    maker->ProjectDatabase(project());
    maker->ID(id);
    maker->CmdFolder(cmd_.path());
    maker->DistanceMeasureUnits(units);
    maker->EffortMeasureUnits("Kilometer");
    maker->AreaMeasureUnits("Square kilometer");
    maker->DdfDataFile(CmdPath("ddf.dat.r"));
    maker->RegionDataFile(CmdPath("region.dat.r"));
    maker->SampleDataFile(CmdPath("sample.dat.r"));
    maker->ObsDataFile(CmdPath("obs.dat.r"));
    return maker;
  }

  // `templ` with CR LF line ends and the placeholders filled in for analysis `id`.
  std::string Expand(const std::string& templ, std::int32_t id = 7) {
    host::EngineUtilities& engine = services_->Engine();
    host::StringUtilities& strings = services_->Strings();
    host::ProjectDatabase& p = *project();
    std::unique_ptr<host::Log> log = services_->target()->NewLog();  // keeps the run log clean
    host::PlotSettings plot;
    engine.GetPlotSettings(plot, p, *log);
    std::string units;
    engine.GetConvertUnits(units, "Meter", "Kilometer", "Square kilometer", p, *log);
    return Fill(Crlf(templ), {
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
        {"{CMD}", cmd_.path()},
        {"{PW}", plot.width}, {"{PH}", plot.height}, {"{PS}", plot.point_size},
        {"{LWD}", plot.lwd}, {"{LTY}", plot.lty}, {"{PCH}", plot.pch}, {"{CEX}", plot.cex},
        {"{CU}", units},
    });
  }

  std::unique_ptr<TestProject> project_;
  std::unique_ptr<FaultyServices> services_;
  std::unique_ptr<host::ScopedServices> installed_;
  TempDir cmd_;
};

class Cases : public CommandFileTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Cases, WritesTheFileOrRefuses) {
  const Case& c = GetParam();
  for (const std::string& setting : Words("Width=6 Height=5 PointSize=12 Quality=75 Lwd=2 Lty=1 "
                                          "Pch=19 Cex=0.8 Format=" + c.Get("format", "png")))
    Store("Plot", setting.substr(0, setting.find('=')), setting.substr(setting.find('=') + 1));
  for (const std::string& s : c.All("setting")) {
    const auto w = Words(s);
    Store(w[0], w[1], Expand(w[2]));
  }
  for (const std::string& b : c.All("break")) {
    const std::size_t space = b.find(' ');
    services_->faults.Break(b.substr(0, space), b.substr(space + 1));
  }
  const std::int32_t id = std::stoi(c.Get("id", "7"));
  const std::string parts = c.Get("parts", "ddf dht");
  auto make = [&] {
    auto maker = NewMaker(id, c.Get("units", "Meter"));
    maker->SurveyDefinition(c.Get("survey", kSurvey));
    maker->DataFilterDefinition(c.Get("filter", "Distance /Width=50 /Left=0;"));
    maker->ModelDefinitionDefinition(c.Get("model", kModel));
    if (c.Has("project")) maker->ProjectDatabase(nullptr);
    bool run_ddf = Has(parts, "ddf"), run_dht = Has(parts, "dht");
    const bool ok = maker->MakeFile(run_ddf, run_dht);
    EXPECT_EQ(run_ddf, Has(parts, "ddf"));
    EXPECT_EQ(run_dht, Has(parts, "dht"));
    return ok;
  };
  const bool ok = make();
  const std::string log = gLog->Contents();
  for (const std::string& part : Lines(c.Get("lacks"))) EXPECT_FALSE(Has(log, part)) << log;
  if (c.Has("level")) {
    EXPECT_FALSE(ok);
    // When only the log file cannot be written the command file stays; no R starts on it.
    EXPECT_EQ(std::filesystem::exists(CmdPath("in.r")), c.Has("written"));
    EXPECT_FALSE(std::filesystem::exists(CmdPath("log.r")));
    EXPECT_TRUE(Has(log, Expand(c.Get("message")))) << log;
    EXPECT_EQ(gLog->Severity(), std::stoi(c.Get("level"))) << log;
    return;
  }
  ASSERT_TRUE(ok) << log;
  EXPECT_EQ(gLog->Severity(), 0) << log;
  EXPECT_EQ(ReadFile(CmdPath("log.r")), "");
  const std::string text = ReadFile(CmdPath("in.r"));
  if (c.Has("golden")) {
    EXPECT_EQ(text, Expand(ReadFile(DataPath("command_file/" + c.Get("golden"))), id));
  }
  if (c.Has("exact")) { EXPECT_EQ(text, Expand(c.Get("exact"), id)); }
  for (std::string block : c.All("lines")) {
    block.pop_back();
    EXPECT_TRUE(Has("\r\n" + text, "\r\n" + Expand(block, id) + "\r\n"))
        << "missing:\n" << block << "\nin:\n" << text;
  }
  for (const std::string& absent : Lines(c.Get("absent")))
    EXPECT_FALSE(Has(text, Expand(absent, id))) << absent << "\nin:\n" << text;

  // The first file installs the package unconditionally; every later one asks first.
  EXPECT_FALSE(host::ToBool(project()->Settings().GetSetting(1, 3, "R", "ForceLoadLibrary")));
  ASSERT_TRUE(make());
  EXPECT_EQ(ReadFile(CmdPath("in.r")).rfind(Expand(kGuard), 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(CommandFile, Cases,
                         ::testing::ValuesIn(ReadCases("command_file/cases.txt")),
                         [](const auto& info) { return info.param.name; });

// A host drives the class alone: no engine and no run log of its own; a
// caller's file name is kept, an empty one defaulted.
TEST_F(CommandFileTest, HostDrivesTheClassAlone) {
  gLog.reset();
  CClsInputFileMaker maker;
  maker.ProjectDatabase(project());
  maker.ID(3);
  maker.SurveyDefinition(kSurvey);
  maker.DataFilterDefinition("Distance /Width=40 /Intervals=0,20,40;");
  maker.ModelDefinitionDefinition("Method trial; DSModel /Method=cds /Key=hr /Formula=1;");
  maker.CmdFolder(cmd_.path());
  maker.DdfDataFile(CmdPath("data.txt"));
  maker.InputFile(CmdPath("commands.r"));
  maker.ResultsFile(CmdPath("out.txt"));
  bool run_ddf = true, run_dht = false;
  ASSERT_TRUE(maker.MakeFile(run_ddf, run_dht));
  EXPECT_EQ(maker.InputFile(), CmdPath("commands.r"));
  EXPECT_EQ(maker.LogFile(), CmdPath("log.r"));
  EXPECT_EQ(maker.StatsFile(), CmdPath("stat.r"));
  EXPECT_FALSE(std::filesystem::exists(CmdPath("in.r")));
  EXPECT_EQ(ReadFile(maker.LogFile()), "");
  const std::string text = ReadFile(maker.InputFile());
  EXPECT_TRUE(Has(text, "\r\nddf.3<-ddf(method='trial',dsmodel=~cds(key='hr',formula=~1),"
                        "data=ddf.dat.3,meta.data=list(width=40,binned=T))\r\n"))
      << text;
  EXPECT_TRUE(Has(text, "sink(file='" + services_->Strings().RPath(CmdPath("out.txt")) +
                            "',append=T)"));
}

}  // namespace
}  // namespace pramble::testing
