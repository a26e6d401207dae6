#include "sqlhost/demo/demo_project.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace pramble::demo {
namespace {

using json = nlohmann::ordered_json;

constexpr std::int32_t kDoubleSurvey = 1;
constexpr std::int32_t kObserver1Survey = 2;

constexpr std::int32_t kExactFilter = 1;
constexpr std::int32_t kBandsFilter = 2;
constexpr std::int32_t kObserver1ExactFilter = 3;
constexpr std::int32_t kObserver1BandsFilter = 4;

// The survey's fields as the engine reads them. The observer field is named
// "platform" because a single-observer analysis adds a column "observer" of
// its own, which a field of that name would clash with; that survey names no
// observer or detection field.
constexpr char kSurveyFields[] =
    "Type Line; Distance Perp; Object Cluster; PDist /Fld=distance; CSize /Fld=size; "
    "ObjID /Fld=object; Area /Fld=Area; Effort /Fld=\"Line length\";";
constexpr char kDoubleFields[] = " Obs /Fld=platform; Detected /Fld=detected;";
constexpr char kSingleFields[] = " Obs /Fld=None; Detected /Fld=None;";

constexpr char kWidth[] = "Distance /Width=50;";
constexpr char kBands[] = "Distance /Width=50 /Intervals=0,10,20,30,40,50;";
// ds sees observer 1's records alone, and of those only the detections.
constexpr char kObserver1Only[] =
    " Select /Layer=Observation /Criteria=\"[platform] = 1 AND [detected] = 1\";";

constexpr char kOutputs[] =
    " Control /Showit=0; Diagnostics /Plot=T /GOF=T; Detection T;"
    " Density T /VarFlag=1 /PrintOptions=1; Sample /LayerType=20;";
constexpr char kByRegion[] = " Stratification Stratify /LayerType=10;";
constexpr char kPooled[] = " Stratification None;";

json Field(const std::string& name, const std::string& kind, const std::string& units = "") {
  json f = {{"name", name}, {"kind", kind}};
  if (!units.empty()) f["units"] = units;
  return f;
}

json Layers(const SimulatedSurvey& survey) {
  const SurveyDesign& design = survey.design;
  double total_area = 0;
  json regions = json::array();
  for (std::size_t r = 0; r < design.regions.size(); ++r) {
    total_area += design.regions[r].area_km2;
    regions.push_back({static_cast<std::int32_t>(r + 1), 1, design.regions[r].label,
                       design.regions[r].area_km2});
  }
  json transects = json::array();
  for (const Transect& t : survey.transects) {
    transects.push_back({t.id, t.region_id, t.label, t.length_km});
  }
  json observations = json::array();
  for (const ObservationRecord& o : survey.observations) {
    observations.push_back(
        {o.id, o.transect_id, o.distance_m, o.object, o.observer, o.detected, o.size, o.sex});
  }
  return json::array({
      {{"name", "Study area"},
       {"type", 1},
       {"fields", {Field("ID", "id"), Field("Label", "label"),
                   Field("Area", "decimal", "Square kilometer")}},
       {"rows", json::array({json::array({1, "Study area", total_area})})}},
      {{"name", "Region"},
       {"type", 10},
       {"parent", "Study area"},
       {"fields", {Field("ID", "id"), Field("ParentID", "link"), Field("Label", "label"),
                   Field("Area", "decimal", "Square kilometer")}},
       {"rows", regions}},
      {{"name", "Line transect"},
       {"type", 20},
       {"parent", "Region"},
       {"fields", {Field("ID", "id"), Field("ParentID", "link"), Field("Label", "label"),
                   Field("Line length", "decimal", "Kilometer")}},
       {"rows", transects}},
      {{"name", "Observation"},
       {"type", 30},
       {"parent", "Line transect"},
       {"fields", {Field("ID", "id"), Field("ParentID", "link"),
                   Field("distance", "decimal", "Meter"), Field("object", "integer"),
                   Field("platform", "integer"), Field("detected", "integer"),
                   Field("size", "integer"), Field("sex", "text")}},
       {"rows", observations}},
  });
}

json Definition(std::int32_t id, const std::string& name, const std::string& text) {
  return {{"id", id}, {"name", name}, {"definition", text}};
}

struct AnalysisSpec {
  DemoAnalysis analysis;
  std::int32_t survey;
  std::int32_t data_filter;
  std::string fit;  // the Method, DSModel, MRModel and Factors commands
};

std::vector<AnalysisSpec> AnalysisSpecs() {
  const std::string ds = "Method ds; DSModel /Method=cds /Key=hn /Formula=1;";
  // The observers' detection probabilities fall off as a half-normal; on the
  // logit scale that bends, hence the squared distance in the io mr model.
  // Seen by either observer, the pooled detection function has a wider
  // shoulder than a half-normal, hence the hazard rate for io's ds part.
  const std::string io =
      "Method io; DSModel /Method=cds /Key=hr /Formula=1;"
      " MRModel /Method=glm /Link=logit /Formula=distance+I(0.01*distance^2)+observer;";
  // The same with a half-normal ds part: a candidate for `pramble compare`,
  // fitted to the same data with the same likelihood as item 2.
  const std::string io_hn =
      "Method io; DSModel /Method=cds /Key=hn /Formula=1;"
      " MRModel /Method=glm /Link=logit /Formula=distance+I(0.01*distance^2)+observer;";
  const std::string io_sex =
      "Method io; DSModel /Method=mcds /Key=hr /Formula=sex;"
      " MRModel /Method=glm /Link=logit /Formula=distance+I(0.01*distance^2)+observer; Factors sex;";
  const std::string trial =
      "Method trial; DSModel /Method=cds /Key=hn /Formula=1;"
      " MRModel /Method=glm /Link=logit /Formula=distance;";
  return {
      {{1, "ds, observer 1, exact distances, by region", "ds", false, true,
        "half-normal"},
       kObserver1Survey, kObserver1ExactFilter, ds},
      {{2, "io, exact distances, by region", "io", false, true,
        "hazard rate; mr ~distance+distance^2+observer"},
       kDoubleSurvey, kExactFilter, io},
      {{3, "io, 10 m bands, sex as covariate, whole area", "io", true, false,
        "hazard rate ~sex; mr ~distance+distance^2+observer"},
       kDoubleSurvey, kBandsFilter, io_sex},
      {{4, "trial, exact distances, whole area", "trial", false, false,
        "half-normal; mr ~distance"},
       kDoubleSurvey, kExactFilter, trial},
      {{5, "trial, 10 m bands, by region", "trial", true, true, "half-normal; mr ~distance"},
       kDoubleSurvey, kBandsFilter, trial},
      {{6, "ds, observer 1, 10 m bands, whole area", "ds", true, false, "half-normal"},
       kObserver1Survey, kObserver1BandsFilter, ds},
      {{7, "io, half-normal, exact distances, by region", "io", false, true,
        "half-normal; mr ~distance+distance^2+observer"},
       kDoubleSurvey, kExactFilter, io_hn},
  };
}

// The shortest text that reads back as `value`.
std::string NumberText(double value) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::to_string(value);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out << text;
  if (out) out.close();
  if (!out) {
    throw std::runtime_error("cannot write the file '" + path + "': " + std::strerror(errno));
  }
}

