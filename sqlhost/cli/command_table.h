// The commands of `pramble`, one entry each: name, help, arguments and
// handler. The table is in command_table.cc; the handlers are in the
// *_commands.cc files (commands.h). Adding a command is one entry there and
// its handler:
//
//   Entry<ItemArgs>("log", "Print the stored log of ITEM's last run.", ShowLog),
//
// Every handler runs under the one guard (guard.h) and answers its exit code
// (exit_codes.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace pramble::cli {

// The shared argument groups. A command's own arguments are a struct that
// derives from one of them and declares its members after the group's.

// DIR: the project folder.
struct ProjectArgs {
  std::string dir;
  static void Declare(CLI::App& cmd, ProjectArgs& args);
};

// DIR ITEM: one analysis item of a project.
struct ItemArgs : ProjectArgs {
  std::int32_t item = 0;
  static void Declare(CLI::App& cmd, ItemArgs& args);
};

// --format text|csv|json: how a table is printed (table_printer.h).
enum class OutputFormat { kText, kCsv, kJson };
struct FormatArgs {
  OutputFormat format = OutputFormat::kText;
  static void Declare(CLI::App& cmd, FormatArgs& args);
};

// One command: `declare` adds its arguments to `cmd` and answers the
// handler that runs it with what was parsed.
struct Command {
  std::string name;
  std::string help;
  std::function<std::function<int()>(CLI::App& cmd)> declare;
};

// A command whose arguments are an `Args` (a struct with a static Declare)
// and whose handler is `handler`.
template <typename Args>
Command Entry(std::string name, std::string help, int (*handler)(const Args&)) {
  return Command{std::move(name), std::move(help), [handler](CLI::App& cmd) {
                   auto args = std::make_shared<Args>();
                   Args::Declare(cmd, *args);
                   return std::function<int()>([handler, args] { return handler(*args); });
                 }};
}

// Every command of `pramble`, in the order of `pramble --help`.
const std::vector<Command>& Commands();

// Adds every command to `app`; the one that runs sets `exit_code`.
void AddCommands(CLI::App& app, int& exit_code);

}  // namespace pramble::cli
