#include "bench/bench_project.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace pramble::bench {
namespace {

using nlohmann::json;

// A buffered file for the CSV rows; the rows are written with snprintf into
// one large buffer so that a million rows take well under a second.
class CsvFile {
 public:
  explicit CsvFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) throw std::runtime_error("cannot create " + path);
    buffer_.reserve(kFlushAt + 256);
  }
  ~CsvFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;

  template <typename... Args>
  void Line(const char* format, Args... args) {
    char line[256];
    const int n = std::snprintf(line, sizeof line, format, args...);
    buffer_.append(line, static_cast<std::size_t>(n));
    if (buffer_.size() >= kFlushAt) Flush();
  }

  void Close() {
    Flush();
    const int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc != 0) throw std::runtime_error("cannot write " + path_);
  }

 private:
  static constexpr std::size_t kFlushAt = 1 << 20;
  void Flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
      throw std::runtime_error("cannot write " + path_);
    buffer_.clear();
  }
  std::string path_;
  std::FILE* file_;
  std::string buffer_;
};

json Field(const char* name, const char* kind, const char* units = nullptr) {
  json f = {{"name", name}, {"kind", kind}};
  if (units != nullptr) f["units"] = units;
  return f;
}

}  // namespace

SurveyShape WriteSurveyDescription(const std::string& folder, std::int64_t observation_rows,
                                   std::uint64_t seed) {
  SurveyShape shape;
  shape.objects = (observation_rows + 1) / 2;
  shape.observation_rows = shape.objects * 2;
  // About twenty detected objects per transect, as in a real survey; the
  // first half of the transects lie in region 1, the rest in region 2.
  shape.transects = std::max<std::int64_t>(12, shape.objects / 20);
  const std::int64_t region_split = shape.transects / 2;

  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 20.0);

  double length_km = 0;
  {
    CsvFile transects(folder + "/transects.csv");
    transects.Line("ID,ParentID,Label,Line length\n");
    for (std::int64_t t = 1; t <= shape.transects; ++t) {
      const double length = std::round((2.0 + 6.0 * uniform(random)) * 100) / 100;
      length_km += length;
      transects.Line("%lld,%d,T%lld,%.2f\n", static_cast<long long>(t),
                     t <= region_split ? 1 : 2, static_cast<long long>(t), length);
    }
    transects.Close();
  }

  {
    // Objects at half-normal distances (sigma 20 m, a few beyond the 50 m
    // truncation); each observer detects one with probability
    // 0.9 exp(-d^2 / (2 * 18^2)); only objects seen by at least one are kept.
    CsvFile observations(folder + "/observations.csv");
    observations.Line("ID,ParentID,distance,object,observer,detected,size,sex\n");
    std::int64_t id = 0;
    for (std::int64_t object = 1; object <= shape.objects; ++object) {
      const std::int64_t transect = 1 + (object - 1) * shape.transects / shape.objects;
      double distance = 0;
      int seen[2] = {0, 0};
      do {
        distance = std::round(std::fabs(normal(random)) * 100) / 100;
        const double p = 0.9 * std::exp(-distance * distance / (2 * 18.0 * 18.0));
        seen[0] = uniform(random) < p;
        seen[1] = uniform(random) < p;
      } while (!seen[0] && !seen[1]);
      const int size = 1 + static_cast<int>(uniform(random) * 4);
      const char sex = uniform(random) < 0.5 ? 'F' : 'M';
      for (int observer = 1; observer <= 2; ++observer) {
        observations.Line("%lld,%lld,%.2f,%lld,%d,%d,%d,%c\n", static_cast<long long>(++id),
                          static_cast<long long>(transect), distance,
                          static_cast<long long>(object), observer, seen[observer - 1], size, sex);
      }
    }
    observations.Close();
  }

  // Region areas in proportion to their share of the line length, at about
  // the example's coverage.
  const double area = std::round(length_km * 3.3 * 10) / 10;
  json description = {
      {"settings", {{"AnalysisDetails", {{"EchoData", false}}}}},
      {"layers",
       json::array(
           {{{"name", "Study area"},
             {"type", 1},
             {"fields", {Field("ID", "id"), Field("Label", "label"),
                         Field("Area", "decimal", "Square kilometer")}},
             {"rows", {{1, "Study area", area}}}},
            {{"name", "Region"},
             {"type", 10},
             {"parent", "Study area"},
             {"fields", {Field("ID", "id"), Field("ParentID", "link"), Field("Label", "label"),
                         Field("Area", "decimal", "Square kilometer")}},
             {"rows", {{1, 1, "R1", std::round(area * 4) / 10}, {2, 1, "R2", std::round(area * 6) / 10}}}},
            {{"name", "Line transect"},
             {"type", 20},
             {"parent", "Region"},
             {"fields", {Field("ID", "id"), Field("ParentID", "link"), Field("Label", "label"),
                         Field("Line length", "decimal", "Kilometer")}},
             {"csv", "transects.csv"}},
            {{"name", "Observation"},
             {"type", 30},
             {"parent", "Line transect"},
             {"fields",
              {Field("ID", "id"), Field("ParentID", "link"), Field("distance", "decimal", "Meter"),
               Field("object", "integer"), Field("observer", "integer"),
               Field("detected", "integer"), Field("size", "integer"), Field("sex", "text")}},
             {"csv", "observations.csv"}}})},
      {"surveys",
       {{{"id", 1},
         {"name", "Simulated survey"},
         {"definition",
          "Type Line; Distance Perp; Object Cluster; Configuration d; PDist /Fld=distance; "
          "CSize /Fld=size; ObjID /Fld=object; Obs /Fld=observer; Detected /Fld=detected; "
          "Area /Fld=Area; Effort /Fld=\"Line length\";"}}}},
      {"data_filters",
       {{{"id", 1}, {"name", "Truncate at 50 m"}, {"definition", "Distance /Width=50;"}}}},
      {"model_definitions",
       {{{"id", 1},
         {"name", "io, half-normal, stratified"},
         {"definition",
          "Method io; DSModel /Method=cds /Key=hn /Formula=1; MRModel /Method=glm /Link=logit "
          "/Formula=distance; Control /Showit=0; Diagnostics /Plot=T /GOF=T; Detection T; "
          "Density T /VarFlag=1 /PrintOptions=1; Stratification Stratify /LayerType=10;"}}}},
      {"analyses",
       {{{"id", 1},
         {"name", "io half-normal, by region"},
         {"survey", 1},
         {"data_filter", 1},
         {"model_definition", 1}}}}};
  std::ofstream out(folder + "/project.json", std::ios::binary | std::ios::trunc);
  out << description.dump(2) << '\n';
  out.close();
  if (!out) throw std::runtime_error("cannot write " + folder + "/project.json");
  return shape;
}

}  // namespace pramble::bench
