// The data file maker on real projects, one case per entry of
// tests/data/data_files/cases.txt: a description (tests/data/data_files/
// base.json with a JSON patch) and definitions, a host call to break, and
// what must come of it: the temporary queries saved (their SQL as the data
// database holds it, their rows just before the clean-up), the files written
// and the problems logged. "{X}" in expected text stands for the saved name of
// the item's query (or layer) X, "<N>" for the display name of layer type N,
// "{folder}" for the command folder. Then R reads the files back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "data_files/c_cls_data_file_maker.h"
#include "errors/c_mod_global.h"
#include "pramble/host/value.h"
#include "sqlhost/project/project.h"
#include "sqlhost/services/default_services.h"
#include "sqlhost/util/string_utilities.h"
#include "support/faults.h"
#include "support/test_project.h"

namespace pramble::testing {

namespace {

using nlohmann::json;
constexpr std::int32_t kItem = 7;

// The rows of a query, header first, the rows sorted, values tab-separated.
std::string DumpRows(host::dao::Database& db, const std::string& source) {
  auto rs = db.OpenRecordset(source, host::dao::kOpenDynaset);
  std::string out;
  for (int i = 0; i < rs->FieldCount(); ++i) out += (i ? "\t" : "") + rs->Fields(i).Name();
  std::vector<std::string> rows;
  for (; !rs->Eof(); rs->MoveNext()) {
    std::string row;
    for (int i = 0; i < rs->FieldCount(); ++i) {
      const host::Value v = rs->Fields(i).GetValue();
      row += (i ? "\t" : "") + (host::IsNull(v) ? std::string("NULL") : host::ToText(v));
    }
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  for (const auto& r : rows) out += "\n" + r;
  return out + "\n";
}

struct MakerRun {
  bool ok = false;
  std::vector<std::pair<std::string, int>> problems, log;
  std::vector<std::string> saved, left;
  std::map<std::string, std::string> sql, rows, files;  // by suffix; by file name
  std::map<std::string, std::string> paths, names, type_names;
  std::string units;  // distance, effort and area units, "|"-separated
  std::string folder;

  std::string Expand(std::string text) const {
    for (const char* open : {"{", "<"})
      for (std::size_t p = text.find(open); p != std::string::npos; p = text.find(open, p)) {
        const std::size_t q = text.find(*open == '{' ? '}' : '>', p);
        const std::string key = text.substr(p + 1, q - p - 1);
        const std::string value = key == "folder" ? folder
                                  : *open == '{'  ? names.at(key)
                                                  : type_names.at(key);
        text.replace(p, q - p + 1, value);
        p += value.size();
      }
    return text;
  }
};

const char* const kSuffixes[] = {"_Obs", "_Smp", "_SmpEffort1", "_SmpEffort2", "_SmpEffort3",
                                 "_Str", "_StrArea1", "_StrArea2", "_StrArea3", "_Data",
                                 "_Ddf", "_DhtRegion", "_DhtSample", "_DhtObs"};

MakerRun RunMaker(const json& description, const Case& c, const std::string& folder) {
  auto tp = TestProject::FromJson(description);
  FaultyServices services(&tp->services());
  host::ScopedServices installed(&services);
  host::dao::Database& data = tp->project()->DataDatabase();
  MakerRun run;
  run.folder = folder;
  std::map<std::string, std::string> suffix_of;
  for (const char* s : kSuffixes) suffix_of[run.names[s] = services.Queries().GetTempQueryName(s, kItem)] = s;
  for (const auto& layer : description["layers"]) {
    const std::string name = layer["name"];
    run.names[name] = services.Queries().GetTempQueryName(name, kItem);
  }
  for (int code : {0, 1, 10, 11, 12, 13, 14, 15, 20, 21, 22, 23, 24, 25, 30})
    run.type_names[std::to_string(code)] = services.LayerTypes().GetLayerTypeName(code);
  for (const std::string& b : c.All("break")) {
    const auto w = Words(b);
    services.faults.Break(w[0], run.Expand(w[1]));
  }
  services.faults.watch = [&](const std::string& call, const std::string& name) {
    if (call == "CreateQueryDef" && suffix_of.count(name)) run.saved.push_back(suffix_of[name]);
    if (call != "DeleteQueryDef" || !run.sql.empty()) return;
    for (const std::string& s : run.saved) {  // before the clean-up
      run.sql[s] = data.QueryDefSql(run.names[s]);
      try {
        run.rows[s] = DumpRows(data, run.names[s]);
      } catch (const std::exception& e) {
        run.rows[s] = std::string("error: ") + e.what();
      }
    }
  };
  auto log = std::make_shared<RecordingLog>(services.NewLog());
  gLog = log;
  if (c.Has("stale")) WriteFile(folder + "/" + c.Get("stale"), "stale");
  {
    CClsDataFileMaker maker;
    maker.ProjectDatabase(std::make_shared<FaultyProject>(tp->project(), services.faults));
    maker.ID(kItem);
    maker.SurveyDefinition(c.Get("survey", "Type Line; Distance Perp; Object Cluster; "
                                           "Configuration d; PDist /Fld=distance; CSize /Fld=size; "
                                           "ObjID /Fld=object; Obs /Fld=observer; Detected "
                                           "/Fld=detected; Area /Fld=Area; Effort /Fld=\"Line length\";"));
    maker.DataFilterDefinition(c.Get("filter", "Distance /Width=50;"));
    maker.ModelDefinitionDefinition(c.Get("model", "Method io; Stratification Stratify /LayerType=10;"));
    maker.CmdFolder(folder);
    if (c.Has("preset")) maker.DdfDataFile(c.Get("preset"));
    const std::string parts = c.Get("parts", "ddf dht");
    run.ok = maker.MakeFiles(Has(parts, "ddf"), Has(parts, "dht"), c.Has("single"));
    run.paths = {{"ddf", maker.DdfDataFile()}, {"region", maker.RegionDataFile()},
                 {"sample", maker.SampleDataFile()}, {"obs", maker.ObsDataFile()}};
    run.units = maker.DistanceMeasureUnits() + "|" + maker.EffortMeasureUnits() + "|" +
                maker.AreaMeasureUnits();
  }
  gLog.reset();
  run.log = log->entries;
  run.problems = log->Problems();
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    run.files[entry.path().filename().string()] = ReadFile(entry.path().string());
  run.left = data.QueryDefNames();
  return run;
}

class MakerTest : public ::testing::TestWithParam<Case> {};

TEST_P(MakerTest, SavesWritesAndLogsWhatTheCaseSays) {
  const Case& c = GetParam();
  json description = json::parse(ReadFile(DataPath("data_files/base.json")));
  if (c.Has("patch")) description = description.patch(json::parse(c.Get("patch")));
  TempDir folder;
  const MakerRun run = RunMaker(description, c, folder.path());

  EXPECT_EQ(run.ok, !c.Has("refused"));
  EXPECT_EQ(run.left, std::vector<std::string>{});
  const auto expected = Lines(c.Get("problems"));
  ASSERT_EQ(run.problems.size(), expected.size()) << (run.problems.empty() ? "" : run.problems[0].first);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(run.problems[i].second, std::stoi(expected[i]));
    EXPECT_EQ(run.problems[i].first.rfind(run.Expand(expected[i].substr(2)), 0), 0u)
        << run.problems[i].first;
  }
  if (c.Has("saved")) { EXPECT_EQ(run.saved, Words(c.Get("saved"))); }
  for (const auto& [key, value] : c.fields) {
    const std::string what = key.substr(0, key.find(':')), arg = key.substr(key.find(':') + 1);
    if (what != "sql" && what != "rows" && what != "file") continue;
    const std::string actual = what == "sql"    ? run.sql.at(arg) + "\n"
                               : what == "rows" ? run.rows.at(arg)
                                                : run.files.at(arg);
    EXPECT_EQ(actual, what == "sql" ? run.Expand(value) : what == "file" ? Crlf(value) : value)
        << key;
  }
  std::vector<std::string> names, expected_names = Words(c.Get("files"));
  for (const auto& [name, bytes] : run.files) names.push_back(name);
  const std::string parts = c.Get("parts", "ddf dht");
  if (run.ok && Has(parts, "ddf")) expected_names.push_back("ddf.dat.r");
  if (run.ok && Has(parts, "dht")) expected_names.insert(expected_names.end(), {"obs.dat.r", "region.dat.r", "sample.dat.r"});
  EXPECT_EQ(names, expected_names);
  // The paths of the files written; with "paths", the others stay empty.
  std::string paths = c.Get("paths");
  if (!c.Has("paths") && run.ok && Has(parts, "ddf")) paths += " ddf";
  if (!c.Has("paths") && run.ok && Has(parts, "dht")) paths += " region sample obs";
  for (const char* file : {"ddf", "region", "sample", "obs"})
    if (Has(paths, file) || c.Has("paths")) {
      EXPECT_EQ(run.paths.at(file), Has(paths, file) ? run.folder + "/" + file + ".dat.r" : "");
    }
  if (!run.ok) return;
  EXPECT_EQ(run.log.at(0), std::make_pair(std::string("Making data files"), 0));
  if (c.Has("note")) { EXPECT_EQ(run.log.at(1), std::make_pair(Crlf(c.Get("note")), 0)); }
  EXPECT_EQ(run.units, "Meter|Kilometer|" + c.Get("area-units", "Square kilometer"));
}

INSTANTIATE_TEST_SUITE_P(Cases, MakerTest, ::testing::ValuesIn(ReadCases("data_files/cases.txt")),
                         [](const auto& info) { return info.param.name; });

// A path set by the caller is used as it is, even outside the command folder.
TEST(MakerPathTest, PresetPathIsKept) {
  TempDir folder, elsewhere;
  const std::string path = elsewhere / "my ddf data.txt";
  const MakerRun run = RunMaker(json::parse(ReadFile(DataPath("data_files/base.json"))),
                                Case{"", {{"parts", "ddf"}, {"preset", path}}}, folder.path());
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.paths.at("ddf"), path);
  EXPECT_TRUE(run.files.empty());
  EXPECT_EQ(ReadFile(path).substr(0, 9), "distance\t");
}

// The files of the example project, and awkward numbers, read back by a real
// R with the command file's own read.table lines (the checks are in
// tests/data/data_files/read_back.R).
TEST(EndToEndTest, RReadsTheExampleFilesAndExactNumbers) {
  const json example = json::parse(ReadFile(PRAMBLE_EXAMPLES_DIR "/double-observer/project.json"));
  TempDir dir;
  std::filesystem::create_directory(dir / "example");
  std::filesystem::create_directory(dir / "numbers");
  const MakerRun run = RunMaker(
      ExampleDescription(),
      Case{"", {{"survey", example["surveys"][0]["definition"].get<std::string>()},
                {"filter", example["data_filters"][0]["definition"].get<std::string>()},
                {"model", example["model_definitions"][0]["definition"].get<std::string>()}}},
      dir / "example");
  ASSERT_TRUE(run.ok);
  ASSERT_TRUE(run.problems.empty()) << run.problems[0].first;

  // Numbers R's reader gets wrong in their shortest form come first.
  const double numbers[] = {-391.52420071017133, 24.392453772581842, 43045873.708774246,
                            -0.079084103424879107, 0.1, 1.0 / 3, 2.0 / 3, 65.9, -0.125, 1e-7,
                            1e-300, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                            123456.789, 0.30000000000000004, 1e21, 1e22, 299792.458};
  json d = json::parse(ReadFile(DataPath("data_files/base.json")));
  json& rows = d["layers"][3]["rows"];
  rows = json::array();
  std::string hex;
  for (double x : numbers) {
    const int id = static_cast<int>(rows.size()) + 1;
    rows.push_back({id, 1, x, id, 1, 1, 1, "F"});
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", x);
    hex += std::string(id > 1 ? ", " : "") + "'" + buf + "'";
  }
  const MakerRun numbers_run = RunMaker(d, Case{"", {{"parts", "ddf"}}}, dir / "numbers");
  ASSERT_TRUE(numbers_run.ok);

  std::string script = ReadFile(DataPath("data_files/read_back.R"));
  const auto r = [](const std::string& path) { return sqlhost::RQuotablePath(path); };
  script = Fill(script, {{"{DDF}", r(run.paths.at("ddf"))}, {"{REGION}", r(run.paths.at("region"))},
                         {"{SAMPLE}", r(run.paths.at("sample"))}, {"{OBS}", r(run.paths.at("obs"))},
                         {"{NUMBERS}", r(numbers_run.paths.at("ddf"))}, {"{HEX}", hex},
                         {"{EXAMPLES}", r(PRAMBLE_EXAMPLES_DIR "/double-observer")}});
  WriteFile(dir / "check.R", script);
  EXPECT_EQ(RunRscript(dir / "check.R"), "all read back\n");
}

}  // namespace
}  // namespace pramble::testing
