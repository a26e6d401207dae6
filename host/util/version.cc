#include "host/util/version.h"

namespace pramble::sqlhost {
const char* Version() { return PRAMBLE_VERSION; }
}  // namespace pramble::sqlhost
