#pragma once
namespace pramble::sqlhost {
// The version of the pramble host and component.
const char* Version();
}  // namespace pramble::sqlhost
