// The data files of the example project, and a table of awkward numbers, read
// back by a real R with the command file's own read.table lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "data_files/harness.h"
#include "sqlhost/util/string_utilities.h"

namespace pramble::testing {
namespace {

std::string ReadTable(const std::string& name, const std::string& path) {
  return name + "<-read.table(file='" + sqlhost::RQuotablePath(path) +
         "', header=TRUE, sep='\\t', comment.char='')\n";
}

TEST(EndToEndTest, RReadsTheExampleFilesAndExactNumbers) {
  std::ifstream in(PRAMBLE_EXAMPLES_DIR "/double-observer/project.json");
  const json example = json::parse(in);
  Definitions defs{example["surveys"][0]["definition"].get<std::string>(),
                   example["data_filters"][0]["definition"].get<std::string>(),
                   example["model_definitions"][0]["definition"].get<std::string>()};
  TempDir dir;
  MakerOptions example_options;
  example_options.cmd_folder = dir.path() + "/example";
  std::filesystem::create_directory(example_options.cmd_folder);
  const MakerRun run = RunMaker(ExampleDescription(), defs, example_options);
  ASSERT_TRUE(run.ok);
  ASSERT_EQ(run.Problems(), (std::vector<std::pair<std::string, int>>{}));

  // Numbers R's reader gets wrong in their shortest form come first.
  const std::vector<double> numbers = {-391.52420071017133,
                                       24.392453772581842,
                                       43045873.708774246,
                                       -0.079084103424879107,
                                       0.1,
                                       1.0 / 3,
                                       2.0 / 3,
                                       65.9,
                                       -0.125,
                                       1e-7,
                                       1e-300,
                                       5e-324,
                                       2.2250738585072014e-308,
                                       1.7976931348623157e308,
                                       123456.789,
                                       0.30000000000000004,
                                       1e21,
                                       1e22,
                                       299792.458};
  json d = BaseDescription();
  json& rows = Layer(d, "Observation")["rows"];
  rows = json::array();
  std::string hex;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const int id = static_cast<int>(i) + 1;
    rows.push_back({id, 1, numbers[i], id, 1, 1, 1, "F"});
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", numbers[i]);
    hex += std::string(i ? ", " : "") + "'" + buf + "'";
  }
  MakerOptions ddf_only;
  ddf_only.dht = false;
  ddf_only.cmd_folder = dir.path() + "/numbers";
  std::filesystem::create_directory(ddf_only.cmd_folder);
  const MakerRun numbers_run = RunMaker(d, Definitions{}, ddf_only);
  ASSERT_TRUE(numbers_run.ok);

  const std::string examples = PRAMBLE_EXAMPLES_DIR "/double-observer/";
  const std::string script = dir.path() + "/check.R";
  WriteFile(script,
            ReadTable("ddf.dat.7", run.ddf_file) + ReadTable("region.dat.7", run.region_file) +
                ReadTable("sample.dat.7", run.sample_file) + ReadTable("obs.dat.7", run.obs_file) +
                ReadTable("numbers", numbers_run.ddf_file) + "obs <- read.csv('" + examples +
                "observations.csv')\n"
                "tr <- read.csv('" +
                examples + "transects.csv')\n" + R"(
chk <- function(name, ok) cat(name, isTRUE(ok), "\n")
same <- function(df, ...) identical(as.list(df), list(...))
reg <- tr$ParentID[match(obs$ParentID, tr$ID)]
o <- order(reg, obs$ParentID, obs$object, obs$observer)
e <- obs[o, ]
t <- match(e$ParentID, tr$ID)
chk("ddf.names", identical(names(ddf.dat.7), c("distance", "object", "observer", "detected",
    "size", "sex", "Label", "Line.length", "Stratum.Label", "Area", "Global.Label",
    "Global.Area")))
chk("ddf.rows", nrow(ddf.dat.7) == nrow(obs))
for (v in c("distance", "object", "observer", "detected", "size", "sex"))
  chk(paste0("ddf.", v), identical(ddf.dat.7[[v]], e[[v]]))
chk("ddf.sample", identical(ddf.dat.7$Label, tr$Label[t]) &&
    identical(ddf.dat.7$Line.length, tr$Line.length[t]))
chk("ddf.region", identical(ddf.dat.7$Stratum.Label, c("R1", "R2")[reg[o]]) &&
    identical(ddf.dat.7$Area, c(65.9, 102.2)[reg[o]]))
chk("ddf.global", all(ddf.dat.7$Global.Label == "Study area") &&
    all(ddf.dat.7$Global.Area == 168.1))
chk("region", same(region.dat.7, Region.Label = c("1. R1", "2. R2"), Area = c(65.9, 102.2)))
ts <- tr[order(tr$ParentID, tr$ID), ]
chk("sample", same(sample.dat.7, Sample.Label = paste0(ts$ID, ". ", ts$Label),
    Region.Label = paste0(ts$ParentID, ". R", ts$ParentID), Effort = ts$Line.length))
ot <- match(obs$ParentID[match(obs.dat.7$object, obs$object)], tr$ID)
chk("obs", nrow(obs.dat.7) == length(unique(obs$object)) &&
    setequal(obs.dat.7$object, obs$object) &&
    identical(obs.dat.7$Sample.Label, paste0(tr$ID[ot], ". ", tr$Label[ot])) &&
    identical(obs.dat.7$Region.Label, paste0(tr$ParentID[ot], ". R", tr$ParentID[ot])))
)" + "chk(\"numbers\", identical(sprintf('%a', numbers$distance), c(" +
                hex + ")))\n");

  EXPECT_EQ(RunRscript(script),
            "ddf.names TRUE \nddf.rows TRUE \nddf.distance TRUE \nddf.object TRUE \n"
            "ddf.observer TRUE \nddf.detected TRUE \nddf.size TRUE \nddf.sex TRUE \n"
            "ddf.sample TRUE \nddf.region TRUE \nddf.global TRUE \nregion TRUE \nsample TRUE \n"
            "obs TRUE \nnumbers TRUE \n");
}

}  // namespace
}  // namespace pramble::testing