std::string TransectsCsv(const SimulatedSurvey& survey) {
  std::string csv = "ID,ParentID,Label,Line length\n";
  for (const Transect& t : survey.transects) {
    csv += std::to_string(t.id) + "," + std::to_string(t.region_id) + "," + t.label + "," +
           NumberText(t.length_km) + "\n";
  }
  return csv;
}

std::string ObservationsCsv(const SimulatedSurvey& survey) {
  std::string csv = "ID,ParentID,distance,object,platform,detected,size,sex\n";
  for (const ObservationRecord& o : survey.observations) {
    csv += std::to_string(o.id) + "," + std::to_string(o.transect_id) + "," +
           NumberText(o.distance_m) + "," + std::to_string(o.object) + "," +
           std::to_string(o.observer) + "," + std::to_string(o.detected) + "," +
           std::to_string(o.size) + "," + o.sex + "\n";
  }
  return csv;
}

json Truth(const SimulatedSurvey& survey) {
  const SurveyDesign& design = survey.design;
  json clusters = json::object();
  json individuals = json::object();
  for (std::size_t r = 0; r < design.regions.size(); ++r) {
    clusters[design.regions[r].label] = survey.truth.regions[r].clusters;
    individuals[design.regions[r].label] = survey.truth.regions[r].individuals;
  }
  return {{"seed", design.seed},
          {"clusters_per_km2", design.clusters_per_km2},
          {"cluster_size", "1 + Poisson(" + NumberText(design.extra_size_mean) + ")"},
          {"sigma_m", design.sigma_m},
          {"p0_observer1", design.p0_observer1},
          {"p0_observer2", design.p0_observer2},
          {"searched_m", design.searched_m},
          {"truncation_m", kTruncationM},
          {"clusters_by_region", clusters},
          {"clusters_total", survey.truth.total.clusters},
          {"individuals_by_region", individuals},
          {"individuals_total", survey.truth.total.individuals}};
}

}  // namespace

