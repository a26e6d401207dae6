// Runs the real pramble binary and collects its exit code and output.
#pragma once

#include "support/cli_process.h"

namespace pramble::cli::test {

using CliResult = pramble::testing::Outcome;
using pramble::testing::RunPramble;

}  // namespace pramble::cli::test
