// Placeholder until the engine commands land.
#include "host/cli/commands.h"

namespace pramble::cli {
void AddEngineCommands(CLI::App&, int&) {}
}  // namespace pramble::cli
