#include "sqlhost/demo/survey_simulator.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace pramble::demo {
namespace {

// The distributions the simulator needs, built on the raw output of the
// generator so that they give the same numbers everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}

  // Uniform on [0, 1): the top 53 bits of the next output.
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

  bool Bernoulli(double p) { return Uniform() < p; }

  // Poisson by inversion of the distribution function; for the small means
  // the simulator uses (cluster sizes) a few steps suffice.
  std::int64_t Poisson(double mean) {
    const double u = Uniform();
    double p = std::exp(-mean);
    double cumulative = p;
    std::int64_t k = 0;
    while (u >= cumulative && k < 1000) {
      ++k;
      p *= mean / static_cast<double>(k);
      cumulative += p;
    }
    return k;
  }

  // An index drawn with probabilities proportional to `weights`.
  std::size_t Pick(const std::vector<double>& weights, double total) {
    const double target = Uniform() * total;
    double cumulative = 0;
    for (std::size_t i = 0; i < weights.size(); ++i) {
      cumulative += weights[i];
      if (target < cumulative) return i;
    }
    return weights.size() - 1;
  }

 private:
  std::mt19937_64 engine_;
};

double HalfNormal(double x, double sigma) { return std::exp(-x * x / (2 * sigma * sigma)); }

double RoundToCentimetres(double metres) { return std::round(metres * 100) / 100; }

struct Detected {
  std::int32_t transect_id;
  double distance_m;
  std::int32_t size;
  std::string sex;
  bool by1, by2;
};

}  // namespace

SimulatedSurvey SimulateSurvey(const SurveyDesign& design) {
  SimulatedSurvey survey;
  survey.design = design;
  Random random(design.seed);
  std::vector<Detected> detected;

  for (std::size_t r = 0; r < design.regions.size(); ++r) {
    const RegionDesign& region = design.regions[r];
    const auto region_id = static_cast<std::int32_t>(r + 1);
    const std::string prefix = region.label.empty() ? "T" : region.label.substr(0, 1);
    const auto first_transect = static_cast<std::int32_t>(survey.transects.size() + 1);
    double length_km = 0;
    for (std::size_t t = 0; t < region.transect_km.size(); ++t) {
      survey.transects.push_back({first_transect + static_cast<std::int32_t>(t), region_id,
                                  prefix + std::to_string(t + 1), region.transect_km[t]});
      length_km += region.transect_km[t];
    }
    // A cluster placed uniformly in the region lies in the searched strips
    // with the strips' share of the area, on a transect in proportion to its
    // length, and at a perpendicular distance uniform over the strip.
    const double searched_km2 = 2 * design.searched_m / 1000 * length_km;
    const double in_strips = searched_km2 / region.area_km2;
    const auto clusters = static_cast<std::int64_t>(std::llround(design.clusters_per_km2 * region.area_km2));

    Count count;
    for (std::int64_t c = 0; c < clusters; ++c) {
      const auto size = static_cast<std::int32_t>(1 + random.Poisson(design.extra_size_mean));
      ++count.clusters;
      count.individuals += size;
      if (!random.Bernoulli(in_strips)) continue;
      ++survey.clusters_searched;
      const std::size_t t = random.Pick(region.transect_km, length_km);
      const double x = random.Uniform() * design.searched_m;
      const std::string sex = random.Bernoulli(design.female_share) ? "F" : "M";
      const double g = HalfNormal(x, design.sigma_m);
      const bool by1 = random.Bernoulli(design.p0_observer1 * g);
      const bool by2 = random.Bernoulli(design.p0_observer2 * g);
      if (!by1 && !by2) continue;
      detected.push_back({first_transect + static_cast<std::int32_t>(t), RoundToCentimetres(x),
                          size, sex, by1, by2});
    }
    survey.truth.regions.push_back(count);
    survey.truth.total.clusters += count.clusters;
    survey.truth.total.individuals += count.individuals;
  }

  // Clusters are numbered transect by transect, in the order they were met.
  std::stable_sort(detected.begin(), detected.end(), [](const Detected& a, const Detected& b) {
    return a.transect_id < b.transect_id;
  });
  std::int32_t id = 0;
  std::int32_t object = 0;
  for (const Detected& d : detected) {
    ++object;
    survey.detected_by_1 += d.by1;
    survey.detected_by_2 += d.by2;
    survey.detected_by_both += d.by1 && d.by2;
    for (std::int32_t observer = 1; observer <= 2; ++observer) {
      const bool seen = observer == 1 ? d.by1 : d.by2;
      survey.observations.push_back(
          {++id, d.transect_id, d.distance_m, object, observer, seen ? 1 : 0, d.size, d.sex});
    }
  }
  return survey;
}

SurveyDesign DemoSurveyDesign(std::uint64_t seed) {
  SurveyDesign design;
  design.regions = {
      {"North", 60.0, {4.2, 5.1, 3.8, 6.0, 4.6, 5.3, 4.9, 3.7}},
      {"South", 90.0, {5.8, 4.6, 4.2, 6.1, 5.0, 5.4, 3.9, 5.6, 4.9}},
  };
  design.clusters_per_km2 = 40;
  design.extra_size_mean = 1.5;
  design.female_share = 0.5;
  design.sigma_m = 20;
  design.p0_observer1 = 0.8;
  design.p0_observer2 = 0.7;
  design.searched_m = 70;
  design.seed = seed;
  return design;
}

}  // namespace pramble::demo
