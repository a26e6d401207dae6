// The analyses the engine refuses before any file is made, and what the
// definitions say the run must do. One project holds one analysis item per
// case; an item that passes goes on until the temporary folder, which the
// test withholds.
#include <filesystem>

#include "database_interface/database_interface_fixture.h"

namespace pramble::testing {
namespace {

constexpr char kPasses[] = "Could not obtain temporary folder name.";
constexpr char kSingleMethodAbsent[] = "Could not find 'Method' method in the model definition.";
constexpr char kSingleNeedsDs[] =
    "The survey configuration is single platform, but the Quox model definition detection "
    "function method is one of the double platform methods.  The only method that is allowed "
    "for single platform configurations is 'ds - single observer'.  Please check your model "
    "definition.";
constexpr char kNoNClass[] =
    "This version of the Quox engine does not automatic equal intervals - please use the data "
    "filter to manually specify the interval cutpoints.";
constexpr char kLeftMethodAbsent[] = "Could not find the Method command in the model definition.";
constexpr char kLeftNeedsDs[] =
    "This version of the Quox engine only supports left trunction of distance data when the "
    "detection function fitting method is ds (i.e. single observer).  We expect to add "
    "support for the other methods in a future version.";
constexpr char kNoConfiguration[] =
    "Could not find 'Configuration' command in the survey definition.";

struct RestrictionCase {
  const char* name;
  const char* configuration;  // the survey's Configuration command, "" for none
  const char* model;
  const char* filter;
  const char* message;        // the one level-2 message expected
};

const RestrictionCase kCases[] = {
    {"SingleDs", "Configuration s;", "Method ds; Detection T;", "Distance /Width=50 /Left=5;",
     kPasses},
    {"SingleDsAnyCase", "Configuration S;", "Method DS; Detection t;", "Distance /Width=50;",
     kPasses},
    {"SingleDoubleMethod", "Configuration s;", "Method io; Detection T;", "Distance /Width=50;",
     kSingleNeedsDs},
    {"SingleUpperCaseIsSingle", "Configuration S;", "Method trial; Detection T;",
     "Distance /Width=50;", kSingleNeedsDs},
    {"SingleNoMethod", "Configuration s;", "Detection T;", "Distance /Width=50;",
     kSingleMethodAbsent},
    {"SingleDensityOnlyNeverLooksAtMethod", "Configuration s;", "Density T;",
     "Distance /Width=50 /Left=5;", kPasses},
    {"DoubleNoLeft", "Configuration d;", "Method io; Detection T;", "Distance /Width=50;",
     kPasses},
    {"DoubleNoLeftNoMethod", "Configuration d;", "Detection T;", "Distance /Width=50;", kPasses},
    {"EmptyConfigurationIsDouble", "Configuration;", "Method io; Detection T;",
     "Distance /Width=50;", kPasses},
    {"DoubleDsWithLeft", "Configuration d;", "Method ds; Detection T;",
     "Distance /Width=50 /Left=5;", kPasses},
    {"DoubleLeftIsFirstCutpoint", "Configuration d;", "Method io; Detection T;",
     "Distance /Width=100 /Left=0 /Intervals=0,50,100;", kPasses},
    {"DoubleLeftComparedAsText", "Configuration d;", "Method io; Detection T;",
     "Distance /Width=100 /Left=0 /Intervals=0.0,50,100;", kLeftNeedsDs},
    {"DoubleLeftWithoutCutpoints", "Configuration d;", "Method io; Detection T;",
     "Distance /Width=50 /Left=5;", kLeftNeedsDs},
    {"LaterIntervalsOverride", "Configuration d;", "Method io; Detection T;",
     "Distance /Width=50 /Left=10 /Intervals=0,50 /Intervals=10,50;", kPasses},
    {"DoubleLeftNoMethod", "Configuration d;", "Detection T;", "Distance /Width=50 /Left=5;",
     kLeftMethodAbsent},
    {"OtherDetectionFitsNoFunction", "Configuration d;", "Method io; Detection 3; Density T;",
     "Distance /Width=50 /Left=5;", kPasses},
    {"NClass", "Configuration d;", "Method io; Detection T;", "Distance /Width=50 /NClass=5;",
     kNoNClass},
    {"NClassAfterIntervals", "Configuration d;", "Method io; Detection T;",
     "Distance /Width=50 /Intervals=0,25,50 /nclass=4;", kNoNClass},
    {"NClassInADensityOnlyRun", "Configuration d;", "Method io; Density T;",
     "Distance /Width=50 /NClass=5;", kNoNClass},
    {"NoDistanceCommand", "Configuration d;", "Method io; Detection T;", "", kPasses},
    {"NoConfiguration", "", "Method io; Detection T;", "Distance /Width=50;", kNoConfiguration},
};

constexpr char kSurveyRest[] =
    " Type Line; Distance Perp; Object Cluster; PDist /Fld=distance; CSize /Fld=size; "
    "ObjID /Fld=object; Obs /Fld=observer; Detected /Fld=detected; Area /Fld=Area; "
    "Effort /Fld=\"Line length\";";

// The example project with one item (ID 100 + case number) per case.
nlohmann::json RestrictionsProject() {
  nlohmann::json d = Description12();
  d["surveys"] = nlohmann::json::array();
  d["data_filters"] = nlohmann::json::array();
  d["model_definitions"] = nlohmann::json::array();
  d["analyses"] = nlohmann::json::array();
  int i = 0;
  for (const RestrictionCase& c : kCases) {
    const int id = 100 + i++;
    d["surveys"].push_back({{"id", id}, {"name", c.name},
                            {"definition", std::string(c.configuration) + kSurveyRest}});
    d["data_filters"].push_back({{"id", id}, {"name", c.name}, {"definition", c.filter}});
    d["model_definitions"].push_back({{"id", id}, {"name", c.name}, {"definition", c.model}});
    d["analyses"].push_back({{"id", id}, {"name", c.name}, {"survey", id}, {"data_filter", id},
                             {"model_definition", id}});
  }
  return d;
}

class RestrictionsTest : public DatabaseInterfaceFixture {
 protected:
  void SetUp() override {
    Open(RestrictionsProject());
    hooks_->NoTempFolder();
  }
};

TEST_F(RestrictionsTest, EachCaseEndsWithItsOneMessage) {
  int i = 0;
  for (const RestrictionCase& c : kCases) {
    SCOPED_TRACE(c.name);
    NewLog();
    auto dbi = NewInterface(false, 100 + i++);
    EXPECT_FALSE(dbi->MakeFiles());
    const std::string log = Contents();
    EXPECT_TRUE(Has(log, c.message)) << log;
    EXPECT_EQ(gLog->Severity(), 2);
    // Nothing else went wrong, and a refusal stops before the folder.
    for (const char* other : {kPasses, kSingleMethodAbsent, kSingleNeedsDs, kNoNClass,
                              kLeftMethodAbsent, kLeftNeedsDs, kNoConfiguration})
      if (std::string(other) != c.message) {
        EXPECT_FALSE(Has(log, other)) << other;
      }
    EXPECT_FALSE(Has(log, "Encountered an error"));
    EXPECT_EQ(dbi->CmdFolder(), "");
  }
}

using PreparationTest = DatabaseInterfaceFixture;

TEST_F(PreparationTest, CommandFolderWithAndWithoutTheLastSlash) {
  auto dbi = NewInterface();
  EXPECT_EQ(dbi->CmdFolder(), "");
  EXPECT_EQ(dbi->CmdFolder(true), "/");
  ASSERT_TRUE(dbi->MakeFiles()) << Contents();
  ASSERT_EQ(hooks_->created_folders().size(), 1u);
  const std::string folder = hooks_->created_folders()[0];
  EXPECT_EQ(dbi->CmdFolder(), folder);
  EXPECT_EQ(dbi->CmdFolder(true), folder + "/");
  EXPECT_EQ(dbi->InputFile(), folder + "/in.r");
  EXPECT_EQ(dbi->LogFile(), folder + "/log.r");
  EXPECT_EQ(ReadFile(dbi->LogFile()), "");
  EXPECT_FALSE(Has(Contents(), "Debug mode"));
  std::filesystem::remove_all(folder);
}

TEST_F(PreparationTest, DebugModeNamesTheFolderItKeeps) {
  auto dbi = NewInterface(true);
  ASSERT_TRUE(dbi->MakeFiles()) << Contents();
  const std::string folder = dbi->CmdFolder();
  std::string shown = tp_->services().Files().GetDisplayPath(folder, "");
  if (shown.empty()) shown = folder;
  EXPECT_TRUE(Has(Contents(), "Debug mode: R commands folder '" + shown + "' will not be deleted."))
      << Contents();
  std::filesystem::remove_all(folder);
}

// Neither Detection nor Density: the data queries are still made and a command
// file is asked for, but no data file is written.
TEST_F(PreparationTest, NothingToDoStillMakesTheCommandFile) {
  nlohmann::json d = Description12();
  d["model_definitions"][0]["definition"] = "Method io; Detection F; Density no;";
  Open(d);
  NewLog();
  auto dbi = NewInterface();
  ASSERT_TRUE(dbi->MakeFiles()) << Contents();
  const std::string folder = dbi->CmdFolder();
  EXPECT_TRUE(std::filesystem::exists(dbi->InputFile()));
  for (const char* name : {"ddf.dat.r", "region.dat.r", "sample.dat.r", "obs.dat.r"})
    EXPECT_FALSE(std::filesystem::exists(folder + "/" + name)) << name;
  std::filesystem::remove_all(folder);
}

TEST_F(PreparationTest, FolderThatCannotBeCreated) {
  hooks_->FailCreateFolder();
  auto dbi = NewInterface();
  EXPECT_FALSE(dbi->MakeFiles());
  ASSERT_EQ(hooks_->created_folders().size(), 1u);
  EXPECT_TRUE(Has(Contents(), "Could not create temporary folder '" +
                                  hooks_->created_folders()[0] + "'."))
      << Contents();
  EXPECT_EQ(gLog->Severity(), 2);
}

TEST_F(PreparationTest, NoTemporaryFolderName) {
  hooks_->NoTempFolder();
  auto dbi = NewInterface();
  EXPECT_FALSE(dbi->MakeFiles());
  EXPECT_TRUE(Has(Contents(), "Could not obtain temporary folder name.")) << Contents();
  EXPECT_TRUE(hooks_->created_folders().empty());
}

}  // namespace
}  // namespace pramble::testing
