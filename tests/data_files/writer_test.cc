// The data file writer: the value forms, the mended text values, preset
// paths, and a failure in each phase (the message, the file deleted, no
// temporary query left).
#include <gtest/gtest.h>

#include <filesystem>

#include "data_files/harness.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

struct FaultCase {
  std::string name;
  std::function<void(FaultyFiles&)> files;  // break the file system
  std::string fail_query;                   // or fail opening this saved query
  std::string filter = "Distance /Width=50;";
  bool dht = false;
  std::vector<std::pair<std::string, int>> problems;  // "{folder}", "{_Ddf}" expanded
  std::set<std::string> written;                      // files left in the command folder
};

std::vector<FaultCase> FaultCases() {
  return {
      {"OpenFails",
       [](FaultyFiles& f) { f.fail_open = "/ddf.dat.r"; },
       "",
       "Distance /Width=50;",
       false,
       {{"Encountered a problem while trying to open the data file '{folder}/ddf.dat.r' for "
         "output.",
         2}},
       {}},
      {"WriteFails",
       [](FaultyFiles& f) {
         f.fail_file = "/ddf.dat.r";
         f.fail_append = 2;
       },
       "",
       "Distance /Width=50;",
       false,
       {{"Encountered a problem while writing to the data file '{folder}/ddf.dat.r'", 2}},
       {}},
      // Written data may first meet a full disk at the close.
      {"CloseFails",
       [](FaultyFiles& f) {
         f.fail_file = "/ddf.dat.r";
         f.fail_close = true;
       },
       "",
       "Distance /Width=50;",
       false,
       {{"Encountered a problem while closing the data file '{folder}/ddf.dat.r'.", 2}},
       {}},
      {"QueryFails",
       nullptr,
       "_Ddf",
       "Distance /Width=50;",
       false,
       {{"Encountered a problem while executing the data creating query '{_Ddf}'.", 2}},
       {}},
      // The header is written before the move to the first row fails.
      {"NoRows",
       nullptr,
       "",
       "Distance /Width=50; Select /Layer=Observation /Criteria=\"[distance] > 1000\";",
       false,
       {{"Encountered a problem while writing to the data file '{folder}/ddf.dat.r'", 2}},
       {}},
      // The region file stops the density files; the detection-function file stays.
      {"RegionFileFails",
       [](FaultyFiles& f) { f.fail_open = "/region.dat.r"; },
       "",
       "Distance /Width=50;",
       true,
       {{"Encountered a problem while trying to open the data file '{folder}/region.dat.r' for "
         "output.",
         2}},
       {"ddf.dat.r"}},
  };
}

class WriterFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(WriterFaultTest, LogsDeletesTheFileAndCleansUp) {
  const FaultCase& c = GetParam();
  Definitions defs;
  defs.filter = c.filter;
  std::unique_ptr<FaultyFiles> files;
  MakerOptions options;
  options.dht = c.dht;
  options.install = [&](TestServices& s, TestProject&) {
    files = std::make_unique<FaultyFiles>(s.target()->Files());
    if (c.files) c.files(*files);
    s.files = files.get();
  };
  options.wrap_project = [&](std::shared_ptr<host::ProjectDatabase> real) {
    auto p = std::make_shared<FaultyProject>(real);
    if (!c.fail_query.empty())
      p->fail_source = host::CurrentServices().Queries().GetTempQueryName(c.fail_query, kItem);
    return p;
  };
  // A file left from an earlier run at the failing path goes too.
  const std::string failing = c.dht ? "region.dat.r" : "ddf.dat.r";
  options.before = [&](CClsDataFileMaker&, const std::string& folder) {
    WriteFile(folder + "/" + failing, "stale");
  };
  const MakerRun run = RunMaker(BaseDescription(), defs, options);

  EXPECT_FALSE(run.ok);
  std::vector<std::pair<std::string, int>> expected;
  for (const auto& [message, level] : c.problems) expected.emplace_back(run.Expand(message), level);
  EXPECT_EQ(run.Problems(), expected);
  std::set<std::string> names;
  for (const auto& [name, bytes] : run.files) names.insert(name);
  EXPECT_EQ(names, c.written);
  EXPECT_EQ(run.left, std::vector<std::string>{});
  if (c.dht) {
    // The later density files are not written and keep their empty paths.
    EXPECT_EQ(run.region_file, run.folder + "/region.dat.r");
    EXPECT_EQ(run.sample_file, "");
    EXPECT_EQ(run.obs_file, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, WriterFaultTest, ::testing::ValuesIn(FaultCases()),
                         [](const auto& info) { return info.param.name; });

// Text values keep their bytes but lose tabs and line breaks (one warning per
// file naming the columns); numbers carry a blank or "-", Null is empty.
TEST(WriterTest, ValueFormsAndMendedTexts) {
  json d = BaseDescription();
  auto& lines = Layer(d, "Line transect")["rows"];
  lines[0][2] = "A\tnorth end";
  auto& obs = Layer(d, "Observation")["rows"];
  obs[0][7] = "F\r\nold";
  obs[1][7] = "F\tx\ny";
  obs[2][6] = nullptr;
  obs[2][2] = -0.125;
  obs[3][2] = 1e-7;
  Definitions defs;
  MakerOptions options;
  options.dht = false;
  const MakerRun run = RunMaker(d, defs, options);

  ASSERT_TRUE(run.ok);
  const std::string tail = "\tNorth\t 60\tWhole\t 100\r\n";
  EXPECT_EQ(run.files.at("ddf.dat.r"),
            "distance\tobject\tobserver\tdetected\tsize\tsex\tLabel\tLine.length\tStratum.Label\t"
            "Area\tGlobal.Label\tGlobal.Area\r\n"
            " 10.5\t 1\t 1\t 1\t 2\tF  old\tA north end\t 2.5" +
                tail + " 10.5\t 1\t 2\t 0\t 2\tF x y\tA north end\t 2.5" + tail +
                "-0.125\t 2\t 1\t 1\t\tM\tB\t 3" + tail +
                " 9.9999999999999995e-08\t 2\t 2\t 1\t 1\tM\tB\t 3" + tail +
                " 0\t 3\t 1\t 0\t 3\t\tD\t 1.25\tSouth\t 40\tWhole\t 100\r\n"
                " 0\t 3\t 2\t 1\t 3\t\tD\t 1.25\tSouth\t 40\tWhole\t 100\r\n");
  EXPECT_EQ(run.Problems(),
            (std::vector<std::pair<std::string, int>>{
                {"Text values in column(s) sex, Label of the data file '" + run.folder +
                     "/ddf.dat.r' held tabs or line breaks; each "
                     "was replaced by a blank.",
                 1}}));
}

// A path set by the caller is used as it is, even outside the command folder.
TEST(WriterTest, PresetPathIsKept) {
  TempDir elsewhere;
  const std::string path = elsewhere.path() + "/my ddf data.txt";
  MakerOptions options;
  options.dht = false;
  options.before = [&](CClsDataFileMaker& maker, const std::string&) { maker.DdfDataFile(path); };
  const MakerRun run = RunMaker(BaseDescription(), Definitions{}, options);

  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.ddf_file, path);
  EXPECT_TRUE(run.files.empty());
  EXPECT_EQ(ReadFile(path).substr(0, 9), "distance\t");
}

}  // namespace
}  // namespace pramble::testing
