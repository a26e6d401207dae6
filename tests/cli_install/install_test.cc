// `cmake --install` into a temporary prefix: the installed pramble finds the
// R package archive, the support functions and the documentation beside
// itself, not in the build folder, and runs the demo from there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

TEST(Install, InstalledPrambleRunsTheDemoFromItsOwnFiles) {
  TempDir temp;
  const std::string prefix = temp.path() + "/prefix";
  const std::string install = std::string(PRAMBLE_CMAKE) + " --install '" + PRAMBLE_BINARY_DIR +
                              "' --prefix '" + prefix + "' > '" + temp.path() + "/install.log' 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0) << ReadFile(temp.path() + "/install.log");
  const std::string share = prefix + "/share/pramble";
  for (const std::string& file : {prefix + "/bin/pramble", share + "/quox_support.R",
                                  prefix + "/share/doc/pramble/demo.md"})
    EXPECT_TRUE(fs::is_regular_file(file)) << file;
  bool archive = false;
  for (const auto& entry : fs::directory_iterator(share))
    archive = archive || entry.path().filename().string().rfind("quox_", 0) == 0;
  EXPECT_TRUE(archive);

  const std::string dir = temp.path() + "/demo";
  const Outcome demo = RunPramble({"demo", dir}, {}, "", prefix + "/bin/pramble");
  EXPECT_EQ(demo.code, 0) << demo.err << demo.out;
  EXPECT_TRUE(Has(demo.out, "How to read all this:  " + prefix + "/share/doc/pramble/demo.md"))
      << demo.out;
  // The command file sourced the installed support functions.
  const Outcome log = RunPramble({"log", dir, "1"}, {}, "", prefix + "/bin/pramble");
  EXPECT_TRUE(Has(log.out, prefix + "/share/pramble/quox_support.R")) << log.out;
}

}  // namespace
}  // namespace pramble::testing
