#include "sqlhost/util/units.h"

#include <iterator>

#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

struct Unit {
  const char* name;
  double size;
};

// Exact decimal sizes; the squares are written out rather than computed so
// that each is the double nearest to the true value.
constexpr Unit kLengthUnits[] = {
    {"Centimeter", 0.01},  {"Meter", 1.0},     {"Kilometer", 1000.0},
    {"Foot", 0.3048},      {"Yard", 0.9144},   {"Mile", 1609.344},
    {"Nautical mile", 1852.0},
};

constexpr Unit kAreaUnits[] = {
    {"Square meter", 1.0},
    {"Hectare", 10000.0},
    {"Square kilometer", 1000000.0},
    {"Square foot", 0.09290304},
    {"Acre", 4046.8564224},
    {"Square mile", 2589988.110336},
    {"Square nautical mile", 3429904.0},
};

template <std::size_t N>
std::optional<double> Find(const Unit (&table)[N], const std::string& name) {
  for (const Unit& unit : table)
    if (host::EqualsNoCase(name, unit.name)) return unit.size;
  return std::nullopt;
}

template <std::size_t N>
std::vector<std::string> Names(const Unit (&table)[N]) {
  std::vector<std::string> names;
  for (const Unit& unit : table) names.emplace_back(unit.name);
  return names;
}

}  // namespace

std::optional<double> MetresPerLengthUnit(const std::string& name) {
  return Find(kLengthUnits, name);
}

std::optional<double> SquareMetresPerAreaUnit(const std::string& name) {
  return Find(kAreaUnits, name);
}

std::vector<std::string> LengthUnitNames() { return Names(kLengthUnits); }
std::vector<std::string> AreaUnitNames() { return Names(kAreaUnits); }

}  // namespace pramble::sqlhost
