// The whole command file: its layout byte for byte, the package block and its
// setting, the clean-up block, the file names, and that R parses the result.
#include <cstdlib>
#include <string>

#include "command_file/command_file_fixture.h"

namespace pramble {
namespace {

// Both parts, ForceLoadLibrary False, EchoData True, one factor, no
// intervals, Plot and GOF, PrintOptions 1, format wmf, RemoveNewObjects True.
constexpr char kFullLayout[] = R"(if(sum(.packages(all=T)=='{PKG}')==0) 
  install.packages('{PKGPATH}', repos=NULL)
library({PKG})
source('{SUPPORT}')
file.create('{RES}')
file.create('{STAT}')

ddf.dat.{ID}<-read.table(file='{DDFDATA}', header=TRUE, sep='\t', comment.char='')
check.factor.vars(ddf.dat.{ID}, c('sex'))
ddf.dat.{ID}$sex<-as.factor(ddf.dat.{ID}$sex)
print(ddf.dat.{ID})

ddf.{ID}<-ddf(method='io',dsmodel=~cds(key='hn',formula=~1),mrmodel=~glm(link='logit',formula=~distance),control=list(showit=0),data=ddf.dat.{ID},meta.data=list(width=50,left=0))

ddf.summary.{ID}<-summary(ddf.{ID})
sink(file='{RES}',append=T)
cat('\tDetection Fct/Summary\t\n')
ddf.summary.{ID}
sink()
win.metafile(filename='qq.{ID}.%02d.wmf',width={PW},height={PH},pointsize={PS})
ddf.gof.{ID}<-ddf.gof(ddf.{ID},lwd={LWD},lty={LTY},pch={PCH},cex={CEX})
dev.off()
sink(file='{RES}',append=T)
cat('\tDetection Fct/Plot: Qq-plot\t\n')
cat('\tDetection Fct/GOF\t\n')
ddf.gof.{ID}
sink()
win.metafile(filename='ddf.{ID}.%02d.wmf',width={PW},height={PH},pointsize={PS})
plot(ddf.{ID},maintitle=' ',lwd={LWD},lty={LTY},pch={PCH},cex={CEX})
dev.off()
sink(file='{RES}',append=T)
cat('\tDetection Fct/Plot: Detection Probability\t\n')
sink()
write.stats.ddf('{STAT}',F,ddf.{ID}, ddf.summary.{ID}, ddf.gof.{ID})

region.dat.{ID}<-read.table(file='{REGION}', header=TRUE, sep='\t', comment.char='')
sample.dat.{ID}<-read.table(file='{SAMPLE}', header=TRUE, sep='\t', comment.char='')
obs.dat.{ID}<-read.table(file='{OBS}', header=TRUE, sep='\t', comment.char='')
print(region.dat.{ID})
print(sample.dat.{ID})
print(obs.dat.{ID})

dht.{ID}<-dht(ddf.{ID},region.dat.{ID},sample.dat.{ID},obs.dat.{ID},se=T,options=list(varflag=1,convert.units={CU}))
sink(file='{RES}',append=T)
cat('\tDensity Estimates and associated quantities\t\n')
print(dht.{ID},cor=T,bysample=T,vcmatrices=T)
sink()

write.stats.dht('{STAT}',T,dht.{ID})

rm(ddf.dat.{ID},ddf.{ID},ddf.summary.{ID})
rm(ddf.gof.{ID})
rm(region.dat.{ID},sample.dat.{ID},obs.dat.{ID},dht.{ID})
remove.quox.support.functions()
)";

constexpr char kPackageBlock[] = R"(install.packages('{PKGPATH}', repos=NULL)
library({PKG})
source('{SUPPORT}')
file.create('{RES}')
file.create('{STAT}')

)";

TEST_F(CommandFileTest, FullLayoutByteForByte) {
  Store({{"R", "ForceLoadLibrary", false},
         {"AnalysisDetails", "EchoData", true},
         {"R", "RemoveNewObjects", true}});
  StorePlot("wmf");
  RunInput run;
  run.model = std::string(kModel) + " Factors sex;";
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  EXPECT_EQ(text, Expand(kFullLayout));
  EXPECT_EQ(pramble::testing::ReadFile(CmdPath("log.r")), "");
  EXPECT_EQ(gLog->Severity(), 0) << gLog->Contents();
}

TEST_F(CommandFileTest, NeitherPartGivesPackageBlockAndCleanUp) {
  RunInput run;
  run.run_ddf = false;
  run.run_dht = false;
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  EXPECT_EQ(text, Expand(std::string(kPackageBlock) + "remove.quox.support.functions()\n"));
}

