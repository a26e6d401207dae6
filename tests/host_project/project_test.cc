// The project as the engine sees it: created from the example description
// (real CSV files) and read back through ProjectDatabase; settings, items and
// statistics persisted at once; errors of folders that are no projects.
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "pramble/host/errors.h"
#include "sqlhost/project/definition_retrieval.h"
#include "sqlhost/util/text_log.h"
#include "host_project/project_fixture.h"

namespace pramble::sqlhost::test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST_F(ProjectTest, ExampleFolderHoldsTheTwoDatabases) {
  CreateFromExample();
  EXPECT_EQ(project().GetProjectFolder(0), fs::absolute(dir()).lexically_normal().string());
  EXPECT_EQ(project().folder(), project().GetProjectFolder(0));
  project_.reset();  // while open, SQLite keeps its WAL files beside the databases
  EXPECT_EQ(FilesIn(dir()), (std::set<std::string>{"data.db", "project.db"}));
  EXPECT_EQ(FilesIn(temp_.path()), (std::set<std::string>{"project"}));
}

TEST_F(ProjectTest, ExampleLayersKeepOrderTypesAndParents) {
  CreateFromExample();
  struct Expected {
    const char* name;
    std::int32_t type;
    const char* parent;  // "" for none
  };
  const Expected expected[] = {{"Study area", 1, ""},
                               {"Region", 10, "Study area"},
                               {"Line transect", 20, "Region"},
                               {"Observation", 30, "Line transect"}};
  ASSERT_EQ(project().layers().all().size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    auto layer = project().Layers().Item(expected[i].name);
    EXPECT_EQ(layer->Name(), expected[i].name);
    EXPECT_EQ(layer->LayerType(), expected[i].type);
    auto parent = layer->GetParentLayer("");
    EXPECT_EQ(parent ? parent->Name() : "", expected[i].parent);
    EXPECT_EQ(project().layers().all()[i]->Name(), expected[i].name);
  }
}

TEST_F(ProjectTest, GetParentLayerFindsTheNearestListedType) {
  CreateFromExample();
  auto obs = project().Layers().Item("observation");  // names without regard to case
  struct Case {
    const char* codes;
    const char* parent;  // "" for none
  } cases[] = {{"", "Line transect"},
               {"20", "Line transect"},
               {"20,21,22,23,24,25", "Line transect"},
               {"1,10,11,12,13,14,15", "Region"},
               {"10", "Region"},
               {"1", "Study area"},
               {" 1 , 25", "Study area"},
               {"25", ""},
               {"30", ""},
               {"0", ""}};
  for (const auto& c : cases) {
    auto parent = obs->GetParentLayer(c.codes);
    EXPECT_EQ(parent ? parent->Name() : "", c.parent) << "codes '" << c.codes << "'";
  }
  EXPECT_EQ(project().Layers().Item("Study area")->GetParentLayer(""), nullptr);
  try {
    obs->GetParentLayer("10,x");
    FAIL() << "a code that is no number must fail";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrTypeMismatch);
  }
  try {
    project().Layers().Item("Transect");
    FAIL() << "an unknown layer must fail";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrItemNotFound);
    EXPECT_EQ(e.description(), "Item not found in this collection: there is no layer 'Transect'.");
  }
}

TEST_F(ProjectTest, ExampleFieldsKeepOrderTypesAndUnits) {
  CreateFromExample();
  struct Field {
    const char* name;
    std::int32_t type;
    const char* units;
  };
  const Field obs_fields[] = {{"ID", 10, ""},    {"ParentID", 11, ""}, {"distance", 2, "Meter"},
                              {"object", 1, ""}, {"observer", 1, ""},  {"detected", 1, ""},
                              {"size", 1, ""},   {"sex", 3, ""}};
  auto& fields = project().Layers().Item("Observation")->Fields();
  ASSERT_EQ(fields.Count(), 8);
  for (int i = 0; i < fields.Count(); ++i) {
    EXPECT_EQ(fields.At(i)->Name(), obs_fields[i].name);
    EXPECT_EQ(fields.At(i)->FieldType(), obs_fields[i].type);
    EXPECT_EQ(fields.At(i)->Units(), obs_fields[i].units);
  }
  EXPECT_EQ(fields.Item("DISTANCE")->Name(), "distance");
  EXPECT_EQ(fields.Item("Distance2"), nullptr);
  EXPECT_EQ(fields.IDField()->Name(), "ID");
  EXPECT_EQ(fields.LinkField()->Name(), "ParentID");
  EXPECT_EQ(fields.LabelField(), nullptr);

  auto& transect = project().Layers().Item("Line transect")->Fields();
  EXPECT_EQ(transect.LabelField()->Name(), "Label");
  EXPECT_EQ(transect.Item("line length")->Units(), "Kilometer");
  EXPECT_EQ(project().Layers().Item("Study area")->Fields().LinkField(), nullptr);
  EXPECT_EQ(project().Layers().Item("Region")->Fields().Item("Area")->Units(), "Square kilometer");
}

