// pramble create, status and settings through the real binary: every check
// of a bad project description (exit 65, the message naming file, line or
// JSON path and field, and no folder left behind), the example project, and
// the status and settings commands with their exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "sqlhost/project/project.h"
#include "support/cli_process.h"
#include "support/test_project.h"

namespace pramble::cli::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using CliResult = pramble::testing::Outcome;
using pramble::testing::RunPramble;

std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

std::string ExampleFile() {
  return std::string(PRAMBLE_EXAMPLES_DIR) + "/double-observer/project.json";
}

const std::string kTransectHeader = "ID,ParentID,Label,Line length\n";

struct BadCase {
  const char* name;
  std::function<void(json&)> change;         // applied to the example (rows inline)
  std::map<std::string, std::string> files;  // written beside the description
  std::string message;                       // a part of the message on standard error
};

// Line transect rows from a CSV file instead of inline.
void TransectsFromCsv(json& d) {
  d["layers"][2].erase("rows");
  d["layers"][2]["csv"] = "t.csv";
}

std::vector<BadCase> BadCases() {
  return {
      {"NoLayers", [](json& d) { d.erase("layers"); }, {}, ": the member 'layers' is missing"},
      {"UnknownMember",
       [](json& d) { d["layer"] = 1; },
       {},
       ": layer: unknown member (a project description has settings, layers, surveys, "
       "data_filters, model_definitions, analyses)"},
      {"LayersNotArray",
       [](json& d) { d["layers"] = json::object(); },
       {},
       ": layers: must be an array, not an object"},
      {"LayerWithoutName",
       [](json& d) { d["layers"][1].erase("name"); },
       {},
       ": layers[1]: the member 'name' is missing"},
      {"LayerNameNotText",
       [](json& d) { d["layers"][1]["name"] = 5; },
       {},
       ": layers[1].name: must be a text, not a number"},
      {"DuplicateLayerName",
       [](json& d) {
         d["layers"][2]["name"] = "REGION";
         d["layers"][3]["parent"] = "REGION";
       },
       {},
       ": layers[2].name: a second layer named 'REGION' (names compare without regard to case; "
       "the first is layers[1])"},
      {"UnknownLayerType",
       [](json& d) { d["layers"][1]["type"] = 16; },
       {},
       ": layers[1].type: unknown layer type 16 (1 global, 10 to 15 stratum, 20 to 25 sample, "
       "30 observation)"},
      {"LayerTypeNotNumber",
       [](json& d) { d["layers"][1]["type"] = "ten"; },
       {},
       ": layers[1].type: must be a whole number, not a text"},
      {"UnknownParent",
       [](json& d) { d["layers"][2]["parent"] = "Nowhere"; },
       {},
       ": layers[2].parent: unknown parent layer 'Nowhere'"},
      {"ParentAfterChild",
       [](json& d) { d["layers"][2]["parent"] = "Observation"; },
       {},
       ": layers[2].parent: the parent 'Observation' comes after this layer; parents must come "
       "before their children"},
      {"OwnParent",
       [](json& d) { d["layers"][2]["parent"] = "line TRANSECT"; },
       {},
       ": layers[2].parent: a layer cannot be its own parent"},
      {"FirstNotGlobal",
       [](json& d) { d["layers"][0]["type"] = 10; },
       {},
       ": layers[0].type: the first layer must be the global layer (type 1)"},
      {"SecondGlobal",
       [](json& d) {
         d["layers"][1]["type"] = 1;
         d["layers"][1].erase("parent");
       },
       {},
       ": layers[1].type: a second global layer (type 1); the project's one global layer must be "
       "the first layer"},
      {"GlobalWithParent",
       [](json& d) { d["layers"][0]["parent"] = "Region"; },
       {},
       ": layers[0].parent: the global layer (type 1) is the top layer and has no parent"},
      {"MissingParent",
       [](json& d) { d["layers"][1].erase("parent"); },
       {},
       ": layers[1]: the member 'parent' is missing (every layer but the global one names its "
       "parent)"},
      {"TypeBelowHigherType",
       [](json& d) { d["layers"][1]["type"] = 21; },
       {},
       ": layers[2].type: a layer of type 20 cannot lie below 'Region' of type 21"},
      {"NoObservationLayer",
       [](json& d) { d["layers"][3]["type"] = 25; },
       {},
       ": layers: there is no observation layer (type 30)"},
      {"SecondObservationLayer",
       [](json& d) {
         json second = d["layers"][3];
         second["name"] = "Sightings";
         d["layers"].push_back(second);
       },
       {},
       ": layers[4].type: a second observation layer (type 30); the first is 'Observation'"},
      {"NoIdField",
       [](json& d) { d["layers"][1]["fields"][0]["kind"] = "integer"; },
       {},
       ": layers[1].fields: layer 'Region' has no 'id' field (each layer has one)"},
      {"TwoIdFields",
       [](json& d) { d["layers"][1]["fields"][2]["kind"] = "id"; },
       {},
       ": layers[1].fields[2].kind: a second 'id' field in layer 'Region' (the first is 'ID')"},
      {"NoLinkField",
       [](json& d) { d["layers"][1]["fields"][1]["kind"] = "integer"; },
       {},
       ": layers[1].fields: layer 'Region' has no 'link' field (it holds the ID of the parent "
       "record)"},
      {"LinkOnGlobal",
       [](json& d) { d["layers"][0]["fields"][1]["kind"] = "link"; },
       {},
       ": layers[0].fields[1].kind: the global layer has no parent, so it has no 'link' field"},
      {"TwoLabels",
       [](json& d) {
         d["layers"][3]["fields"][6]["kind"] = "label";
         d["layers"][3]["fields"][7]["kind"] = "label";
       },
       {},
       ": layers[3].fields[7].kind: a second 'label' field in layer 'Observation' (the first is "
       "'size')"},
      {"UnknownKind",
       [](json& d) { d["layers"][3]["fields"][7]["kind"] = "string"; },
       {},
       ": layers[3].fields[7].kind: unknown field kind 'string' (kinds: id, link, label, shape, "
       "hidden, integer, decimal, text)"},
      {"UnknownUnit",
       [](json& d) { d["layers"][1]["fields"][3]["units"] = "Square km"; },
       {},
       ": layers[1].fields[3].units: unknown unit 'Square km' (length units: "},
      {"UnitsOnText",
       [](json& d) { d["layers"][3]["fields"][7]["units"] = "Meter"; },
       {},
       ": layers[3].fields[7].units: units belong on integer or decimal fields, not on a 'text' "
       "field"},
      {"UnknownFieldMember",
       [](json& d) { d["layers"][1]["fields"][3]["unit"] = "Meter"; },
       {},
       ": layers[1].fields[3].unit: unknown member (a field has name, kind, units)"},
      {"BracketInLayerName",
       [](json& d) {
         d["layers"][1]["name"] = "Re[gion]";
         d["layers"][2]["parent"] = "Re[gion]";
       },
       {},
       ": layers[1].name: 'Re[gion]' holds '['; layer and field names must not hold '[' or ']'"},
      {"BracketInFieldName",
       [](json& d) { d["layers"][3]["fields"][7]["name"] = "sex]"; },
       {},
       ": layers[3].fields[7].name: 'sex]' holds ']'; layer and field names must not hold '[' "
       "or ']'"},
      {"ReservedLayerName",
       [](json& d) {
         d["layers"][1]["name"] = "tq1_Region";
         d["layers"][2]["parent"] = "tq1_Region";
       },
       {},
       ": layers[1].name: the layer name 'tq1_Region' is reserved"},
      {"DuplicateFieldName",
       [](json& d) { d["layers"][3]["fields"][7]["name"] = "SIZE"; },
       {},
       ": layers[3].fields[7].name: a second field named 'SIZE' in layer 'Observation' (names "
       "compare without regard to case)"},
      {"ControlCharacterInName",
       [](json& d) { d["analyses"][0]["name"] = "a\tb"; },
       {},
       ": analyses[0].name: 'a\tb' holds a control character"},
      {"EmptyName",
       [](json& d) { d["layers"][3]["fields"][7]["name"] = ""; },
       {},
       ": layers[3].fields[7].name: must not be empty"},
      {"RowArity",
       [](json& d) {
         d["layers"][1]["rows"][0] = json::array({1, 1, "R1"});
       },
       {},
       ": layers[1].rows[0]: 3 values for 4 fields"},
      {"RowNotArray",
       [](json& d) {
         d["layers"][1]["rows"][0] = json{{"ID", 1}};
       },
       {},
       ": layers[1].rows[0]: a row must be an array of values in field order, not an object"},
      {"TextInNumberField",
       [](json& d) { d["layers"][1]["rows"][1][3] = "big"; },
       {},
       ": layers[1].rows[1][3]: field 'Area': must be a number, not a text"},
      {"NumberInTextField",
       [](json& d) { d["layers"][1]["rows"][1][2] = 5; },
       {},
       ": layers[1].rows[1][2]: field 'Label': must be a text (in double quotes), not a number"},
      {"NullId",
       [](json& d) { d["layers"][1]["rows"][0][0] = nullptr; },
       {},
       ": layers[1].rows[0][0]: field 'ID': the ID must not be missing (null)"},
      {"FractionalId",
       [](json& d) { d["layers"][1]["rows"][0][0] = 1.5; },
       {},
       ": layers[1].rows[0][0]: field 'ID': must be a whole number, not 1.5"},
      {"DuplicateId",
       [](json& d) { d["layers"][1]["rows"][1][0] = 1; },
       {},
       ": layers[1].rows[1]: field 'ID': duplicate ID 1 in layer 'Region' (first at "
       "layers[1].rows[0])"},
      {"LinkToNothing",
       [](json& d) { d["layers"][1]["rows"][0][1] = 7; },
       {},
       ": layers[1].rows[0]: field 'ParentID': 7 names no record of the parent layer 'Study "
       "area'"},
      {"RowsAndCsv",
       [](json& d) { d["layers"][2]["csv"] = "t.csv"; },
       {},
       ": layers[2]: give either 'rows' or 'csv', not both"},
      {"CsvMissing",
       TransectsFromCsv,
       {},
       "t.csv: the CSV file of layer 'Line transect' (layers[2].csv) does not exist"},
      {"CsvEmpty",
       TransectsFromCsv,
       {{"t.csv", ""}},
       "t.csv: the file is empty; the first row must name the fields of layer 'Line transect'"},
      {"CsvUnknownField",
       TransectsFromCsv,
       {{"t.csv", "ID,ParentID,Label,Length\n1,1,T1,2\n"}},
       "t.csv:1: unknown field 'Length' in the header (layer 'Line transect' has the fields ID, "
       "ParentID, Label, Line length)"},
      {"CsvMissingField",
       TransectsFromCsv,
       {{"t.csv", "ID,ParentID,Label\n1,1,T1\n"}},
       "t.csv:1: field 'Line length' of layer 'Line transect' is missing from the header"},
      {"CsvFieldTwice",
       TransectsFromCsv,
       {{"t.csv", "ID,ParentID,Label,Line length,label\n"}},
       "t.csv:1: field 'Label' appears twice in the header"},
      {"CsvCellCount",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1,1,T1,2\n2,1,T2\n"}},
       "t.csv:3: 3 cells, but the header has 4"},
      {"CsvNotNumber",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1,1,T1,abc\n"}},
       "t.csv:2: field 'Line length': 'abc' is not a number"},
      {"CsvNotWholeNumber",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1.5,1,T1,2\n"}},
       "t.csv:2: field 'ID': '1.5' is not a whole number"},
      {"CsvMissingId",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + ",1,T1,2\n"}},
       "t.csv:2: field 'ID': the ID is missing (an empty cell)"},
      {"CsvQuoteInCell",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1,1,T\"1,2\n"}},
       "t.csv:2: a '\"' inside an unquoted cell (quote the whole cell and double the '\"')"},
      {"CsvQuoteNotClosed",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1,1,T1,2\r\n2,1,\"T2,3\n"}},
       "t.csv:3: a quoted cell is not closed (a '\"' is missing)"},
      {"CsvTextAfterQuote",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1,1,\"T1\"x,2\n"}},
       "t.csv:2: a closing '\"' must be followed by ',' or the end of the line"},
      {"CsvDuplicateId",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1,1,\"T1, north\",2\n\n1,1,\"T\"\"2\",3\n"}},
       "t.csv:4: field 'ID': duplicate ID 1 in layer 'Line transect' (first at "},
      {"CsvLinkToNothing",
       TransectsFromCsv,
       {{"t.csv", kTransectHeader + "1,9,T1,2\n"}},
       "t.csv:2: field 'ParentID': 9 names no record of the parent layer 'Region'"},
      {"DuplicateSurveyId",
       [](json& d) { d["surveys"].push_back(d["surveys"][0]); },
       {},
       ": surveys[1].id: a second survey with id 1 (the first is surveys[0])"},
      {"DefinitionMissing",
       [](json& d) { d["data_filters"][0].erase("definition"); },
       {},
       ": data_filters[0]: the member 'definition' is missing"},
      {"UnreadableDefinition",
       [](json& d) {
         d["model_definitions"][0]["definition"] = "Method io;\nDSModel /Method=cds /Key=\"hn;";
       },
       {},
       ": model_definitions[0] (id 1).definition: the definition cannot be read: line 2, column "
       "26: the quoted value that starts here has no closing '\"'"},
      {"DuplicateAnalysisId",
       [](json& d) { d["analyses"].push_back(d["analyses"][0]); },
       {},
       ": analyses[1].id: a second analysis with id 1 (the first is analyses[0])"},
      {"AnalysisUnknownSurvey",
       [](json& d) { d["analyses"][0]["survey"] = 5; },
       {},
       ": analyses[0] (id 1).survey: there is no survey with id 5"},
      {"AnalysisUnknownModel",
       [](json& d) { d["analyses"][0]["model_definition"] = 2; },
       {},
       ": analyses[0] (id 1).model_definition: there is no model definition with id 2"},
      {"AnalysisIdOutOfRange",
       [](json& d) { d["analyses"][0]["id"] = 3000000000LL; },
       {},
       ": analyses[0].id: must lie between -2147483648 and 2147483647, not 3000000000"},
      {"SettingArray",
       [](json& d) { d["settings"]["R"]["X"] = json::array({1}); },
       {},
       ": settings.R.X: a setting must be true, false, a number or a text, not an array"},
      {"SettingSectionNotObject",
       [](json& d) { d["settings"]["R"] = 1; },
       {},
       ": settings.R: must be an object, not a number"},
  };
}

class BadDescriptionTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescriptionTest, IsRefusedWithItsPlaceAndNothingIsLeft) {
  const BadCase& c = GetParam();
  pramble::testing::TempDir work;
  json d = pramble::testing::ExampleDescription();
  c.change(d);
  const std::string desc = work.path() + "/desc.json";
  pramble::testing::WriteFile(desc, d.dump(2));
  for (const auto& [name, contents] : c.files) {
    pramble::testing::WriteFile(work.path() + "/" + name, contents);
  }
  const std::set<std::string> before = FilesIn(work.path());

  CliResult r = RunPramble({"create", work.path() + "/proj", "--from", desc});
  EXPECT_EQ(r.code, 65) << r.err;
  EXPECT_EQ(r.err.rfind("pramble create: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos)
      << "expected: " << c.message << "\nwritten:  " << r.err;
  if (c.message[0] == ':') {  // a JSON path follows the description's file name
    EXPECT_EQ(r.err.rfind("pramble create: " + desc + c.message, 0), 0u) << r.err;
  }
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(FilesIn(work.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Checks, BadDescriptionTest, ::testing::ValuesIn(BadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadDescriptionFileTest, JsonSyntaxAndMissingFilesNameTheirPlace) {
  const struct {
    const char* text;  // nullptr: no file
    std::string message;
  } cases[] = {
      {"{\n  \"layers\": [\n  }\n", ":3:3: JSON syntax error: "},
      {"", ":1:1: JSON syntax error: "},
      {"{\"layers\": [1,]}", ":1:15: JSON syntax error: "},
      {nullptr, ": the project description does not exist"},
  };
  for (const auto& c : cases) {
    pramble::testing::TempDir work;
    const std::string desc = work.path() + "/desc.json";
    if (c.text) pramble::testing::WriteFile(desc, c.text);
    CliResult r = RunPramble({"create", work.path() + "/proj", "--from", desc});
    EXPECT_EQ(r.code, 65) << r.err;
    EXPECT_EQ(r.err.rfind("pramble create: " + desc + c.message, 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(work.path() + "/proj"));
  }
}

class ExampleCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CliResult r = RunPramble({"create", dir(), "--from", ExampleFile()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "pramble create: created project '" + dir() +
                         "' with 4 layers and 1 analysis item\n");
  }
  std::string dir() const { return work_.path() + "/example"; }
  CliResult Run(const std::vector<std::string>& args) { return RunPramble(args); }

  pramble::testing::TempDir work_, not_project_;
};

TEST_F(ExampleCliTest, CreateRefusesAnExistingFolder) {
  CliResult r = Run({"create", dir(), "--from", ExampleFile()});
  EXPECT_EQ(r.code, 64);
  EXPECT_EQ(r.err, "pramble create: cannot create project folder '" + dir() +
                       "': it exists already (give a new folder)\n");
}

TEST_F(ExampleCliTest, StatusListsItemsTabSeparated) {
  CliResult r = Run({"status", dir()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "1\tio half-normal, by region\t0\tNot run\t\n");

  r = Run({"status", dir(), "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "1\tio half-normal, by region\t0\tNot run\t\n");

  {
    auto project = sqlhost::Project::Open(dir());
    auto item = project->Browsers().Item(0).Items().Item(1);
    item->SetStatus(2);
    item->SetRunDate(std::chrono::system_clock::now());
  }
  r = Run({"status", dir()});
  EXPECT_EQ(r.out.rfind("1\tio half-normal, by region\t2\tFinished with warnings\t2", 0), 0u)
      << r.out;
  EXPECT_EQ(r.out.size(), std::string("1\tio half-normal, by region\t2\tFinished with warnings\t"
                                      "YYYY-MM-DD HH:MM:SS\n")
                              .size());
}

TEST_F(ExampleCliTest, StatusExitCodes) {
  const struct {
    std::vector<std::string> args;
    int exit_code;
    std::string err;
  } cases[] = {
      {{"status", dir(), "99"},
       66,
       "pramble status: project '" + dir() + "' has no analysis item 99\n"},
      {{"status", work_.path() + "/none"},
       66,
       "pramble status: project folder '" + work_.path() + "/none' does not exist\n"},
      {{"status", not_project_.path()},
       65,
       "pramble status: '" + not_project_.path() +
           "' is not a pramble project: it has no project.db (make a project with 'pramble "
           "create')\n"},
      {{"status", dir(), "one"}, 64, ""},
  };
  for (const auto& c : cases) {
    CliResult r = Run(c.args);
    EXPECT_EQ(r.code, c.exit_code) << r.err;
    if (!c.err.empty()) {
      EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(ExampleCliTest, SettingsAreTypedAsTheyLook) {
  const struct {
    const char* value;
    host::Value stored;
    const char* shown;
  } cases[] = {
      {"true", host::Value{true}, "True"},
      {"FALSE", host::Value{false}, "False"},
      {"9", host::Value{std::int64_t{9}}, "9"},
      {"-7", host::Value{std::int64_t{-7}}, "-7"},
      {"2.50", host::Value{2.5}, "2.5"},
      {"1e3", host::Value{1000.0}, "1000"},
      {"hello world", host::Value{std::string("hello world")}, "hello world"},
      {"12abc", host::Value{std::string("12abc")}, "12abc"},
  };
  for (const auto& c : cases) {
    CliResult r = Run({"settings", dir(), "set", "General", "Key", c.value});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(sqlhost::Project::Open(dir())->GetSettingValue("general", "key"), c.stored)
        << c.value;
    r = Run({"settings", dir(), "get", "GENERAL", "key"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, std::string(c.shown) + "\n");
  }
  CliResult r = Run({"settings", dir(), "get", "AnalysisDetails", "EchoData"});
  EXPECT_EQ(r.out, "False\n");
  r = Run({"settings", dir(), "get", "R", "Missing"});
  EXPECT_EQ(r.code, 66);
  EXPECT_EQ(r.err, "pramble settings: no value is stored for R/Missing\n");
}

TEST_F(ExampleCliTest, UsageErrorsExit64) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"create", dir() + "2"},
      {"settings", dir(), "get", "R"},
      {"settings", dir(), "fetch", "R", "X"},
      {"settings", dir(), "set", "R", "X"},
      {"status"},
  };
  for (const auto& args : cases) {
    CliResult r = Run(args);
    EXPECT_EQ(r.code, 64) << (args.empty() ? "" : args[0]) << ": " << r.err;
    EXPECT_NE(r.err, "");
  }
}

TEST_F(ExampleCliTest, HelpAndVersion) {
  CliResult r = Run({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* command : {"create", "status", "settings"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
  r = Run({"create", "--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("--from"), std::string::npos);
  r = Run({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("pramble ", 0), 0u) << r.out;
}

}  // namespace
}  // namespace pramble::cli::test
