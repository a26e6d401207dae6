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
  const std::string dir = temp / "survey", tmp = temp / "error-Error-ERROR";
  fs::create_directories(tmp);
  nlohmann::json d = Description(1, {{"AnalysisDetails", {{"EchoData", true}}}});
  for (nlohmann::json& layer : d["layers"])
    if (layer["name"] == "Region") layer["rows"][0][2] = "Terror Point";
  CreateProject(dir, d);
  const Outcome clean = RunPramble({"run", dir, "1"}, {"TMPDIR=" + tmp});
  EXPECT_EQ(clean.code, 0) << clean.err << clean.out;
  EXPECT_TRUE(Has(clean.err, "status 1 Finished\n")) << clean.err;
  EXPECT_TRUE(Has(clean.out, "> ddf.dat.1<-read.table(file='" + tmp)) << clean.out;
  EXPECT_TRUE(Has(clean.out, "Terror Point")) << clean.out;
  EXPECT_FALSE(RunPramble({"stats", dir, "1"}).out.empty());
  ASSERT_FALSE(FilesIn(dir, 1).empty());

  const Outcome failed = RunPramble({"run", dir, "1"}, {"TMPDIR=" + tmp, Profile("attach_error.R")});
  EXPECT_EQ(failed.code, 1) << failed.err << failed.out;
  EXPECT_TRUE(Has(failed.err, "status 3 Finished with errors\n")) << failed.err;
  EXPECT_TRUE(Has(failed.out, "no survey today")) << failed.out;
  EXPECT_EQ(RunPramble({"stats", dir, "1"}).out, "");
  EXPECT_EQ(FilesIn(dir, 1), std::vector<std::string>{});
  ExpectNoProcessLeft();
}

}  // namespace
}  // namespace pramble::robustness
