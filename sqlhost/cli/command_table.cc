#include "sqlhost/cli/command_table.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/guard.h"
#include "sqlhost/project/project.h"

namespace pramble::cli {

std::shared_ptr<sqlhost::Project> OpenWithItem(const std::string& command, const std::string& dir,
                                               std::int32_t id) {
  auto project = sqlhost::Project::Open(dir);
  if (!project->FindItem(id)) {
    std::cerr << "pramble " << command << ": project '" << dir << "' has no analysis item " << id
              << "\n";
    return nullptr;
  }
  return project;
}

void ProjectArgs::Declare(CLI::App& cmd, ProjectArgs& args) {
  cmd.add_option("DIR", args.dir, "The project folder.")->required();
}

void ItemArgs::Declare(CLI::App& cmd, ItemArgs& args) {
  ProjectArgs::Declare(cmd, args);
  cmd.add_option("ITEM", args.item, "The analysis item's ID.")->required();
}

void FormatArgs::Declare(CLI::App& cmd, FormatArgs& args) {
  cmd.add_option("--format", args.format, "How to print the table: text, csv or json.")
      ->transform(CLI::CheckedTransformer(
          std::map<std::string, OutputFormat>{{"text", OutputFormat::kText},
                                              {"csv", OutputFormat::kCsv},
                                              {"json", OutputFormat::kJson}},
          CLI::ignore_case))
      ->capture_default_str();
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      Entry<CreateArgs>(
          "create", "Create a new project folder DIR from a project description (JSON).", Create),
      Entry<AddArgs>("add",
                     "Add definitions and analysis items to project DIR: from a fragment of a "
                     "project description (--from), or one model definition with an item that "
                     "uses the survey and data filter of another (--model); prints the new "
                     "items' IDs. Definitions are checked as at create; nothing is added when "
                     "one fails.",
                     Add),
      Entry<ItemArgs>("remove",
                      "Reset analysis item ITEM and delete it, with the definitions that no "
                      "other item uses. Exit 1 (nothing deleted) when the reset left something "
                      "behind, 75 when another process is running or resetting the item.",
                      Remove),
      Entry<StatusArgs>("status",
                        "Show the analysis items: ID, name, status number, status text and run "
                        "date, tab-separated.",
                        Status),
      Entry<SettingsArgs>(
          "settings",
          "Read (get SECTION KEY) or write (set SECTION KEY VALUE) a setting of the project.",
          Settings),
      Entry<RunArgs>(
          "run",
          "Run analysis item ITEM with R, show its status changes on standard error and its log "
          "on standard output (--quiet: the status lines only). Exit 0 when it finished (with or "
          "without warnings), 1 when it finished with errors, 2 when it was stopped (Ctrl-C or "
          "SIGTERM stop it), 75 when another process is running or resetting the same item "
          "(items of one project may run at the same time). Several items, or --all, run in "
          "parallel, at most -j N at a time: one line per item (live on a terminal), a summary "
          "at the end, exit code the highest of the items'. A run that installs the R package "
          "waits for other runs that use the same R library, and they for it.",
          Run),
      Entry<ItemArgs>(
          "reset",
          "Delete the stored results, statistics and plot files of ITEM; print the log. Exit 1 "
          "when something could not be deleted, 75 when another process is running or "
          "resetting the same item.",
          Reset),
      Entry<ItemArgs>("log", "Print the stored log of ITEM's last run.", ShowLog),
      Entry<ItemArgs>("results", "Print the stored output of ITEM's last run.", ShowResults),
      Entry<ItemArgs>("stats",
                      "Print ITEM's stored statistics, one per line: code, a tab, value.", Stats),
      Entry<EstimatesArgs>(
          "estimates",
          "Print the estimates of ITEM's last run per region and in total: abundance and "
          "density of clusters and individuals with se, cv, 95% interval and df, expected "
          "cluster size, n, k, effort and encounter rate, each with its unit. Exit 66 when "
          "the item has no stored estimates.",
          Estimates),
      Entry<CompareArgs>(
          "compare",
          "Compare the items (all by default): method, key, formulas, parameters, "
          "log-likelihood, AIC and delta AIC, goodness-of-fit P values, average p and total "
          "abundance. Items are ranked by AIC only within a group that shares the same data "
          "and the same method.",
          Compare),
      Entry<ReportArgs>(
          "report",
          "Write one self-contained HTML report (plots embedded) on ITEM... or --all items: "
          "definitions in words, estimates with units, plots beside the goodness of fit, "
          "warnings of the log; with --all the comparison table first.",
          Report),
      Entry<DemoArgs>(
          "demo",
          "Simulate a double-observer line-transect survey whose true abundance is known, make "
          "a project of it in DIR (default ./pramble-demo; a project that an earlier demo made "
          "there is replaced, anything else is left alone: exit 73), run its analyses with R "
          "and print the estimates beside the truth. Exit 0 when every item finished (with or "
          "without warnings).",
          Demo),
  };
  return commands;
}

void AddCommands(CLI::App& app, int& exit_code) {
  for (const Command& command : Commands()) {
    CLI::App* cmd = app.add_subcommand(command.name, command.help);
    std::function<int()> handler = command.declare(*cmd);
    cmd->callback([name = command.name, handler, &exit_code] {
      exit_code = Guarded(name, handler);
    });
  }
}

}  // namespace pramble::cli
