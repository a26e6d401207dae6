// The temporary area (TMPDIR) that holds a run's command folder, read-only
// or full: `pramble run` runs in a mount namespace of its own with a tmpfs
// over its TMPDIR (as root; otherwise in a user namespace too, where the
// kernel allows one), so nothing of the machine's own /tmp is touched.
#include <gtest/gtest.h>

#include "robustness.h"

namespace pramble::robustness {
namespace {

struct AreaCase {
  std::string name;
  int item;
  std::string options;  // tmpfs mount options
  bool read_only;
  std::string profile;  // R profile body ("" for none)
  bool r_started;
  // In the run's log; "{tmp}" stands for the temporary area.
  std::vector<std::string> log_has;
};

void PrintTo(const AreaCase& c, std::ostream* os) { *os << c.name; }

// R fills the file system of its command folder before the command file runs.
constexpr char kFillCommandFolder[] =
    "f <- commandArgs()[which(commandArgs() == '-f') + 1]\n"
    "try(writeBin(raw(4 * 2^20), file.path(dirname(f), 'filler')), silent = TRUE)\n";

std::vector<AreaCase> AreaCases() {
  return {
      {"ReadOnly", 8, "size=64k", true, "", false, {"Could not obtain temporary folder name."}},
      // The data files do not fit: the run must say which one failed.
      {"FullBeforeTheDataFiles",
       9,
       "size=4k",
       false,
       "",
       false,
       {"the data file '{tmp}/pramble-", "ddf.dat.r'"}},
      // R's log, results and statistics do not fit: R ends as if all was well,
      // so the run must notice the full file system itself.
      {"FullWhileRRuns", 10, "size=1m", false, kFillCommandFolder, true, {"is full"}},
  };
}

class TemporaryAreaTest : public ProjectTest, public ::testing::WithParamInterface<AreaCase> {};

TEST_P(TemporaryAreaTest, RunEndsWithErrorsAndSaysWhy) {
  const AreaCase& c = GetParam();
  const std::string id = std::to_string(c.item);
  std::vector<std::string> env = {"TMPDIR=" + tmp()};
  if (!c.profile.empty()) env.push_back(RProfile(tmp() + "-profile.R", c.profile));
  const PrivateTmpfs area{tmp(), c.options, c.read_only};
  Pramble run({"run", dir(), id}, env, &area);
  const Outcome o = run.Wait();
  if (o.code == kNoNamespace) GTEST_SKIP() << "no mount namespace here: " << o.err;

  EXPECT_EQ(o.code, 1) << o.err << o.out;
  EXPECT_EQ(Has(o.err, "status 7 Engine running\n"), c.r_started) << o.err;
  EXPECT_TRUE(Has(o.err, "status 3 Finished with errors\n")) << o.err;
  for (std::string part : c.log_has) {
    for (std::size_t at; (at = part.find("{tmp}")) != std::string::npos;)
      part.replace(at, 5, tmp());
    EXPECT_TRUE(Has(o.out, part)) << "'" << part << "' is missing in:\n" << o.out;
  }
  const Stored stored = StoredOf(dir(), c.item);
  EXPECT_TRUE(Has(stored.status, "\t3\tFinished with errors\t")) << stored.status;
  EXPECT_EQ(stored.log, o.out);
  EXPECT_EQ(stored.stats, "");
  // The tmpfs went with the namespace; the folder under it was never used.
  EXPECT_EQ(CommandFoldersIn(tmp()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Tmpfs, TemporaryAreaTest, ::testing::ValuesIn(AreaCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pramble::robustness
