// The pramble command line: creates projects, runs analysis items through
// the engine object and shows what runs stored. Each group of subcommands
// adds itself (commands.h); the exit codes are in exit_codes.h.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "host/cli/commands.h"
#include "host/cli/exit_codes.h"

int main(int argc, char** argv) {
  CLI::App app{
      "pramble: double-observer line-transect distance sampling with R.\n"
      "Create a project from a description, run its analysis items and read the results.",
      "pramble"};
  app.set_version_flag("--version", std::string("pramble ") + PRAMBLE_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);

  int exit_code = pramble::cli::kExitOk;
  pramble::cli::AddProjectCommands(app, exit_code);
  pramble::cli::AddEngineCommands(app, exit_code);
  pramble::cli::AddDemoCommands(app, exit_code);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end the parse with a "success" that exit() prints.
    const int rc = app.exit(e);
    return rc == 0 ? pramble::cli::kExitOk : pramble::cli::kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "pramble: unexpected error: " << e.what() << "\n";
    return pramble::cli::kExitComponentError;
  }
  return exit_code;
}
