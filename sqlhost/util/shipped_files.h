// Where the files that ship with pramble are: the R package archive, the R
// support functions and the documentation. An installed pramble
// (`cmake --install build --prefix P`: P/bin/pramble) finds them beside
// itself, under P/share/pramble and P/share/doc/pramble; a pramble run from
// its build folder finds them where the build made them.
//
// Thread-safety: stateless; any thread.
#pragma once

#include <string>

namespace pramble::sqlhost {

// The R package archive quox_<version>.tar.gz.
std::string ShippedQuoxArchive();
// The R support functions file quox_support.R.
std::string ShippedSupportFile();
// The folder of the documentation (docs/ of the source tree in a build).
std::string ShippedDocsFolder();

}  // namespace pramble::sqlhost
