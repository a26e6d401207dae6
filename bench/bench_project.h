// Large survey projects for the benchmarks: a simulated double-observer
// line-transect survey with a global layer, two regions, many transects and
// a given number of observation rows (two per detected object, one per
// observer). The survey is written as a project description with CSV files,
// the way a user hands a survey to `pramble create`, and the project is
// created from it by the host's own code. The same seed gives the same files.
//
//   bench::WriteSurveyDescription("/tmp/src", 100000, 7);
//   sqlhost::CreateProject("/tmp/project", "/tmp/src/project.json");
#pragma once

#include <cstdint>
#include <string>

namespace pramble::bench {

struct SurveyShape {
  std::int64_t observation_rows = 0;  // even: two rows per object
  std::int64_t objects = 0;
  std::int64_t transects = 0;
};

// Writes project.json, transects.csv and observations.csv into `folder`
// (which must exist). `observation_rows` is rounded up to an even number.
// The one analysis item, ID 1, is the example's: io, half-normal, stratified
// by region, truncated at 50 m, detection function and density.
// Throws std::runtime_error when a file cannot be written.
SurveyShape WriteSurveyDescription(const std::string& folder, std::int64_t observation_rows,
                                   std::uint64_t seed);

}  // namespace pramble::bench
