#include "sqlhost/util/text_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "pramble/host/errors.h"
#include "support/scratch.h"

namespace pramble::sqlhost {
namespace {

// The cases of tests/data/host_util/log_layouts.txt.
TEST(LogTest, LayoutAndSeverity) {
  auto unescape = [](const std::string& text) {
    return pramble::testing::Fill(text, {{"\\n", "\n"}, {"\\r", "\r"}});
  };
  for (const auto& c : pramble::testing::ReadCases("host_util/log_layouts.txt")) {
    SCOPED_TRACE(c.name);
    TextLog log;
    for (const std::string& add : c.All("add"))
      log.Add(unescape(add.substr(add.find(' ') + 1)), std::stoi(add));
    EXPECT_EQ(log.Contents(), unescape(c.Get("contents")));
    EXPECT_EQ(log.Severity(), std::stoi(c.Get("severity")));
  }
}

TEST(LogTest, UnexpectedErrorNamesTheErrorBeingHandled) {
  TextLog log;
  try {
    throw host::HostError(3021, "No current record.");
  } catch (...) {
    log.Add("DataFileMaker.WriteQueryToFile", 3);
  }
  try {
    throw std::runtime_error("disk on fire");
  } catch (...) {
    log.Add("InputFileMaker.MakeFile", 3);
  }
  EXPECT_EQ(log.Contents(),
            "Unexpected error in DataFileMaker.WriteQueryToFile (error 3021: No current record.)\n"
            "Unexpected error in InputFileMaker.MakeFile (disk on fire)\n");
}

TEST(LogTest, TimeStampFromWhenItIsOn) {
  TextLog log;
  log.Add("before", 0);
  log.SetTimeStamp(true);
  log.Add("during", 1);
  log.SetTimeStamp(false);
  log.Add("after", 0);
  EXPECT_TRUE(std::regex_match(
      log.Contents(),
      std::regex("before\n\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d Warning: during\nafter\n")))
      << log.Contents();
}

}  // namespace
}  // namespace pramble::sqlhost