const std::vector<std::string>& DemoSurveyFileNames() {
  static const std::vector<std::string> names = {"project.json", "transects.csv",
                                                 "observations.csv", "truth.json"};
  return names;
}

void WriteDemoSurveyFiles(const std::string& folder, const SimulatedSurvey& survey,
                          const DemoProject& demo) {
  json description = demo.description;
  for (json& layer : description["layers"]) {
    const std::string name = layer["name"];
    if (name == "Line transect" || name == "Observation") {
      layer.erase("rows");
      layer["csv"] = name == "Line transect" ? "transects.csv" : "observations.csv";
    }
  }
  WriteFile(folder + "/project.json", description.dump(2) + "\n");
  WriteFile(folder + "/transects.csv", TransectsCsv(survey));
  WriteFile(folder + "/observations.csv", ObservationsCsv(survey));
  WriteFile(folder + "/truth.json", Truth(survey).dump(2) + "\n");
}

DemoProject MakeDemoProject(const SimulatedSurvey& survey) {
  DemoProject demo;
  json& d = demo.description;
  // Demo/Seed marks the project as the demo's own: a later `pramble demo`
  // replaces only a project that carries it.
  d["settings"] = {{"AnalysisDetails", {{"EchoData", false}}},
                   {"R", {{"RemoveNewObjects", true}}},
                   {kDemoMarkSection, {{kDemoMarkKey, std::to_string(survey.design.seed)}}}};
  d["layers"] = Layers(survey);
  d["surveys"] = json::array({
      Definition(kDoubleSurvey, "Double observer survey",
                 std::string("Configuration d; ") + kSurveyFields + kDoubleFields),
      Definition(kObserver1Survey, "Observer 1 alone (single observer)",
                 std::string("Configuration s; ") + kSurveyFields + kSingleFields),
  });
  d["data_filters"] = json::array({
      Definition(kExactFilter, "Exact distances to 50 m", kWidth),
      Definition(kBandsFilter, "10 m bands to 50 m", kBands),
      Definition(kObserver1ExactFilter, "Observer 1's detections, exact distances to 50 m",
                 std::string(kWidth) + kObserver1Only),
      Definition(kObserver1BandsFilter, "Observer 1's detections, 10 m bands to 50 m",
                 std::string(kBands) + kObserver1Only),
  });
  d["model_definitions"] = json::array();
  d["analyses"] = json::array();
  for (const AnalysisSpec& spec : AnalysisSpecs()) {
    const DemoAnalysis& a = spec.analysis;
    // One model definition per item, with the item's ID.
    d["model_definitions"].push_back(
        Definition(a.id, a.name, spec.fit + kOutputs + (a.stratified ? kByRegion : kPooled)));
    d["analyses"].push_back({{"id", a.id},
                             {"name", a.name},
                             {"survey", spec.survey},
                             {"data_filter", spec.data_filter},
                             {"model_definition", a.id}});
    demo.analyses.push_back(a);
  }
  return demo;
}

std::optional<std::string> ExpectedBiasNote(const DemoAnalysis& analysis,
                                            const SurveyDesign& design) {
  if (analysis.method != "ds" || design.p0_observer1 >= 1) return std::nullopt;
  char text[256];
  std::snprintf(text, sizeof text,
                "ds takes observer 1 to see every cluster on the line, but observer 1's p(0) is "
                "%.2f: expect about %.0f%% of the truth (io and trial estimate p(0))",
                design.p0_observer1, 100 * design.p0_observer1);
  return std::string(text);
}

}  // namespace pramble::demo
