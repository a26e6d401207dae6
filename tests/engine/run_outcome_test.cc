// Every way a run can end, one case each in tests/data/engine/runs.txt: what
// the engine publishes, logs, stores and leaves behind when R (scripted, or
// the real R on a short script) ends in that way or a host call breaks.
#include <algorithm>
#include <filesystem>

#include "engine/engine_fixture.h"

namespace pramble::testing {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> File(const Case& c, const std::string& key, std::string otherwise) {
  if (!c.Has(key)) return otherwise;
  if (c.Get(key) == "none") return std::nullopt;
  return c.Get(key);
}

class RunTest : public EngineFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(RunTest, EndsAsTheCaseSays) {
  const Case& c = GetParam();
  if (c.Has("survey")) {
    nlohmann::json d = Description12();
    d["surveys"][0]["definition"] = c.Get("survey");
    Open(d);
  }
  for (const std::string& s : c.All("setting")) {
    const auto w = Words(s);
    SetSetting(w[0], w[1], host::Value{w[2] == "true"});
  }
  for (const std::string& b : c.All("break")) {
    const auto w = Words(b);
    services_->faults.Break(w[0], w.size() > 1 ? w[1] : "");
  }
  services_->faults.watch = [&](const std::string& call, const std::string&) {
    if (call == c.Get("stop-at", "-")) {
      EXPECT_FALSE(engine_->StopItemRun());
    }
  };
  if (c.Has("rscript")) {
    services_->files.replace["/in.r"] = c.Get("rscript");
  } else {
    Script s;
    s.status = std::stoi(c.Get("status", "1"));
    s.r_log = File(c, "rlog", *s.r_log);
    s.results = File(c, "results", *s.results);
    s.stats = File(c, "stats", *s.stats);
    s.error_message = c.Get("runner-error");
    s.hang = c.Has("stop");
    if (c.Has("no-r")) s.engine_path = "";
    s.not_found_message = c.Get("no-r");
    UseScript(s);
  }
  // A plot of an earlier run stays only beside statistics of this run.
  const std::string plot = tp_->project()->folder() + "/ddf.12.01.png";
  WriteFile(plot, "earlier plot");

  std::vector<std::int32_t> statuses;
  for (const std::string& w : Words(c.Get("statuses"))) statuses.push_back(std::stoi(w));
  const bool launched = std::count(statuses.begin(), statuses.end(), 7) > 0;
  EXPECT_EQ(engine_->RunItem(kItem), launched) << engine_->Log();
  if (launched) {
    if (c.Has("stop")) {
      EXPECT_FALSE(engine_->StopItemRun());
    }
    WaitForEnd();
    if (!c.Has("rscript")) {
      EXPECT_EQ(record_.runs, 1);
      EXPECT_EQ(record_.folder, tp_->project()->folder());
      EXPECT_EQ(record_.engine_path, "/usr/bin/R");
    }
  }
  EXPECT_EQ(notify_->statuses, statuses);
  EXPECT_EQ(notify_->finished, 1);
  EXPECT_EQ(Item().status, statuses.back());
  EXPECT_EQ(Item().run_date.has_value(), statuses.back() != 0);

  const std::string log = engine_->Log();
  std::size_t at = 0;
  for (const std::string& part : Lines(c.Get("has"))) {
    at = log.find(part, at);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: " << part << "\n" << log;
  }
  for (const std::string& part : Lines(c.Get("lacks")))
    EXPECT_FALSE(Has(log, part)) << part << "\n" << log;

  const bool stats = c.Get("stored") == "yes";
  std::vector<std::pair<std::int32_t, float>> stored, expected;
  for (const auto& s : tp_->project()->ItemStats(kItem)) stored.emplace_back(s.code, s.value);
  if (stats) expected = {{1, 3120.0f}, {2, 0.5f}};
  EXPECT_EQ(stored, expected) << log;
  EXPECT_EQ(fs::exists(plot), stats);
  const std::optional<StoredRow> row = Row();
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->output, c.Get("output"));
  EXPECT_EQ(row->log, log);

  if (launched || c.Has("kept")) {
    EXPECT_EQ(services_->files.created.size(), 1u);
  }
  for (const std::string& folder : services_->files.created) {
    EXPECT_EQ(fs::exists(folder), c.Has("kept")) << folder;
    for (const std::string& name : Words(c.Get("kept")))
      EXPECT_TRUE(fs::exists(folder + "/" + name)) << name;
    fs::remove_all(folder);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, RunTest, ::testing::ValuesIn(ReadCases("engine/runs.txt")),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pramble::testing
