// The handlers of the pramble commands and the arguments of those that
// take more than a shared group (command_table.h). Each answers an exit code
// (exit_codes.h); errors go to the guard (guard.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/cli/command_table.h"

namespace pramble::sqlhost {
class Project;
}

namespace pramble::cli {

// Opens the project in `dir` and checks that it holds item `id`; nullptr,
// with the message of `command` written, when it does not.
std::shared_ptr<sqlhost::Project> OpenWithItem(const std::string& command, const std::string& dir,
                                               std::int32_t id);

// project_commands.cc: create, add, status, settings.
struct CreateArgs {
  std::string dir, from, flat, transects;
  std::optional<double> width;
  std::string distance_unit = "Meter", effort_unit = "Kilometer", area_unit = "Square kilometer";
  static void Declare(CLI::App& cmd, CreateArgs& args);
};
int Create(const CreateArgs& args);

struct StatusArgs : ProjectArgs {
  std::optional<std::int32_t> item;
  static void Declare(CLI::App& cmd, StatusArgs& args);
};
int Status(const StatusArgs& args);

// settings DIR get SECTION KEY | settings DIR set SECTION KEY VALUE
struct SettingsArgs : ProjectArgs {
  std::string section, key, value;
  const CLI::App* set = nullptr;  // the subcommand `set`, to ask whether it was given
  static void Declare(CLI::App& cmd, SettingsArgs& args);
};
int Settings(const SettingsArgs& args);

// add DIR --from FRAGMENT.json | add DIR --model DEFINITION [--name NAME] [--like ITEM]
struct AddArgs : ProjectArgs {
  std::string from, model, name;
  std::optional<std::int32_t> like;
  static void Declare(CLI::App& cmd, AddArgs& args);
};
int Add(const AddArgs& args);

// engine_commands.cc: run, reset, remove, log, results, stats.
// run DIR ITEM [ITEM...] | run DIR --all, [-j N] [--debug] [--quiet]
struct RunArgs : ProjectArgs {
  std::vector<std::int32_t> items;
  bool all = false, debug = false, quiet = false;
  std::optional<unsigned> jobs;  // given: run in parallel even a single item
  static void Declare(CLI::App& cmd, RunArgs& args);
};
int Run(const RunArgs& args);
int Reset(const ItemArgs& args);
int Remove(const ItemArgs& args);
int ShowLog(const ItemArgs& args);
int ShowResults(const ItemArgs& args);
int Stats(const ItemArgs& args);

// analysis_commands.cc: estimates, compare, report.
struct EstimatesArgs : ItemArgs, FormatArgs {
  static void Declare(CLI::App& cmd, EstimatesArgs& args);
};
int Estimates(const EstimatesArgs& args);

struct CompareArgs : ProjectArgs, FormatArgs {
  std::vector<std::int32_t> items;
  static void Declare(CLI::App& cmd, CompareArgs& args);
};
int Compare(const CompareArgs& args);

struct ReportArgs : ProjectArgs {
  std::vector<std::int32_t> items;
  bool all = false;
  std::string output;
  static void Declare(CLI::App& cmd, ReportArgs& args);
};
int Report(const ReportArgs& args);

// demo_commands.cc: demo.
struct DemoArgs {
  std::string dir;
  std::uint64_t seed = 0;
  std::optional<unsigned> jobs;
  static void Declare(CLI::App& cmd, DemoArgs& args);
};
int Demo(const DemoArgs& args);

}  // namespace pramble::cli
