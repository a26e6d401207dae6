// A project from two flat field tables, the shape survey data come in: a
// transect table (region, region_area, transect, effort; one row per
// transect, transects without sightings included) and a sightings table
// (transect, object, distance, and for two observers observer and detected,
// one row per observer per object; size and any covariates optional). The
// tables become a project description: a global, a region, a transect and an
// observation layer, a survey definition that maps the columns, a data
// filter, and a starter set of candidate analyses on the same data, each
// stratified by region. The formats are in docs/project-description.md.
//
//   FlatTables flat{"sightings.csv", "transects.csv"};
//   FlatDescription made = DescribeFlatTables(flat);
//   CreateProjectFromJson("surveys/seabirds", made.description, "");
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace pramble::sqlhost {

struct FlatTables {
  std::string sightings, transects;  // paths of the two CSV files
  std::optional<double> width;       // the truncation width; else the largest distance
  std::string distance_unit = "Meter";
  std::string effort_unit = "Kilometer";
  std::string area_unit = "Square kilometer";
};

struct FlatDescription {
  nlohmann::json description;  // with inline rows
  std::string summary;         // what was made, for people ("2 regions, 12 transects, ...")
};

// Reads and checks the two tables. Throws DescriptionError naming the file,
// the line and the column at fault.
FlatDescription DescribeFlatTables(const FlatTables& flat);

}  // namespace pramble::sqlhost
