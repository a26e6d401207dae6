// The unit table of the host: lengths and areas that data-layer fields may be
// measured in, with their size in metres or square metres. Unit names compare
// without regard to ASCII case ("square kilometer" is "Square kilometer").
// The table is described in docs/engine-status.md, section "Units".
//
// Thread-safety: the functions are pure and may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pramble::sqlhost {

// Metres per length unit ("Meter" 1, "Kilometer" 1000, "Mile" 1609.344, ...);
// nullopt when `name` is not a length unit of the table.
std::optional<double> MetresPerLengthUnit(const std::string& name);

// Square metres per area unit ("Square meter" 1, "Hectare" 10000, ...);
// nullopt when `name` is not an area unit of the table.
std::optional<double> SquareMetresPerAreaUnit(const std::string& name);

// The unit names as the table spells them, for messages that list them.
std::vector<std::string> LengthUnitNames();
std::vector<std::string> AreaUnitNames();

}  // namespace pramble::sqlhost
