// The detection-function pieces: the data block, the ddf(...) statement for
// each command and option of the definitions, and the output sections with
// their plot devices.
#include <ostream>
#include <string>
#include <vector>

#include "command_file/command_file_fixture.h"

namespace pramble {
namespace {

struct DdfCase {
  const char* name;
  std::string model;
  std::string filter;
  std::vector<StoredSetting> settings;
  std::string format;                 // plot format stored before the run
  std::vector<std::string> blocks;    // whole lines, in the file in this form
  std::vector<std::string> absent;    // texts not in the file
};
void PrintTo(const DdfCase& c, std::ostream* os) { *os << c.name; }


constexpr char kDataLine[] =
    "ddf.dat.7<-read.table(file='{DDFDATA}', header=TRUE, sep='\\t', comment.char='')";
const std::string kModelTail = " Detection T; Density T /VarFlag=1;";

std::string DdfLine(const std::string& arguments, const std::string& meta = "width=50,left=0") {
  return "ddf.7<-ddf(" + arguments + "data=ddf.dat.7,meta.data=list(" + meta + "))\n";
}

const std::string kDefaultArguments =
    "method='io',dsmodel=~cds(key='hn',formula=~1),mrmodel=~glm(link='logit',formula=~distance),"
    "control=list(showit=0),";

constexpr char kSummarySection[] = R"(ddf.summary.7<-summary(ddf.7)
sink(file='{RES}',append=T)
cat('\tDetection Fct/Summary\t\n')
ddf.summary.7
sink())";

class DdfCommands : public CommandFileTest, public ::testing::WithParamInterface<DdfCase> {};

TEST_P(DdfCommands, WritesTheLines) {
  const DdfCase& c = GetParam();
  Store(c.settings);
  StorePlot(c.format);
  RunInput run;
  run.model = c.model;
  run.filter = c.filter;
  std::string text;
  ASSERT_TRUE(Make(run, &text)) << gLog->Contents();
  for (const std::string& block : c.blocks)
    EXPECT_TRUE(HasLines(text, block)) << "missing:\n" << Expand(block) << "\nin:\n" << text;
  for (const std::string& absent : c.absent)
    EXPECT_EQ(text.find(Expand(absent)), std::string::npos) << absent << "\nin:\n" << text;
  EXPECT_EQ(gLog->Severity(), 0) << gLog->Contents();
}

const DdfCase kDdfCases[] = {
    // --- the data block
    {"DataBlockPlain", kModel, kFilter, {}, "png",
     {std::string("file.create('{STAT}')\n\n") + kDataLine + "\n\n" + DdfLine(kDefaultArguments)},
     {"check.factor.vars", "print(ddf.dat", "print(region", "create.interval.data"}},
    {"EchoData", kModel, kFilter, {{"AnalysisDetails", "EchoData", true}}, "png",
     {std::string(kDataLine) + "\nprint(ddf.dat.7)\n\n" + DdfLine(kDefaultArguments),
      "obs.dat.7<-read.table(file='{OBS}', header=TRUE, sep='\\t', comment.char='')\n"
      "print(region.dat.7)\nprint(sample.dat.7)\nprint(obs.dat.7)\n"},
     {}},
    {"OneFactor", kModel + std::string(" Factors sex;"), kFilter, {}, "png",
     {std::string(kDataLine) +
      "\ncheck.factor.vars(ddf.dat.7, c('sex'))\nddf.dat.7$sex<-as.factor(ddf.dat.7$sex)\n"},
     {}},
    {"SeveralFactors", kModel + std::string(" Factors sex,size,observer;"), kFilter, {}, "png",
     {"check.factor.vars(ddf.dat.7, c('sex', 'size', 'observer'))\n"
      "ddf.dat.7$sex<-as.factor(ddf.dat.7$sex)\n"
      "ddf.dat.7$size<-as.factor(ddf.dat.7$size)\n"
      "ddf.dat.7$observer<-as.factor(ddf.dat.7$observer)\n"},
     {}},
    {"IntervalsBinTheData", kModel + std::string(" Factors sex;"),
     "Distance /Width=50 /Left=0 /Intervals=0,10,20,50;", {}, "png",
     {"ddf.dat.7$sex<-as.factor(ddf.dat.7$sex)\n"
      "res<-create.interval.data(ddf.dat.7$distance, c(0,10,20,50), 50)\n"
      "ddf.dat.7<-cbind(ddf.dat.7, data.frame(distbegin=res$distbegin, distend=res$distend))\n"
      "ddf.dat.7<-ddf.dat.7[(ddf.dat.7$distend<=50),]\n"
      "rm(res)\n",
      DdfLine(kDefaultArguments, "width=50,left=0,binned=T")},
     {}},

    // --- the ddf(...) statement
    {"DefaultModel", kModel, kFilter, {}, "png", {DdfLine(kDefaultArguments)}, {}},
    {"ArgumentsFollowCommandOrder",
     "DSModel /Key=hr /Method=mcds /Formula=size; Method ds;" + kModelTail, kFilter, {}, "png",
     {DdfLine("key='hr',dsmodel=~mcds(formula=~size),method='ds',")}, {}},
    {"NamesInAnyCase",
     "method io; dsmodel /METHOD=cds /key=hn /FORMULA=1; mrmodel /method=glm /LINK=logit "
     "/formula=distance; CONTROL /showit=0;" + kModelTail,
     kFilter, {}, "png", {DdfLine(kDefaultArguments)}, {}},
    {"OtherCommandsAndOptionsPassedOver",
     "Method io; Foo bar /X=1; DSModel /Method=cds /Key=hn /Adjust=cos /Formula=1 /Other=2;" +
         kModelTail,
     kFilter, {}, "png", {DdfLine("method='io',dsmodel=~cds(key='hn',formula=~1),")}, {}},
    {"DsModelMethodOnly", "DSModel /Method=cds;" + kModelTail, kFilter, {}, "png",
     {DdfLine("dsmodel=~cds(),")}, {}},
    {"ControlValueWinsOverShowit", "Control showit=3 /Showit=0;" + kModelTail, kFilter, {},
     "png", {DdfLine("control=list(showit=3),")}, {}},
    {"ControlSeveralShowit", "Control /Showit=1 /Showit=2;" + kModelTail, kFilter, {}, "png",
     {DdfLine("control=list(showit=1,showit=2),")}, {}},
    {"DistanceWidthOnly", kModel, "Distance /Width=50;", {}, "png",
     {DdfLine(kDefaultArguments, "width=50")}, {}},
    {"DistanceOptionsInTheirOrder", kModel, "Distance /Left=2.5 /Width=50 /Foo=1;", {}, "png",
     {DdfLine(kDefaultArguments, "left=2.5,width=50")}, {}},
    {"DistanceWithoutOptions", kModel, "Distance;", {}, "png", {DdfLine(kDefaultArguments, "")},
     {}},

    // --- the output sections
    {"PngDevices", kModel, kFilter, {}, "png",
     {"png(filename='qq.7.%02d.png',width=6,height=5,pointsize=12)\n"
      "ddf.gof.7<-ddf.gof(ddf.7,lwd=2,lty=1,pch=19,cex=0.8)",
      "png(filename='ddf.7.%02d.png',width=6,height=5,pointsize=12)\n"
      "plot(ddf.7,maintitle=' ',lwd=2,lty=1,pch=19,cex=0.8)"},
     {"quality="}},
    {"JpegAddsQuality", kModel, kFilter, {}, "jpeg",
     {"jpeg(filename='qq.7.%02d.jpeg',width=6,height=5,pointsize=12,quality=75)\n"
      "ddf.gof.7<-ddf.gof(ddf.7,lwd=2,lty=1,pch=19,cex=0.8)",
      "jpeg(filename='ddf.7.%02d.jpeg',width=6,height=5,pointsize=12,quality=75)\n"
      "plot(ddf.7,maintitle=' ',lwd=2,lty=1,pch=19,cex=0.8)"},
     {}},
    {"WmfOpensMetafile", kModel, kFilter, {}, "WMF",
     {"win.metafile(filename='qq.7.%02d.WMF',width=6,height=5,pointsize=12)",
      "win.metafile(filename='ddf.7.%02d.WMF',width=6,height=5,pointsize=12)"},
     {"quality="}},
    {"GofAndPlotWithIntervals", kModel, "Distance /Width=50 /Left=0 /Intervals=0,10,20,50;", {},
     "png",
     {std::string(kSummarySection) + R"(
ddf.gof.7<-ddf.gof(ddf.7, breaks=c(0,10,20,50))
sink(file='{RES}',append=T)
cat('\tDetection Fct/GOF\t\n')
ddf.gof.7
sink()
png(filename='ddf.7.%02d.png',width=6,height=5,pointsize=12)
plot(ddf.7,breaks=c(0,10,20,50),maintitle=' ',lwd=2,lty=1,pch=19,cex=0.8)
dev.off())"},
     {"qq.7", "Qq-plot"}},
    {"DiagnosticsInLowerCase", "Diagnostics /plot=t /gof=t;" + kModelTail, kFilter, {}, "png",
     {"cat('\\tDetection Fct/GOF\\t\\n')",
      "cat('\\tDetection Fct/Plot: Detection Probability\\t\\n')",
      "write.stats.ddf('{STAT}',F,ddf.7, ddf.summary.7, ddf.gof.7)\n"},
     {}},
    {"GofOnly", "Diagnostics /Plot=F /GOF=T;" + kModelTail, kFilter, {}, "png",
     {"ddf.gof.7\nsink()\nwrite.stats.ddf('{STAT}',F,ddf.7, ddf.summary.7, ddf.gof.7)\n",
      "rm(ddf.gof.7)"},
     {"ddf.7.%02d", "Detection Probability"}},
    {"PlotOnly", "Diagnostics /Plot=T /GOF=No;" + kModelTail, kFilter, {}, "png",
     {std::string(kSummarySection) + "\npng(filename='ddf.7.%02d.png',width=6,height=5,"
                                     "pointsize=12)",
      "sink()\nwrite.stats.ddf('{STAT}',F,ddf.7, ddf.summary.7)\n"},
     {"ddf.gof", "qq.7", "GOF"}},
    {"NoDiagnostics", "Method io;" + kModelTail, kFilter, {}, "png",
     {std::string(kSummarySection) + "\nwrite.stats.ddf('{STAT}',F,ddf.7, ddf.summary.7)\n"},
     {"dev.off()", "ddf.gof"}},
};

INSTANTIATE_TEST_SUITE_P(Definitions, DdfCommands, ::testing::ValuesIn(kDdfCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pramble
