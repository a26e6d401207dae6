// The project as the engine sees it: created from the example description
// (real CSV files) and read back through ProjectDatabase; items and
// statistics persisted at once; errors of folders that are no projects.
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "host_project/project_fixture.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/definition_retrieval.h"
#include "sqlhost/util/text_log.h"
#include "support/child_lock.h"

namespace pramble::sqlhost::test {
namespace {

namespace fs = std::filesystem;
using pramble::testing::Failure;

std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
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

TEST_F(ProjectTest, ExampleReadsBack) {
  CreateFromExample();
  EXPECT_EQ(project().GetProjectFolder(0), fs::absolute(dir()).lexically_normal().string());
  EXPECT_EQ(project().folder(), project().GetProjectFolder(0));
  {  // what follows holds parts of the project
    // Layers and fields in their order, with types, parents, units and roles.
    std::string layers;
    for (const auto& layer : project().layers().all()) {
      auto parent = project().Layers().Item(layer->Name())->GetParentLayer("");
      auto& fields = layer->Fields();
      layers += layer->Name() + " " + std::to_string(layer->LayerType()) + " < " +
                (parent ? parent->Name() : "") + " | id " + fields.IDField()->Name() + " link " +
                (fields.LinkField() ? fields.LinkField()->Name() : "") + " label " +
                (fields.LabelField() ? fields.LabelField()->Name() : "") + "\n";
      for (int i = 0; i < fields.Count(); ++i)
        layers += "  " + fields.At(i)->Name() + " " + std::to_string(fields.At(i)->FieldType()) +
                  " " + fields.At(i)->Units() + "\n";
    }
    EXPECT_EQ(layers, pramble::testing::ReadFile(std::string(PRAMBLE_SOURCE_DIR) +
                                                 "/tests/data/host_project/example_layers.txt"));
    auto& obs_fields = project().Layers().Item("observation")->Fields();  // names without case
    EXPECT_EQ(obs_fields.Item("DISTANCE")->Name(), "distance");
    EXPECT_EQ(obs_fields.Item("Distance2"), nullptr);
    EXPECT_EQ(Failure([&] { project().Layers().Item("Transect"); }),
              "3265: Item not found in this collection: there is no layer 'Transect'.");

    // Rows in the data database, typed: whole numbers stay integers, decimals doubles.
    for (const auto& c : Cases("example value")) {
      const host::Value v = Scalar(c[0]);
      const char* type = std::holds_alternative<std::int64_t>(v) ? "int "
                         : std::holds_alternative<double>(v)     ? "double "
                                                                 : "text ";
      EXPECT_EQ(type + host::ToText(v), c[3]) << c[0];
    }
    // Items, settings, browsers and the definitions of the one item.
    auto items = project().ListItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].id, 1);
    EXPECT_EQ(items[0].name, "io half-normal, by region");
    EXPECT_EQ(items[0].status, 0);
    EXPECT_FALSE(items[0].run_date.has_value());
    EXPECT_EQ(items[0].survey_id, 1);
    EXPECT_FALSE(project().FindItem(2).has_value());
    auto& settings = project().Settings();
    EXPECT_EQ(settings.GetSetting(1, 3, "analysisdetails", "ECHODATA", host::Value{true}),
              host::Value{false});
    EXPECT_EQ(settings.GetSetting(1, 3, "AnalysisDetails", "DebugMode", host::Value{false}),
              host::Value{false});
    EXPECT_TRUE(host::IsNull(settings.GetSetting(1, 2, "General", "CompressionLevel")));
    auto& browsers = project().Browsers();
    EXPECT_EQ(browsers.IndexOfItem(1), 0);
    EXPECT_EQ(Failure([&] { browsers.Item(browsers.IndexOfItem(99)).Items().Item(99); }),
              "35601: Element not found");
    const nlohmann::json description =
        nlohmann::json::parse(pramble::testing::ReadFile(ExampleFile()));
    auto item = browsers.Item(0).Items().Item(1);
    EXPECT_EQ(item->ID(), 1);
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
    UnknownItem unknown;
    EXPECT_FALSE(retrieval.GetModelDefinitionDefinition(text, project(), unknown, log));
    EXPECT_EQ(log.Severity(), 2);
    EXPECT_TRUE(pramble::testing::Has(log.Contents(),
                                      "Could not find the model definition of analysis item 99: "
                                      "the project has no such item."))
        << log.Contents();
  }
  project_.reset();  // while open, SQLite keeps its WAL files beside the databases
  EXPECT_EQ(FilesIn(dir()), (std::set<std::string>{"data.db", "project.db"}));
  EXPECT_EQ(FilesIn(temp_.path()), (std::set<std::string>{"project"}));
}

