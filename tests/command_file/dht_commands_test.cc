// The density-estimation pieces: the table reads, the dht(...) section for
// the Detection and Density commands, and the statistics record.
#include <ostream>
#include <string>
#include <vector>

#include "command_file/command_file_fixture.h"

namespace pramble {
namespace {

struct DhtCase {
  const char* name;
  std::string model;
  bool run_ddf;
  std::string dht_line;    // the dht(...) statement
  std::string print_line;  // the print statement of its section
};
void PrintTo(const DhtCase& c, std::ostream* os) { *os << c.name; }


// Everything the density pieces write, EchoData False, up to the clean-up.
std::string DhtPart(const DhtCase& c) {
  return "\n"
         "region.dat.7<-read.table(file='{REGION}', header=TRUE, sep='\\t', comment.char='')\n"
         "sample.dat.7<-read.table(file='{SAMPLE}', header=TRUE, sep='\\t', comment.char='')\n"
         "obs.dat.7<-read.table(file='{OBS}', header=TRUE, sep='\\t', comment.char='')\n"
         "\n" +
         c.dht_line +
         "\n"
         "sink(file='{RES}',append=T)\n"
         "cat('\\tDensity Estimates and associated quantities\\t\\n')\n" +
         c.print_line +
         "\n"
         "sink()\n"
         "\n"
         "write.stats.dht('{STAT}',T,dht.7)\n";
}

std::string Dht(const std::string& ddf, const std::string& varflag) {
  return "dht.7<-dht(" + ddf + ",region.dat.7,sample.dat.7,obs.dat.7,se=T,options=list(varflag=" +
         varflag + ",convert.units={CU}))";
}

class DhtCommands : public CommandFileTest, public ::testing::WithParamInterface<DhtCase> {};

TEST_P(DhtCommands, WritesTheSection) {
  const DhtCase& c = GetParam();
  RunInput run;
  run.model = c.model;
  run.run_ddf = c.run_ddf;
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  EXPECT_TRUE(HasLines(text, DhtPart(c))) << Expand(DhtPart(c)) << "\nin:\n" << text;
  EXPECT_TRUE(HasLines(text, "rm(region.dat.7,sample.dat.7,obs.dat.7,dht.7)"));
  EXPECT_EQ(text.find("print(region.dat.7)"), std::string::npos);
  EXPECT_EQ(text.find("ddf.dat.7<-") != std::string::npos, c.run_ddf);
  EXPECT_EQ(gLog->Severity(), 0) << gLog->Contents();
}

const DhtCase kDhtCases[] = {
    {"DetectionT", kModel, true, Dht("ddf.7", "1"), "print(dht.7,cor=T,bysample=T,vcmatrices=T)"},
    {"DetectionLowerT", "Detection t; Density T /VarFlag=1 /PrintOptions=1;", true,
     Dht("ddf.7", "1"), "print(dht.7,cor=T,bysample=T,vcmatrices=T)"},
    {"DetectionOfAnotherAnalysis", "Detection 12; Density T /VarFlag=2;", false,
     Dht("ddf.12", "2"), "print(dht.7)"},
    {"DetectionNumberRoundsHalfToEven", "Detection 12.5; Density T /VarFlag=2;", false,
     Dht("ddf.12", "2"), "print(dht.7)"},
    {"PrintOptionsZero", "Detection T; Density /VarFlag=0 /PrintOptions=0;", false,
     Dht("ddf.7", "0"), "print(dht.7)"},
    {"LaterOptionReplacesEarlier",
     "Detection T; Density /varflag=1 /PRINTOPTIONS=1 /VarFlag=3 /PrintOptions=0;", false,
     Dht("ddf.7", "3"), "print(dht.7)"},
    {"WithoutVarFlag", "Detection T; Density /PrintOptions=1;", false, Dht("ddf.7", ""),
     "print(dht.7,cor=T,bysample=T,vcmatrices=T)"},
};

INSTANTIATE_TEST_SUITE_P(Definitions, DhtCommands, ::testing::ValuesIn(kDhtCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pramble
