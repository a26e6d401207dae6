// When MakeFile answers False: every refusal with its message, a step's own
// error source when it fails unexpectedly, no support-functions file, and a
// command file or log file that cannot be written. A refused file leaves
// nothing behind.
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "command_file/command_file_fixture.h"
#include "support/forwarding_file_system.h"

namespace pramble {
namespace {

// The real file system, except that writing the file whose path ends in
// `broken` answers False.
class FaultyFiles : public pramble::testing::ForwardingFileSystem {
 public:
  FaultyFiles(host::FileSystem& target, std::string broken)
      : ForwardingFileSystem(target), broken_(std::move(broken)) {}
  bool WriteTextFile(const std::string& file, const std::string& text) override {
    if (file.ends_with(broken_)) return false;
    return ForwardingFileSystem::WriteTextFile(file, text);
  }

 private:
  std::string broken_;
};

// The real host with WriteTextFile broken for one file.
class FaultyServices : public host::ServicesWrapper {
 public:
  FaultyServices(host::Services* target, std::string broken)
      : host::ServicesWrapper(target), files_(target->Files(), std::move(broken)) {}
  host::FileSystem& Files() override { return files_; }

 private:
  FaultyFiles files_;
};

struct RefusalCase {
  const char* name;
  RunInput run;
  std::vector<StoredSetting> settings;
  std::string message;
  std::int32_t level;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }


RunInput With(std::string survey, std::string filter, std::string model, bool run_ddf = true,
             bool run_dht = true) {
  RunInput run;
  run.survey = std::move(survey);
  run.filter = std::move(filter);
  run.model = std::move(model);
  run.run_ddf = run_ddf;
  run.run_dht = run_dht;
  return run;
}

const std::string kRtruncate =
    "Data filter specifies right truncation as a percentage of the distances. This option is not "
    "allowed in the current version of the Quox engine - you must truncate at a specified "
    "distance.";

class Refusals : public CommandFileTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, LogsWhyAndWritesNoFile) {
  const RefusalCase& c = GetParam();
  Store(c.settings);
  std::string text;
  EXPECT_FALSE(Make(c.run, &text));
  EXPECT_FALSE(Exists(CmdPath("in.r")));
  EXPECT_FALSE(Exists(CmdPath("log.r")));
  ExpectLogged(c.message, c.level);
}

const RefusalCase kRefusals[] = {
    // --- refused definitions
    {"DistanceMissing", With(kSurvey, "Units /Area=Hectare;", kModel), {},
     "Cannot find the Distance command in the Data Filter Definition.", 2},
    {"Rtruncate", With(kSurvey, "Distance /Width=50 /Rtruncate=10;", kModel), {}, kRtruncate, 2},
    {"RtruncateAnyCase", With(kSurvey, "Distance /rtruncate=10 /Width=50;", kModel), {},
     kRtruncate, 2},
    {"NClass", With(kSurvey, "Distance /Width=50 /NClass=5;", kModel), {},
     "This version of the Quox engine cannot deal with automatic equal intervals.", 2},
    {"DetectionMissing", With(kSurvey, kFilter, "Density T /VarFlag=1;", false), {},
     "Could not find 'Detection' command in Model definition.", 2},
    {"DetectionNotANumber", With(kSurvey, kFilter, "Detection abc; Density T /VarFlag=1;", false),
     {}, "Invalid 'Detection' command value 'abc' in the Model definition.", 2},
    {"DensityMissing", With(kSurvey, kFilter, "Detection T;", false), {},
     "Could not find 'Density' command in Model definition.", 2},
    {"ObjectMissing", With("Type Line; Distance Perp; PDist /Fld=distance;", kFilter, kModel), {},
     "Could not find 'Object' command in Survey definition.", 2},

    // --- a step that fails unexpectedly logs its own error source
    {"DetectionTooLarge",
     With(kSurvey, kFilter, "Detection 3000000000; Density T /VarFlag=1;", false), {},
     "InputFileMaker.AppendRunDhtString", 3},
    {"BadForceLoadSetting", RunInput{}, {{"R", "ForceLoadLibrary", std::string("sometimes")}},
     "InputFileMaker.AppendLinkQuoxLibraryString", 3},
    {"BadRemoveNewObjectsSetting", RunInput{},
     {{"R", "RemoveNewObjects", std::string("sometimes")}},
     "InputFileMaker.AppendRemoveNewObjectsString", 3},
    {"BadEchoDataSetting", RunInput{}, {{"AnalysisDetails", "EchoData", std::string("often")}},
     "InputFileMaker.AppendGetDdfDataString", 3},
    {"BadEchoDataSettingDensityOnly", With(kSurvey, kFilter, kModel, false),
     {{"AnalysisDetails", "EchoData", std::string("often")}},
     "InputFileMaker.AppendGetDhtDataString", 3},
};

INSTANTIATE_TEST_SUITE_P(Cases, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// The write failures name the file in full. (When only the log file cannot be
// written the command file stays; the caller starts no R on it.)
TEST_F(CommandFileTest, UnwritableFilesAreNamed) {
  for (const char* name : {"in.r", "log.r"}) {
    gLog = host::CurrentServices().NewLog();
    FaultyServices faulty(&host::CurrentServices(), name);
    host::ScopedServices installed(&faulty);
    std::string text;
    EXPECT_FALSE(Make(RunInput{}, &text));
    const std::string what = std::string(name) == "in.r" ? "command" : "log";
    ExpectLogged("Could not write the R " + what + " file '" + CmdPath(name) + "'.", 2);
  }
}

// No support-functions file: the host says why; the step adds nothing.
TEST_F(CommandFileTest, MissingSupportFileIsReportedByTheHostOnly) {
  Store({{"R", "SupportFunctionsFile", CmdPath("missing.R")}});
  std::string text;
  EXPECT_FALSE(Make(RunInput{}, &text));
  EXPECT_FALSE(Exists(CmdPath("in.r")));
  EXPECT_FALSE(Exists(CmdPath("log.r")));
  EXPECT_NE(gLog->Contents(), "");
  EXPECT_EQ(gLog->Contents().find("InputFileMaker"), std::string::npos) << gLog->Contents();
}

// A unit the host cannot convert: the host says why; the step adds nothing.
TEST_F(CommandFileTest, UnknownUnitIsReportedByTheHostOnly) {
  RunInput run;
  run.distance_units = "Furlong";
  std::string text;
  EXPECT_FALSE(Make(run, &text));
  EXPECT_FALSE(Exists(CmdPath("in.r")));
  EXPECT_NE(gLog->Contents(), "");
  EXPECT_EQ(gLog->Contents().find("InputFileMaker"), std::string::npos) << gLog->Contents();
}

TEST_F(CommandFileTest, ProjectNotSetIsAnUnexpectedError) {
  auto maker = NewMaker(RunInput{});
  maker->ProjectDatabase(nullptr);
  bool run_ddf = true, run_dht = true;
  EXPECT_FALSE(maker->MakeFile(run_ddf, run_dht));
  EXPECT_FALSE(Exists(CmdPath("in.r")));
  ExpectLogged("InputFileMaker.AppendLinkQuoxLibraryString", 3);
}

}  // namespace
}  // namespace pramble
