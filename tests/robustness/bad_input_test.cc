// Bad inputs that the fuzz targets found, as the command line meets them.
#include <gtest/gtest.h>

#include "robustness.h"

namespace pramble::robustness {
namespace {

struct BadDescription {
  std::string name;
  std::string text;
  std::string message;  // after "pramble create: " and the file's path
};

void PrintTo(const BadDescription& c, std::ostream* os) { *os << c.name; }

class BadDescriptionTest : public ::testing::TestWithParam<BadDescription> {};

// A number too large for a double is a JSON error with its place, like a
// syntax error, not an unexpected one.
TEST_P(BadDescriptionTest, IsRefusedWithItsPlace) {
  const BadDescription& c = GetParam();
  TempDir temp;
  const std::string file = temp.path() + "/project.json";
  WriteFile(file, c.text);
  const Outcome o = RunPramble({"create", temp.path() + "/project", "--from", file});
  EXPECT_EQ(o.code, 65);
  EXPECT_EQ(o.err, "pramble create: " + file + c.message + "\n");
  EXPECT_FALSE(fs::exists(temp.path() + "/project"));
}

INSTANTIATE_TEST_SUITE_P(
    Fuzzed, BadDescriptionTest,
    ::testing::Values(BadDescription{"NumberTooLarge", "{\"surveys\": [1e999]}",
                                     ":1:18: JSON error: number overflow parsing '1e999'"},
                      BadDescription{"NumberTooLargeOnALaterLine", "{\"layers\":\n  [1, -2e400]}",
                                     ":2:12: JSON error: number overflow parsing '-2e400'"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pramble::robustness
