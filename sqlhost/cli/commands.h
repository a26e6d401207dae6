// The pramble command line: one function per group of subcommands, each
// adding its subcommands to the application. Exit codes are in exit_codes.h.
#pragma once

namespace CLI {
class App;
}

namespace pramble::cli {

// create, status, settings
void AddProjectCommands(CLI::App& app, int& exit_code);
// run, reset, log, results, stats
void AddEngineCommands(CLI::App& app, int& exit_code);
// demo
void AddDemoCommands(CLI::App& app, int& exit_code);

}  // namespace pramble::cli