TEST_F(ProjectTest, GetParentLayerFindsTheNearestListedType) {
  CreateFromExample();
  auto obs = project().Layers().Item("Observation");
  for (const auto& c : Cases("parent")) {
    auto parent = obs->GetParentLayer(c[0]);
    EXPECT_EQ(parent ? parent->Name() : "", c[3]) << "codes '" << c[0] << "'";
  }
  EXPECT_EQ(project().Layers().Item("Study area")->GetParentLayer(""), nullptr);
  EXPECT_EQ(Failure([&] { obs->GetParentLayer("10,x"); }).substr(0, 4), "13: ");
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

  for (const auto& c : Cases("status")) EXPECT_EQ(Project::StatusText(std::stoi(c[0])), c[3]);
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
  sqlite3* db = nullptr;
  sqlite3_open((base + "/other/project.db").c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  sqlite3_open((base + "/other/data.db").c_str(), &db);
  sqlite3_close(db);
  for (const auto& c : pramble::testing::ReadTable("host_project/open_refusals.tsv")) {
    const std::string folder = c[0], message = pramble::testing::Fill(c[2], {{"<base>", base}});
    try {
      Project::Open(base + folder);
      ADD_FAILURE() << folder << " opened";
    } catch (const ProjectError& e) {
      EXPECT_EQ(e.kind(), c[1] == "missing" ? ProjectError::Kind::kMissing
                                            : ProjectError::Kind::kUnreadable) << folder;
      EXPECT_EQ(std::string(e.what()).substr(0, message.size()), message) << e.what();
      if (folder == "/garbage") EXPECT_TRUE(pramble::testing::Has(e.what(), "not a database"));
    }
  }
}

TEST_F(ProjectTest, ALockedProjectDatabaseGivesAClearError) {
  CreateFromExample();
  project().project_database().SetBusyTimeout(0);
  {
    pramble::testing::ChildLock lock(dir() + "/project.db");
    ASSERT_TRUE(lock.locked());
    const std::string error = Failure(
        [&] { project().SetSettingValue("R", "ForceLoadLibrary", host::Value{false}); });
    EXPECT_EQ(error.substr(0, 6), "3260: ");
    EXPECT_TRUE(pramble::testing::Has(error, "database is locked")) << error;
    EXPECT_TRUE(pramble::testing::Has(error, "INSERT INTO settings")) << error;
    EXPECT_EQ(project().ListItems().size(), 1u);  // readers are not held up by the writer
  }
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
  nlohmann::json d = LayeredDescription();
  d["layers"][1]["name"] = "Ré'gion \"Nord\"";
  d["layers"][2]["parent"] = "Ré'gion \"Nord\"";
  d["layers"][1]["fields"][3]["name"] = "Aire (km²) \"x\"";
  CreateFrom(d);
  auto layer = project().Layers().Item("ré'gion \"nord\"");  // ASCII case only
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->Fields().At(3)->Name(), "Aire (km²) \"x\"");
  EXPECT_EQ(host::ToDouble(Scalar("SELECT SUM([Aire (km²) \"x\"]) FROM [Ré'gion \"Nord\"]")),
            100.0);
  EXPECT_EQ(project().Layers().Item("Block")->GetParentLayer("")->Name(), "Ré'gion \"Nord\"");
}

}  // namespace
}  // namespace pramble::sqlhost::test
