// The CSV reader reads a file through a buffer of a fixed size: a file many
// buffers long, whose records, quoted cells, doubled quotes and line ends
// fall across the buffers' edges, reads as the same text does at once.
#include <gtest/gtest.h>

#include "sqlhost/project/csv_reader.h"
#include "support/scratch.h"

namespace pramble::testing {
namespace {

TEST(CsvReaderTest, AFileManyBuffersLongReadsAsItsTextAtOnce) {
  std::string text = "\xEF\xBB\xBFID,Label,Note\r\n";
  for (int n = 1; n <= 40000; ++n) {
    const std::string id = std::to_string(n);
    text += n % 3 ? id + ",T" + id + ",\"a, \"\"" + id + "\"\"\nb\"\r\n" : "\n" + id + ",,x\r\n";
  }
  text += "40001,last,\"no line end\"";
  TempDir dir;
  WriteFile(dir / "big.csv", text);
  const auto from_file = sqlhost::ReadCsvFile(dir / "big.csv", "big.csv");
  const auto from_text = sqlhost::ParseCsv(text, "big.csv");
  ASSERT_EQ(from_file.size(), 40002u);
  ASSERT_EQ(from_file.size(), from_text.size());
  for (std::size_t i = 0; i < from_file.size(); ++i) {
    ASSERT_EQ(from_file[i].line, from_text[i].line) << i;
    ASSERT_EQ(from_file[i].cells, from_text[i].cells) << i;
  }
  EXPECT_EQ(from_file[2].cells, (std::vector<std::string>{"2", "T2", "a, \"2\"\nb"}));
  EXPECT_EQ(from_file.back().line, 80002);
}

}  // namespace
}  // namespace pramble::testing
