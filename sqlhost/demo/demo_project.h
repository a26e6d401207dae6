// The demo's project: a simulated survey (survey_simulator.h) turned into a
// project description (docs/project-description.md) with the survey's layers
// and rows inline, the definitions and the analysis items the demo runs, and
// what the demo needs to set each item's estimates beside the truth.
// docs/demo.md describes the analyses.
//
//   const SimulatedSurvey survey = SimulateSurvey(DemoSurveyDesign());
//   const DemoProject demo = MakeDemoProject(survey);
//   sqlhost::CreateProjectFromJson(dir, nlohmann::json::parse(demo.description.dump()), "");
//
// Thread-safety: the functions are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sqlhost/demo/survey_simulator.h"

namespace pramble::demo {

// The truncation distance of every analysis, in metres.
inline constexpr double kTruncationM = 50;

// The setting that marks a project made by the demo (its value: the seed,
// as text).
inline constexpr char kDemoMarkSection[] = "Demo";
inline constexpr char kDemoMarkKey[] = "Seed";

// One analysis item of the demo.
struct DemoAnalysis {
  std::int32_t id = 0;
  std::string name;    // the item's name in the project
  std::string method;  // "ds", "io" or "trial"
  bool binned = false;      // distances in intervals rather than exact
  bool stratified = false;  // estimates by region as well as in total
  std::string model;   // the detection function in words, e.g. "hazard rate; mr ~distance"
};

struct DemoProject {
  nlohmann::ordered_json description;  // members in the order a person would write them
  std::vector<DemoAnalysis> analyses;
};

DemoProject MakeDemoProject(const SimulatedSurvey& survey);

// Writes into `folder` (which must exist) the demo survey as a person would
// keep it: project.json, the same description with the transects and the
// observations in transects.csv and observations.csv, and truth.json (the
// design's parameters and the true numbers of clusters and individuals).
// `pramble create DIR --from folder/project.json` makes the demo's project.
// Throws std::runtime_error naming the file when one cannot be written.
void WriteDemoSurveyFiles(const std::string& folder, const SimulatedSurvey& survey,
                          const DemoProject& demo);

// The file names that WriteDemoSurveyFiles writes.
const std::vector<std::string>& DemoSurveyFileNames();

// What a reader of the estimates must know about `analysis` before comparing
// them with the truth: the bias the survey's model makes the analysis expect
// (for ds, which takes observer 1 to see every cluster on the line: the
// estimate is expected near p(0) of observer 1 times the truth). nullopt
// when the analysis expects no bias beyond that of its model's approximation.
std::optional<std::string> ExpectedBiasNote(const DemoAnalysis& analysis,
                                            const SurveyDesign& design);

}  // namespace pramble::demo
