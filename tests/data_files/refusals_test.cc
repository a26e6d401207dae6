// Every refusal of the data file maker: the exact message and level, the
// queries saved before it, and no temporary query left behind.
#include <gtest/gtest.h>

#include "data_files/harness.h"

namespace pramble::testing {
namespace {

struct RefusalCase {
  std::string name;
  std::function<void(json&, Definitions&)> change;
  std::vector<std::pair<std::string, int>> problems;  // "<N>": layer type N's display name
  std::vector<std::string> saved;
  MakerOptions options{};
};

const std::vector<std::string> kNone;
const std::vector<std::string> kAll = {"_Obs", "_Smp",       "_Str",       "_Data",
                                       "_Ddf", "_DhtRegion", "_DhtSample", "_DhtObs"};

std::function<void(json&, Definitions&)> Model(const std::string& model) {
  return [model](json&, Definitions& defs) { defs.model = "Method io; " + model; };
}

// The survey with one command replaced (or, with `to` empty, removed).
std::function<void(json&, Definitions&)> Survey(const std::string& from, const std::string& to) {
  return [from, to](json&, Definitions& defs) {
    const auto p = defs.survey.find(from);
    if (p == std::string::npos) throw std::runtime_error("no " + from);
    defs.survey.replace(p, from.size(), to);
  };
}

// Sets the object numbers of the six observations.
std::function<void(json&, Definitions&)> Objects(std::vector<int> objects,
                                                 std::vector<int> lines = {1, 1, 2, 2, 4, 4}) {
  return [objects, lines](json& d, Definitions&) {
    auto& rows = Layer(d, "Observation")["rows"];
    for (std::size_t i = 0; i < rows.size(); ++i) {
      rows[i][3] = objects[i];
      rows[i][1] = lines[i];
    }
  };
}

MakerOptions DhtOnly() {
  MakerOptions o;
  o.ddf = false;
  return o;
}

MakerOptions Hiding(const std::string& codes) {
  MakerOptions o;
  o.install = [](TestServices& s, TestProject& tp) {
    s.queries.real_layers = &tp.project()->Layers();
  };
  o.wrap_project = [codes](std::shared_ptr<host::ProjectDatabase> real) {
    auto p = std::make_shared<FaultyProject>(real);
    p->hidden_parent_types = codes;
    return p;
  };
  return o;
}

MakerOptions SingleObserver() {
  MakerOptions o;
  o.single = true;
  return o;
}

MakerOptions Refusing(const std::string& suffix) {
  MakerOptions o;
  o.install = [suffix](TestServices& s, TestProject&) { s.queries.refuse_suffix = suffix; };
  return o;
}

const char kNotUnique[] = "Some values in the object field are not unique";

std::vector<RefusalCase> Cases() {
  return {
      {"PostStratification",
       Model("Stratification Post-stratify /LayerType=30 /FieldName=sex;"),
       {{"The current version of the Quox engine can't deal with post stratification.", 2}},
       kNone},
      {"StratificationLayerMissing",
       Model("Stratification Stratify /LayerType=11;"),
       {{"Stratification layer type <11> is specified in Model Definition, but does not exist in "
         "this Survey",
         2}},
       kNone},
      {"PostStratificationLayerMissing",
       Model("Stratification Post-stratify /LayerType=11 /FieldName=sex;"),
       {{"Post-stratification layer type <11> is specified in Model Definition, but does not "
         "exist in this Survey",
         2}},
       kNone},
      {"PostStratificationFieldMissing",
       Model("Stratification Post-stratify /LayerType=10 /FieldName=Nope;"),
       {{"Post-stratification field Nope is specified in Model Definition, but does not exist in "
         "the 'Region' layer of this Survey",
         2}},
       kNone},
      {"StratificationLayerTypeNotANumber",
       Model("Stratification Stratify /LayerType=abc;"),
       {{"DataFileMaker.GetStratificationType", 3}},
       kNone},
      {"SampleLayerMissing",
       Model("Stratification Stratify /LayerType=10; Sample /LayerType=22;"),
       {{"Sample layer of type <22> as specified in the Model Definition does not exist in this "
         "survey.",
         2}},
       kNone},
      {"SampleWithoutLayerTypeOption",
       Model("Sample /Other=1;"),
       {{"Sample layer of type <0> as specified in the Model Definition does not exist in this "
         "survey.",
         2}},
       kNone},
      {"SampleLayerTypeNotANumber",
       Model("Sample /LayerType=x;"),
       {{"DataFileMaker.GetSampleLayerType", 3}},
       kNone},
      {"NotLineTransect",
       Survey("Type Line;", "Type Point;"),
       {{"The Quox engine can currently only analyze line transect data.  This survey is of type "
         "'Point' and so cannot be analyzed.",
         2}},
       kNone},
      {"RadialDistancesBeforeTheType",
       Survey("Type Line; Distance Perp;", "Distance Radial; Type Point;"),
       {{"The Quox engine can currently only analyze perpendicular distance data. This survey "
         "uses radial distances and so cannot be analyzed.",
         2}},
       kNone},
      {"NoDistanceFieldNamed",
       Survey("PDist /Fld=distance;", "PDist /Fld=None;"),
       {{"The survey definition specifies a line transect analysis using perpendicular "
         "distances, but no perpendicular distance field name is specified in the survey.",
         2}},
       kNone},
      {"DistanceFieldMissing",
       Survey("PDist /Fld=distance;", "PDist /Fld=dist;"),
       {{"The survey definition specifies a line transect analysis using perpendicular "
         "distances, but the perpendicular distance field 'dist' does not exist in the "
         "observation layer 'Observation'.",
         2}},
       kNone},
      {"DistanceFieldWithoutUnits",
       [](json& d, Definitions&) { Layer(d, "Observation")["fields"][2].erase("units"); },
       {{"Distance field has no units in the data sheet.", 2}},
       kNone},
      {"NoTypeOrDistance",
       Survey("Type Line; Distance Perp;", ""),
       {{"Distance field has no units in the data sheet.", 2}},
       kNone},
      {"NoClusterSizeFieldNamed",
       Survey("CSize /Fld=size;", "CSize /Fld=None;"),
       {{"The survey definition specifies that objects are clusters, but no cluster size field "
         "name is specified in the survey.",
         2}},
       kNone},
      {"ClusterSizeFieldMissing",
       Survey("CSize /Fld=size;", "CSize /Fld=groups;"),
       {{"The survey definition specifies that objects are clusters, but the cluster size field "
         "'groups' does not exist in the observation layer 'Observation'.",
         2}},
       kNone},
      {"NoObjectFieldNamed",
       Survey("ObjID /Fld=object;", "ObjID /Fld=None;"),
       {{"No field is specified in the survey definition for the object ID.", 2}},
       kNone},
      {"ObjectFieldMissing",
       Survey("ObjID /Fld=object;", "ObjID /Fld=obj;"),
       {{"The survey definition specifies the object ID field is 'obj' but this field does not "
         "exist in the observation layer 'Observation'.",
         2}},
       kNone},
      {"NoObserverFieldNamed",
       Survey("Obs /Fld=observer;", "Obs /Fld=None;"),
       {{"No field is specified in the survey definition for observer.", 2}},
       kNone},
      {"ObserverFieldMissing",
       Survey("Obs /Fld=observer;", "Obs /Fld=platform;"),
       {{"The survey definition specifies the observer field is 'platform' but this field does "
         "not exist in the observation layer 'Observation'.",
         2}},
       kNone},
      {"NoDetectedFieldNamed",
       Survey("Detected /Fld=detected;", "Detected /Fld=None;"),
       {{"No field is specified in the survey definition for detected.", 2}},
       kNone},
      {"DetectedFieldMissing",
       Survey("Detected /Fld=detected;", "Detected /Fld=seen;"),
       {{"The survey definition specifies the detected field is 'seen' but this field does not "
         "exist in the observation layer 'Observation'.",
         2}},
       kNone},
      {"NoStratumOrGlobalParent",
       nullptr,
       {{"Could not locate stratum or global parent of 'Observation'", 2}},
       {"_Obs", "_Smp"},
       Hiding("1,10,11,12,13,14,15")},
      {"NoSampleParent",
       nullptr,
       {{"Could not locate sample or subsample layer type as parent of 'Observation'", 2}},
       {"_Obs"},
       Hiding("20,21,22,23,24,25")},
      {"HostRefusesASave", nullptr, {{"refused _Str", 2}}, {"_Obs", "_Smp"}, Refusing("_Str")},
      {"ObjectOnTwoSamples", Objects({1, 1, 1, 1, 3, 3}), {{kNotUnique, 2}}, kAll},
      // Every object on exactly two places would count each twice.
      {"EveryObjectOnTwoPlaces",
       Objects({1, 1, 1, 1, 3, 3}, {1, 1, 2, 2, 4, 1}),
       {{kNotUnique, 2}},
       kAll},
      {"NoObjectAboveZero",
       Objects({0, 0, 0, 0, 0, 0}),
       {{"DataFileMaker.MakeDhtDataQueries", 3}},
       {"_Obs", "_Smp", "_Str", "_Data", "_DhtRegion", "_DhtSample", "_DhtObs"},
       DhtOnly()},
      // The layer's own observer column and the constant one of a
      // single-observer survey would stand twice in the query.
      {"SingleObserverSurveyWithAnObserverField",
       nullptr,
       {{"A single-observer survey makes its own column 'observer', but the observation layer "
         "'Observation' already gives one ([Observation].[observer]); rename that field or leave "
         "it out of the survey's Obs command.",
         2}},
       kNone,
       SingleObserver()},
  };
}

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, LogsTheReasonAndLeavesNoQuery) {
  const RefusalCase& c = GetParam();
  json description = BaseDescription();
  Definitions defs;
  if (c.change) c.change(description, defs);
  const MakerRun run = RunMaker(description, defs, c.options);

  EXPECT_FALSE(run.ok);
  std::vector<std::pair<std::string, int>> expected;
  for (const auto& [message, level] : c.problems) expected.emplace_back(run.Expand(message), level);
  EXPECT_EQ(run.Problems(), expected);
  EXPECT_EQ(run.Suffixes(), c.saved);
  EXPECT_EQ(run.left, std::vector<std::string>{});
  EXPECT_TRUE(run.files.empty());
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusalTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// Double-observer data give two main-query rows per object in one place:
// one object row each, and the test passes.
TEST(ObjectUniquenessTest, TwoObserversOfOneObjectCountOnce) {
  const MakerRun run = RunMaker(BaseDescription(), Definitions{});
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.Find("_DhtObs")->rows,
            "object\tRegion_Label\tSample_Label\n1\t1. North\t1. A\n2\t1. North\t2. B\n"
            "3\t2. South\t4. D\n");
}

}  // namespace
}  // namespace pramble::testing
