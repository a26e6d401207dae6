// ResetItem: the item's results row, statistics and plot files go, the item
// is marked not run; failures are answered, never raised.
#include <filesystem>
#include <set>

#include "engine/engine_fixture.h"

namespace pramble::testing {
namespace {

namespace fs = std::filesystem;

using ResetTest = EngineFixture;

std::set<std::string> FileNames(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) names.insert(entry.path().filename().string());
  return names;
}

TEST_F(ResetTest, RemovesRowStatisticsAndOnlyThisItemsPlots) {
  UseScript(Script{});
  ASSERT_TRUE(RunToEnd());
  ASSERT_TRUE(Row().has_value());
  ASSERT_EQ(tp_->project()->ItemStats(kItem).size(), 2u);

  const std::string dir = tp_->project()->folder();
  std::set<std::string> expected = FileNames(dir);
  for (const char* name : {"ddf.12.01.wmf", "qq.12.02.wmf", "DDF.12.03.PNG", "ddf.112.01.wmf",
                           "ddf.12.01.txt", "ddf.212.1.png", "12.1.jpeg"})
    WriteFile(dir + "/" + name, "plot");
  fs::create_directory(dir + "/sub");
  WriteFile(dir + "/sub/ddf.12.01.wmf", "plot");
  notify_->statuses.clear();

  EXPECT_TRUE(engine_->ResetItem(kItem));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(notify_->finished, 2);
  EXPECT_EQ(Item().status, 0);
  EXPECT_FALSE(Item().run_date.has_value());
  EXPECT_FALSE(Row().has_value());
  EXPECT_TRUE(tp_->project()->ItemStats(kItem).empty());
  expected.insert({"ddf.112.01.wmf", "ddf.12.01.txt", "ddf.212.1.png"});
  EXPECT_EQ(FileNames(dir), expected);
  EXPECT_TRUE(fs::exists(dir + "/sub/ddf.12.01.wmf"));
  EXPECT_FALSE(Has(engine_->Log(), "failed"));
}

TEST_F(ResetTest, BeforeAnyResultsTableUnknownItemAndNoProject) {
  EXPECT_TRUE(engine_->ResetItem(kItem, "ignored"));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(engine_->Log(), "");

  EXPECT_FALSE(engine_->ResetItem(99));
  EXPECT_EQ(notify_->statuses.size(), 1u);
  EXPECT_EQ(notify_->finished, 2);
  EXPECT_TRUE(Has(engine_->Log(), "Reset item failed"));

  QuoxNEngineInterface bare;
  bare.NEngineNotify(notify_);
  EXPECT_FALSE(bare.ResetItem(kItem));
  EXPECT_EQ(notify_->finished, 3);
  EXPECT_TRUE(Has(bare.Log(), "Reset item failed"));
}

// A plot file that cannot be deleted: the reset says so and the item is still
// marked not run.
TEST_F(ResetTest, PlotThatCannotBeDeleted) {
  const std::string dir = tp_->project()->folder();
  WriteFile(dir + "/ddf.12.01.png", "plot");
  WriteFile(dir + "/qq.12.02.png", "plot");
  services_->faults.Break("DeleteFile", "qq.12.02.png");
  EXPECT_TRUE(engine_->ResetItem(kItem));
  EXPECT_TRUE(Has(engine_->Log(), "Encountered an error while trying to reset the results"));
  EXPECT_EQ(notify_->statuses, (std::vector<std::int32_t>{0}));
  EXPECT_TRUE(fs::exists(dir + "/qq.12.02.png"));
}

}  // namespace
}  // namespace pramble::testing
