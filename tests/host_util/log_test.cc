#include "sqlhost/util/text_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

TEST(LogTest, LayoutAndSeverity) {
  struct Case {
    std::vector<std::pair<std::string, std::int32_t>> messages;
    std::string contents;
    std::int32_t severity;
  };
  const Case cases[] = {
      {{}, "", 0},
      {{{"Initializing", 0}}, "Initializing\n", 0},
      {{{"Initializing", 0}, {"Running in debug mode", 1}},
       "Initializing\nWarning: Running in debug mode\n", 1},
      {{{"a", 2}, {"b", 1}}, "Error: a\nWarning: b\n", 2},
      {{{"DatabaseInterface.SaveResults", 3}, {"c", 0}},
       "Unexpected error in DatabaseInterface.SaveResults\nc\n", 3},
      {{{"-- Start --", 0}, {"line 1\r\nline 2\r\n", 0}, {"-- End --", 0}},
       "-- Start --\nline 1\r\nline 2\r\n\n-- End --\n", 0},
      {{{"odd", 7}, {"negative", -2}}, "Unexpected error in odd\nnegative\n", 3},
  };
  for (const auto& c : cases) {
    TextLog log;
    for (const auto& [message, level] : c.messages) log.Add(message, level);
    EXPECT_EQ(log.Contents(), c.contents);
    EXPECT_EQ(log.Severity(), c.severity);
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