TEST_F(ProjectTest, ExampleRowsAreInTheDataDatabase) {
  CreateFromExample();
  auto& data = project().DataDatabase();
  EXPECT_EQ(host::ToLong(Scalar(data, "SELECT COUNT(*) FROM [Observation]")), 304);
  EXPECT_EQ(host::ToLong(Scalar(data, "SELECT COUNT(*) FROM [Line transect]")), 12);
  EXPECT_EQ(
      host::ToDouble(Scalar(data, "SELECT [Line length] FROM [Line transect] WHERE [ID] = 2")),
      7.71);
  EXPECT_EQ(host::ToText(Scalar(data, "SELECT [Label] FROM [Line transect] WHERE [ID] = 2")), "T2");
  EXPECT_EQ(host::ToDouble(Scalar(data, "SELECT [Area] FROM [Region] WHERE [ID] = 2")), 102.2);
  EXPECT_EQ(host::ToText(Scalar(data, "SELECT [sex] FROM [Observation] WHERE [ID] = 3")), "M");
  // Typed columns: whole numbers stay integers, decimals doubles.
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(
      Scalar(data, "SELECT [size] FROM [Observation] WHERE [ID] = 3")));
  EXPECT_TRUE(std::holds_alternative<double>(
      Scalar(data, "SELECT [distance] FROM [Observation] WHERE [ID] = 3")));
}

TEST_F(ProjectTest, ExampleItemsSettingsAndDefinitions) {
  CreateFromExample();
  auto items = project().ListItems();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].id, 1);
  EXPECT_EQ(items[0].name, "io half-normal, by region");
  EXPECT_EQ(items[0].status, 0);
  EXPECT_FALSE(items[0].run_date.has_value());
  EXPECT_EQ(items[0].survey_id, 1);
  EXPECT_FALSE(project().FindItem(2).has_value());

  auto& settings = project().Settings();
  EXPECT_EQ(settings.GetSetting(1, 3, "AnalysisDetails", "EchoData", host::Value{true}),
            host::Value{false});
  EXPECT_EQ(settings.GetSetting(1, 3, "analysisdetails", "ECHODATA"), host::Value{false});
  EXPECT_EQ(settings.GetSetting(1, 3, "AnalysisDetails", "DebugMode", host::Value{false}),
            host::Value{false});
  EXPECT_TRUE(host::IsNull(settings.GetSetting(1, 2, "General", "CompressionLevel")));

  const nlohmann::json description =
      nlohmann::json::parse(pramble::testing::ReadFile(ExampleFile()));
  auto item = project().Browsers().Item(0).Items().Item(1);
  ProjectDefinitionRetrieval retrieval;
  TextLog log;
  std::string text;
  ASSERT_TRUE(retrieval.GetSurveyDefinition(text, project(), *item, log));
  EXPECT_EQ(text, description["surveys"][0]["definition"].get<std::string>());
  ASSERT_TRUE(retrieval.GetDataFilterDefinition(text, project(), *item, log));
  EXPECT_EQ(text, description["data_filters"][0]["definition"].get<std::string>());
  ASSERT_TRUE(retrieval.GetModelDefinitionDefinition(text, project(), *item, log));
  EXPECT_EQ(text, description["model_definitions"][0]["definition"].get<std::string>());
  EXPECT_EQ(log.Contents(), "");
}

// An item whose ID the project does not hold (the retrieval is handed one).
class UnknownItem : public host::BrowserItem {
 public:
  std::int32_t ID() const override { return 99; }
  std::int32_t Status() const override { return 0; }
  void SetStatus(std::int32_t) override {}
  host::Date RunDate() const override { return std::nullopt; }
  void SetRunDate(const host::Date&) override {}
  void SetStat(std::int32_t, float) override {}
  void ClearStats() override {}
};

TEST_F(ProjectTest, RetrievalOfAnUnknownItemLogsWhatIsMissing) {
  CreateFromExample();
  UnknownItem item;
  ProjectDefinitionRetrieval retrieval;
  TextLog log;
  std::string text;
  EXPECT_FALSE(retrieval.GetModelDefinitionDefinition(text, project(), item, log));
  EXPECT_EQ(log.Severity(), 2);
  EXPECT_NE(
      log.Contents().find(
          "Could not find the model definition of analysis item 99: the project has no such item."),
      std::string::npos)
      << log.Contents();
}