TEST_F(CommandFileTest, RemoveNewObjectsFalseWritesNoCleanUp) {
  Store({{"R", "RemoveNewObjects", false}});
  RunInput run;
  run.run_ddf = false;
  run.run_dht = false;
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  EXPECT_EQ(text, Expand(kPackageBlock));
}

// ForceLoadLibrary: absent or True installs unconditionally and stores False;
// False guards the install line.
struct ForceLoadCase {
  const char* name;
  bool store;
  bool value;
  bool guarded;
};

class ForceLoadLibrary : public CommandFileTest,
                         public ::testing::WithParamInterface<ForceLoadCase> {};

TEST_P(ForceLoadLibrary, GuardsInstallAndStoresFalse) {
  const ForceLoadCase& c = GetParam();
  if (c.store) Store({{"R", "ForceLoadLibrary", c.value}});
  RunInput run;
  run.run_ddf = false;
  run.run_dht = false;
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  const std::string guard = "if(sum(.packages(all=T)=='{PKG}')==0) \n  ";
  EXPECT_EQ(text, Expand((c.guarded ? guard : std::string()) + kPackageBlock +
                         "remove.quox.support.functions()\n"));
  EXPECT_FALSE(host::ToBool(Stored("R", "ForceLoadLibrary")));

  // The next file always has the guard.
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  EXPECT_EQ(text.rfind(Expand(guard), 0), 0u) << text;
}

INSTANTIATE_TEST_SUITE_P(Settings, ForceLoadLibrary,
                         ::testing::Values(ForceLoadCase{"Absent", false, false, false},
                                           ForceLoadCase{"True", true, true, false},
                                           ForceLoadCase{"False", true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandFileTest, ObjectNamesCarryTheId) {
  RunInput run;
  run.id = 12;
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  for (const char* line : {"rm(ddf.dat.12,ddf.12,ddf.summary.12)", "rm(ddf.gof.12)",
                           "rm(region.dat.12,sample.dat.12,obs.dat.12,dht.12)"}) {
    EXPECT_TRUE(HasLines(text, line)) << line << "\n" << text;
  }
}

// A host drives the class alone: no engine and no run log of its own.
TEST_F(CommandFileTest, HostDrivesTheClassAlone) {
  gLog.reset();
  pramble::CClsInputFileMaker maker;
  maker.ProjectDatabase(project());
  maker.ID(3);
  maker.SurveyDefinition(kSurvey);
  maker.DataFilterDefinition("Distance /Width=40 /Intervals=0,20,40;");
  maker.ModelDefinitionDefinition("Method trial; DSModel /Method=cds /Key=hr /Formula=1;");
  maker.CmdFolder(cmd());
  maker.DdfDataFile(CmdPath("data.txt"));
  maker.InputFile(CmdPath("commands.r"));  // a caller's name is kept, an empty one defaulted
  maker.ResultsFile(CmdPath("out.txt"));
  bool run_ddf = true, run_dht = false;
  ASSERT_TRUE(maker.MakeFile(run_ddf, run_dht));
  EXPECT_EQ(maker.InputFile(), CmdPath("commands.r"));
  EXPECT_EQ(maker.LogFile(), CmdPath("log.r"));
  EXPECT_EQ(maker.StatsFile(), CmdPath("stat.r"));
  EXPECT_FALSE(Exists(CmdPath("in.r")));
  EXPECT_EQ(pramble::testing::ReadFile(maker.LogFile()), "");
  const std::string text = pramble::testing::ReadFile(maker.InputFile());
  EXPECT_NE(text.find("\r\nddf.3<-ddf(method='trial',dsmodel=~cds(key='hr',formula=~1),"
                      "data=ddf.dat.3,meta.data=list(width=40,binned=T))\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("sink(file='" + host::CurrentServices().Strings().RPath(CmdPath("out.txt")) +
                      "',append=T)"),
            std::string::npos);
}

// The file for the example project's own definitions is R that R parses.
TEST_F(CommandFileTest, ExampleFileParsesInR) {
  Store({{"R", "ForceLoadLibrary", false}, {"AnalysisDetails", "EchoData", true}});
  RunInput run;
  run.model = std::string(kModel) + " Factors sex,size; Stratification Stratify /LayerType=10;";
  run.filter = "Distance /Width=50 /Left=0 /Intervals=0,10,20,30,50;";
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  const std::string command =
      "Rscript --vanilla -e \"invisible(parse(file='" + CmdPath("in.r") + "'))\"";
  EXPECT_EQ(std::system(command.c_str()), 0) << text;
}

}  // namespace
}  // namespace pramble
