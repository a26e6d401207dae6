// Placeholder until the demo commands land.
#include "host/cli/commands.h"

namespace pramble::cli {
void AddDemoCommands(CLI::App&, int&) {}
}  // namespace pramble::cli
