// The scan of R's log under a real `pramble run`: what R only repeats (the
// commands of the command file, which name the command folder, and the data
// tables it prints when EchoData is on) is not taken for an error, what R
// reports is; and a run that stores no statistics leaves no plot of an
// earlier run behind.
#include <gtest/gtest.h>

#include "robustness.h"

namespace pramble::robustness {
namespace {

TEST(LogScanTest, ErrorInFoldersAndLabelsIsNoErrorButRsOwnIs) {
  PrepareProcess();
  TempDir temp;
  const std::string dir = temp.path() + "/survey";
  nlohmann::json description =
      Description(1, {{"AnalysisDetails", {{"EchoData", true}}},
                      {"R", {{"ForceLoadLibrary", LibraryIsStale()}}}});
  for (nlohmann::json& layer : description["layers"]) {
    if (layer["name"] == "Region") layer["rows"][0][2] = "Terror Point";
  }
  CreateProject(dir, description);
  const std::string tmp = temp.path() + "/error-Error-ERROR";
  fs::create_directories(tmp);

  const Outcome clean = RunPramble({"run", dir, "1"}, {"TMPDIR=" + tmp});
  EXPECT_EQ(clean.code, 0) << clean.err << clean.out;
  EXPECT_TRUE(Has(clean.err, "status 1 Finished\n")) << clean.err;
  EXPECT_TRUE(Has(clean.out, "> ddf.dat.1<-read.table(file='" + tmp)) << clean.out;
  EXPECT_TRUE(Has(clean.out, "Terror Point")) << clean.out;
  EXPECT_FALSE(RunPramble({"stats", dir, "1"}).out.empty());
  ASSERT_FALSE(PlotFilesOf(dir, 1).empty());

  // R stops with an error of its own once the package is attached.
  const Outcome failed = RunPramble(
      {"run", dir, "1"},
      {"TMPDIR=" + tmp,
       RProfile(temp.path() + "/profile.R",
                "setHook(packageEvent('quox', 'attach'), function(...) stop('no survey today'))")});
  EXPECT_EQ(failed.code, 1) << failed.err << failed.out;
  EXPECT_TRUE(Has(failed.err, "status 3 Finished with errors\n")) << failed.err;
  EXPECT_TRUE(Has(failed.out, "no survey today")) << failed.out;
  EXPECT_EQ(RunPramble({"stats", dir, "1"}).out, "");
  EXPECT_EQ(PlotFilesOf(dir, 1), std::vector<std::string>{});
  ExpectNoProcessLeft();
}

}  // namespace
}  // namespace pramble::robustness
