// pramble estimates, compare and report: what an analyst reads after the
// runs. Their entries are in command_table.cc; the tables in
// analysis_tables.h, the report's page in report.h; docs/estimates.md
// describes the formats.
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>

#include "sqlhost/analysis/comparison.h"
#include "sqlhost/analysis/run_record.h"
#include "sqlhost/cli/analysis_tables.h"
#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/exit_codes.h"
#include "sqlhost/cli/report.h"
#include "sqlhost/project/project.h"

namespace pramble::cli {
namespace {

nlohmann::ordered_json UnitsJson(const sqlhost::RunUnits& u) {
  auto or_null = [](const std::string& s) -> nlohmann::ordered_json {
    if (s.empty()) return nullptr;
    return s;
  };
  return {{"distance", or_null(u.distance)}, {"effort", or_null(u.effort)},
          {"area", or_null(u.area)}};
}

int PrintEstimates(const EstimatesArgs& args) {
  auto project = OpenWithItem("estimates", args.dir, args.item);
  if (!project) return kExitNoInput;
  const sqlhost::ItemInfo item = *project->FindItem(args.item);
  const std::optional<sqlhost::RunRecord> record = sqlhost::ReadRunRecord(*project, args.item);
  if (!record) {
    std::cerr << "pramble estimates: analysis item " << args.item << " of project '" << args.dir
              << "' has no stored estimates (status " << item.status << " "
              << sqlhost::Project::StatusText(item.status)
              << "): run it first with `pramble run " << args.dir << " " << args.item << "`\n";
    return kExitNoInput;
  }
  const TablePrinter table = EstimatesTable(*record);
  const std::string precision = record->precise ? "full" : "32-bit";
  switch (args.format) {
    case OutputFormat::kText:
      std::cout << "Analysis item " << item.id << " '" << item.name << "', run "
                << sqlhost::Project::FormatRunDate(item.run_date) << ", status " << item.status
                << " " << sqlhost::Project::StatusText(item.status) << "\nUnits: "
                << UnitsText(record->units) << "; 95% intervals"
                << (record->precise ? "" : "; from the 32-bit statistics (this run kept no "
                                           "full-precision record)")
                << "\n\n";
      table.Print(std::cout, OutputFormat::kText);
      break;
    case OutputFormat::kCsv:
      table.Print(std::cout, OutputFormat::kCsv);
      break;
    case OutputFormat::kJson: {
      nlohmann::ordered_json out = {
          {"item", item.id},
          {"name", item.name},
          {"status", item.status},
          {"status_text", sqlhost::Project::StatusText(item.status)},
          {"run_date", sqlhost::Project::FormatRunDate(item.run_date)},
          {"precision", precision},
          {"units", UnitsJson(record->units)},
          {"estimates", table.JsonRows()}};
      std::cout << out.dump(2) << "\n";
      break;
    }
  }
  return kExitOk;
}

int PrintComparison(const CompareArgs& args) {
  auto project = sqlhost::Project::Open(args.dir);
  const sqlhost::Comparison comparison = sqlhost::CompareItems(*project, args.items);
  if (comparison.groups.empty()) {
    std::cerr << "pramble compare: project '" << args.dir << "' has no analysis items\n";
    return kExitNoInput;
  }
  int number = 0;
  nlohmann::ordered_json groups = nlohmann::ordered_json::array();
  for (const sqlhost::ComparisonGroup& group : comparison.groups) {
    ++number;
    switch (args.format) {
      case OutputFormat::kText:
        std::cout << (number > 1 ? "\n" : "") << "Group " << number << ": " << group.label
                  << (group.ranked ? " (ranked by AIC)" : "") << "\n";
        ComparisonTable(group).Print(std::cout, OutputFormat::kText);
        break;
      case OutputFormat::kCsv: {
        std::ostringstream csv;
        ComparisonTable(group, true, number).Print(csv, OutputFormat::kCsv);
        const std::string text = csv.str();
        // One header for all groups.
        std::cout << (number == 1 ? text : text.substr(text.find('\n') + 1));
        break;
      }
      case OutputFormat::kJson:
        groups.push_back({{"group", number},
                          {"label", group.label},
                          {"ranked", group.ranked},
                          {"items", ComparisonTable(group).JsonRows()}});
        break;
    }
  }
  if (args.format == OutputFormat::kJson) {
    std::cout << nlohmann::ordered_json{{"groups", groups}}.dump(2) << "\n";
  } else if (args.format == OutputFormat::kText) {
    std::cout << "\nAIC is compared only within a group: the same data (survey, data filter, "
                 "truncation, exact or binned distances, number of objects) and the same "
                 "method.\n";
  }
  return kExitOk;
}

int WriteReportFile(const ReportArgs& args) {
  auto project = sqlhost::Project::Open(args.dir);
  if (!args.all && args.items.empty()) {
    std::cerr << "pramble report: name the items to report on, or --all\n";
    return kExitUsage;
  }
  std::vector<std::int32_t> ids = args.items;
  if (args.all) {
    ids.clear();
    for (const sqlhost::ItemInfo& item : project->ListItems()) ids.push_back(item.id);
  }
  for (const std::int32_t id : ids) {
    if (!project->FindItem(id)) {
      std::cerr << "pramble report: project '" << args.dir << "' has no analysis item " << id
                << "\n";
      return kExitNoInput;
    }
  }
  if (ids.empty()) {
    std::cerr << "pramble report: project '" << args.dir << "' has no analysis items\n";
    return kExitNoInput;
  }
  const std::string html = ReportHtml(*project, ids, args.all);
  const std::string temp = args.output + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << html;
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      std::cerr << "pramble report: cannot write '" << args.output << "': "
                << std::strerror(errno) << "\n";
      return kExitComponentError;
    }
  }
  if (std::rename(temp.c_str(), args.output.c_str()) != 0) {
    std::remove(temp.c_str());
    std::cerr << "pramble report: cannot write '" << args.output << "': " << std::strerror(errno)
              << "\n";
    return kExitComponentError;
  }
  std::cerr << "pramble report: wrote " << args.output << " (" << ids.size() << " item"
            << (ids.size() == 1 ? "" : "s") << ", " << html.size() << " bytes)\n";
  return kExitOk;
}

}  // namespace

void EstimatesArgs::Declare(CLI::App& cmd, EstimatesArgs& args) {
  ItemArgs::Declare(cmd, args);
  FormatArgs::Declare(cmd, args);
}

void CompareArgs::Declare(CLI::App& cmd, CompareArgs& args) {
  ProjectArgs::Declare(cmd, args);
  cmd.add_option("ITEM", args.items, "The items to compare (default: all).");
  FormatArgs::Declare(cmd, args);
}

void ReportArgs::Declare(CLI::App& cmd, ReportArgs& args) {
  ProjectArgs::Declare(cmd, args);
  cmd.add_option("ITEM", args.items, "The items to report on.");
  cmd.add_flag("--all", args.all, "Every item, with the comparison table first.");
  cmd.add_option("-o,--output", args.output, "The HTML file to write.")->required();
}

int Estimates(const EstimatesArgs& args) { return PrintEstimates(args); }
int Compare(const CompareArgs& args) { return PrintComparison(args); }
int Report(const ReportArgs& args) { return WriteReportFile(args); }

}  // namespace pramble::cli