TEST_F(ProjectTest, SettingsKeepTheirTypeAcrossOpens) {
  CreateFromExample();
  const host::Value values[] = {host::Value{true},
                                host::Value{false},
                                host::Value{std::int64_t{-3}},
                                host::Value{2.5},
                                host::Value{std::string("Pramble")},
                                host::Value{std::string("")}};
  for (const auto& v : values) {
    project().Settings().SaveSetting(1, 2, "R", "Value", v);
    auto reopened = Project::Open(dir());
    EXPECT_EQ(reopened->Settings().GetSetting(1, 2, "r", "value"), v) << host::ToText(v);
  }
  project().Settings().SaveSetting(1, 3, "R", "Value", host::Value{});
  EXPECT_EQ(project().GetSettingValue("R", "Value"), std::nullopt);
}

// An override is this object's alone: another open of the same project (a
// run in another process) reads what is stored, and nothing is stored.
TEST_F(ProjectTest, OverriddenSettingStaysWithItsObject) {
  CreateFromExample();
  auto other = Project::Open(dir());
  project().OverrideSetting("AnalysisDetails", "DebugMode", host::Value{true});
  EXPECT_EQ(project().Settings().GetSetting(1, 3, "analysisdetails", "debugmode",
                                            host::Value{false}),
            host::Value{true});
  EXPECT_EQ(other->Settings().GetSetting(1, 3, "AnalysisDetails", "DebugMode", host::Value{false}),
            host::Value{false});
  EXPECT_EQ(project().GetSettingValue("AnalysisDetails", "DebugMode"), std::nullopt);
  project().OverrideSetting("AnalysisDetails", "DebugMode", host::Value{});
  EXPECT_EQ(project().Settings().GetSetting(1, 3, "AnalysisDetails", "DebugMode",
                                            host::Value{false}),
            host::Value{false});
}

TEST_F(ProjectTest, BrowsersFindKnownItemsOnly) {
  CreateFromExample();
  auto& browsers = project().Browsers();
  EXPECT_EQ(browsers.IndexOfItem(1), 0);
  EXPECT_EQ(browsers.Item(browsers.IndexOfItem(1)).Items().Item(1)->ID(), 1);
  const std::int64_t index = browsers.IndexOfItem(99);
  try {
    browsers.Item(index).Items().Item(99);
    FAIL() << "item 99 must not be found";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrElementNotFound);
    EXPECT_EQ(e.description(), "Element not found");
  }
}

TEST_F(ProjectTest, ItemChangesArePersistedAtOnce) {
  CreateFromExample();
  int notified = 0;
  project().SetItemChangedCallback([&] { ++notified; });
  auto item = project().Browsers().Item(0).Items().Item(1);
  const auto when =
      std::chrono::system_clock::time_point(std::chrono::microseconds(1700000000123456));
  item->SetStatus(7);
  item->SetRunDate(when);
  project().NotifyItemChanged();
  item->SetStat(1001, 1.5f);
  item->SetStat(1002, 2.25f);
  item->SetStat(1001, 3.0f);  // a second value of a code replaces the first

  auto other = Project::Open(dir());  // another reader of the project
  auto seen = other->FindItem(1);
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->status, 7);
  EXPECT_EQ(seen->run_date, host::Date(when));
  EXPECT_EQ(other->Browsers().Item(0).Items().Item(1)->Status(), 7);
  auto stats = other->ItemStats(1);
  ASSERT_EQ(stats.size(), 2u);
  EXPECT_EQ(stats[0].code, 1002);
  EXPECT_EQ(stats[0].value, 2.25f);
  EXPECT_EQ(stats[1].code, 1001);
  EXPECT_EQ(stats[1].value, 3.0f);
  EXPECT_EQ(notified, 1);

  item->ClearStats();
  item->SetRunDate(std::nullopt);
  EXPECT_TRUE(other->ItemStats(1).empty());
  EXPECT_FALSE(other->FindItem(1)->run_date.has_value());
  EXPECT_FALSE(item->RunDate().has_value());
}

TEST(ProjectTextTest, StatusTextsAndRunDates) {
  const std::pair<std::int32_t, const char*> texts[] = {{0, "Not run"},
                                                        {1, "Finished"},
                                                        {2, "Finished with warnings"},
                                                        {3, "Finished with errors"},
                                                        {6, "Preparing"},
                                                        {7, "Engine running"},
                                                        {8, "Reading results"},
                                                        {9, "Stopping"},
                                                        {5, "Unknown"}};
  for (const auto& [status, text] : texts) EXPECT_EQ(Project::StatusText(status), text);
  EXPECT_EQ(Project::FormatRunDate(std::nullopt), "");
  EXPECT_EQ(Project::FormatRunDate(std::chrono::system_clock::now()).size(), 19u);
}

