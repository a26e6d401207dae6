// A seeded simulator of a double-observer line-transect survey whose truth is
// known: clusters placed at a known density in the regions of a study area,
// the clusters that lie in the searched strips beside the transects, and
// which of them each of two observers detected. The demo (demo_project.h)
// turns one simulated survey into a project; docs/demo.md describes the model.
//
// The same design and seed give the same survey on every machine: the random
// numbers come from std::mt19937_64, whose sequence the C++ standard fixes,
// and every distribution is written here (the standard library's are
// implementation-defined).
//
//   const SurveyDesign design = DemoSurveyDesign();
//   const SimulatedSurvey survey = SimulateSurvey(design);
//   survey.truth.clusters  // the true number of clusters in the study area
//
// Thread-safety: the functions are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pramble::demo {

struct RegionDesign {
  std::string label;
  double area_km2 = 0;
  std::vector<double> transect_km;  // the length of each transect in the region
};

// The survey's model. Clusters lie independently and uniformly in their
// region; a cluster at perpendicular distance x (metres) from its transect is
// detected by observer j with probability p0[j] * exp(-x^2 / (2 sigma^2)),
// independently of the other observer.
struct SurveyDesign {
  std::vector<RegionDesign> regions;
  double clusters_per_km2 = 0;  // the number in a region is this times its area, rounded
  double extra_size_mean = 0;   // cluster size is 1 + Poisson(extra_size_mean)
  double female_share = 0.5;    // the covariate sex: "F" with this probability, else "M"
  double sigma_m = 0;           // common scale of the half-normal detection functions
  double p0_observer1 = 1;      // detection probability on the line, observer 1
  double p0_observer2 = 1;      // the same, observer 2
  double searched_m = 0;        // the observers search out to this distance on each side
  std::uint64_t seed = 0;
};

struct Transect {
  std::int32_t id = 0;         // 1, 2, ... over the whole survey
  std::int32_t region_id = 0;  // 1-based index into SurveyDesign::regions
  std::string label;           // "N1", "N2", ... (the region label's first letter and a number)
  double length_km = 0;
};

// One observer's record of one detected cluster: every cluster that either
// observer detected has two records, observer 1's and then observer 2's.
struct ObservationRecord {
  std::int32_t id = 0;           // 1, 2, ...
  std::int32_t transect_id = 0;
  double distance_m = 0;         // perpendicular distance, rounded to centimetres
  std::int32_t object = 0;       // the cluster's number, 1, 2, ... in order of detection
  std::int32_t observer = 0;     // 1 or 2
  std::int32_t detected = 0;     // 1 when this observer detected the cluster
  std::int32_t size = 0;         // individuals in the cluster
  std::string sex;               // "F" or "M"
};

struct Count {
  std::int64_t clusters = 0;
  std::int64_t individuals = 0;
};

struct SurveyTruth {
  std::vector<Count> regions;  // in the order of SurveyDesign::regions
  Count total;
};

struct SimulatedSurvey {
  SurveyDesign design;
  std::vector<Transect> transects;
  std::vector<ObservationRecord> observations;
  SurveyTruth truth;
  // Clusters in the searched strips (detected or not), and those detected by
  // observer 1, by observer 2 and by both, at any distance searched.
  std::int64_t clusters_searched = 0;
  std::int64_t detected_by_1 = 0;
  std::int64_t detected_by_2 = 0;
  std::int64_t detected_by_both = 0;
};

// Simulates one survey. REQUIRES: every region has an area above 0 and at
// least one transect of positive length; probabilities lie in [0, 1]; the
// searched strips (2 * searched_m * the region's transect length) fit in
// the region.
SimulatedSurvey SimulateSurvey(const SurveyDesign& design);

// The design of the demo survey (docs/demo.md) with the given seed.
inline constexpr std::uint64_t kDemoSeed = 20240607;
SurveyDesign DemoSurveyDesign(std::uint64_t seed = kDemoSeed);

}  // namespace pramble::demo
