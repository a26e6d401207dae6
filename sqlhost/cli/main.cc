// The pramble command line: creates projects, runs analysis items through
// the engine object and shows what runs stored. The commands are the
// entries of one table (command_table.h); the exit codes are in
// exit_codes.h.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "sqlhost/cli/command_table.h"
#include "sqlhost/cli/exit_codes.h"
#include "sqlhost/util/string_utilities.h"

namespace {

// A first argument that is no option and no command is a mistyped command:
// it is named, with the nearest command, rather than taken for an argument.
bool IsUnknownCommand(CLI::App& app, const std::string& word) {
  if (word.empty() || word[0] == '-') return false;
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    names.push_back(sub->get_name());
  if (std::find(names.begin(), names.end(), word) != names.end()) return false;
  std::cerr << "pramble: unknown command '" << word << "'";
  const std::string nearest = pramble::sqlhost::NearestName(word, names);
  if (!nearest.empty()) std::cerr << "; did you mean '" << nearest << "'?";
  std::cerr << "\nThe commands are listed by: pramble --help\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "pramble: double-observer line-transect distance sampling with R.\n"
      "Create a project from a description, run its analysis items and read the results.",
      "pramble"};
  app.set_version_flag("--version", std::string("pramble ") + PRAMBLE_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);

  int exit_code = pramble::cli::kExitOk;
  pramble::cli::AddCommands(app, exit_code);

  if (argc > 1 && IsUnknownCommand(app, argv[1])) return pramble::cli::kExitUsage;
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