TEST_F(ProjectTest, OpenRefusesFoldersThatAreNoProjects) {
  const std::string base = temp_.path();
  fs::create_directory(base + "/empty");
  pramble::testing::WriteFile(base + "/file", "x");
  fs::create_directory(base + "/garbage");
  pramble::testing::WriteFile(base + "/garbage/project.db", "this is not a database");
  pramble::testing::WriteFile(base + "/garbage/data.db", "this is not a database");
  fs::create_directory(base + "/other");
  {
    sqlite3* db = nullptr;
    sqlite3_open((base + "/other/project.db").c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    sqlite3_open((base + "/other/data.db").c_str(), &db);
    sqlite3_close(db);
  }
  struct Case {
    std::string dir;
    ProjectError::Kind kind;
    std::string message;  // the start of the message
  } cases[] = {
      {base + "/none", ProjectError::Kind::kMissing,
       "project folder '" + base + "/none' does not exist"},
      {base + "/file", ProjectError::Kind::kUnreadable,
       "'" + base + "/file' is not a project folder (it is not a folder)"},
      {base + "/empty", ProjectError::Kind::kUnreadable,
       "'" + base + "/empty' is not a pramble project: it has no project.db"},
      {base + "/garbage", ProjectError::Kind::kUnreadable,
       "cannot open the project database '" + base + "/garbage/project.db': "},
      {base + "/other", ProjectError::Kind::kUnreadable,
       "cannot read the project database '" + base + "/other/project.db': "},
  };
  for (const auto& c : cases) {
    try {
      Project::Open(c.dir);
      ADD_FAILURE() << c.dir << " opened";
    } catch (const ProjectError& e) {
      EXPECT_EQ(e.kind(), c.kind) << c.dir;
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message) << e.what();
      if (c.dir == base + "/garbage") {
        EXPECT_NE(std::string(e.what()).find("file is not a database"), std::string::npos);
      }
    }
  }
}

TEST_F(ProjectTest, ALockedProjectDatabaseGivesAClearError) {
  CreateFromExample();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dir() + "/project.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  project().project_database().SetBusyTimeout(0);
  try {
    project().SetSettingValue("R", "ForceLoadLibrary", host::Value{false});
    ADD_FAILURE() << "a write under another process's lock must fail";
  } catch (const host::HostError& e) {
    EXPECT_EQ(e.number(), host::kErrDatabaseLocked);
    EXPECT_NE(std::string(e.what()).find("database is locked"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("INSERT INTO settings"), std::string::npos) << e.what();
  }
  // Readers are not held up by the writer.
  EXPECT_EQ(project().ListItems().size(), 1u);
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  project().SetSettingValue("R", "ForceLoadLibrary", host::Value{false});
  EXPECT_EQ(project().GetSettingValue("R", "ForceLoadLibrary"), host::Value{false});
}

TEST_F(ProjectTest, CreateRefusesAnExistingFolderAndLeavesNothingOnFailure) {
  fs::create_directory(dir());
  try {
    CreateProject(dir(), ExampleFile());
    ADD_FAILURE() << "create into an existing folder";
  } catch (const ProjectError& e) {
    EXPECT_EQ(e.kind(), ProjectError::Kind::kExists);
    EXPECT_EQ(std::string(e.what()), "cannot create project folder '" + dir() +
                                         "': it exists already (give a new folder)");
  }
  EXPECT_TRUE(FilesIn(dir()).empty());
  fs::remove(dir());

  nlohmann::json bad = pramble::testing::ExampleDescription();
  bad["analyses"][0]["survey"] = 7;
  EXPECT_THROW(CreateProjectFromJson(dir(), bad, ""), DescriptionError);
  EXPECT_TRUE(FilesIn(temp_.path()).empty());
}

TEST_F(ProjectTest, NamesWithBlanksQuotesAndAccentsAreQuotedSafely) {
  nlohmann::json d = LayeredDescription("Type Line;");
  d["layers"][1]["name"] = "Ré'gion \"Nord\"";
  d["layers"][2]["parent"] = "Ré'gion \"Nord\"";
  d["layers"][1]["fields"][3]["name"] = "Aire (km²) \"x\"";
  CreateFrom(d);
  auto layer = project().Layers().Item("ré'gion \"nord\"");  // ASCII case only
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->Fields().At(3)->Name(), "Aire (km²) \"x\"");
  EXPECT_EQ(host::ToDouble(Scalar(project().DataDatabase(),
                                  "SELECT SUM([Aire (km²) \"x\"]) FROM [Ré'gion \"Nord\"]")),
            100.0);
  EXPECT_EQ(project().Layers().Item("Block")->GetParentLayer("")->Name(), "Ré'gion \"Nord\"");
}

}  // namespace
}  // namespace pramble::sqlhost::test
