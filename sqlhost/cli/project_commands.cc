// pramble create, status and settings: the commands that make a project and
// read or change what it stores, without running the engine. Their entries
// are in command_table.cc.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/exit_codes.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/flat_tables.h"
#include "sqlhost/project/project.h"
#include "sqlhost/project/project_growth.h"
#include "pramble/host/value.h"

namespace pramble::cli {
namespace {

// A setting's value as typed on the command line: true/false (any case) a
// Boolean, a whole number an integer, another number a decimal, else a text.
host::Value TypedValue(const std::string& text) {
  if (host::EqualsNoCase(text, "true")) return host::Value{true};
  if (host::EqualsNoCase(text, "false")) return host::Value{false};
  std::int64_t i = 0;
  const char* b = text.data();
  const char* e = text.data() + text.size();
  if (!text.empty() && text[0] == '+') ++b;
  auto [p, ec] = std::from_chars(b, e, i);
  if (ec == std::errc() && p == e && b != e) return host::Value{i};
  if (host::IsNumeric(text) && text.find_first_of(" \t") == std::string::npos) {
    try {
      return host::Value{host::ParseNumber(text)};
    } catch (const host::HostError&) {
    }
  }
  return host::Value{text};
}

void PrintItem(const sqlhost::ItemInfo& item) {
  std::cout << item.id << '\t' << item.name << '\t' << item.status << '\t'
            << sqlhost::Project::StatusText(item.status) << '\t'
            << sqlhost::Project::FormatRunDate(item.run_date) << '\n';
}

}  // namespace

void CreateArgs::Declare(CLI::App& cmd, CreateArgs& args) {
  cmd.add_option("DIR", args.dir, "The project folder to create; it must not exist.")->required();
  auto* from = cmd.add_option("--from", args.from,
                              "The project description (see docs/project-description.md).");
  auto* flat = cmd.add_option("--flat", args.flat,
                              "A sightings table (CSV): transect, object, distance, and for two "
                              "observers observer and detected; size and covariates optional.");
  auto* transects = cmd.add_option("--transects", args.transects,
                                   "With --flat: the transect table (CSV): region, region_area, "
                                   "transect, effort.");
  from->excludes(flat);
  flat->needs(transects);
  transects->needs(flat);
  cmd.add_option_function<double>(
         "--width", [&args](const double& w) { args.width = w; },
         "With --flat: the truncation width (default: the largest distance).")
      ->needs(flat)
      ->check(CLI::PositiveNumber);
  cmd.add_option("--distance-unit", args.distance_unit, "With --flat: the distances' unit.")
      ->needs(flat)
      ->capture_default_str();
  cmd.add_option("--effort-unit", args.effort_unit, "With --flat: the effort's unit.")
      ->needs(flat)
      ->capture_default_str();
  cmd.add_option("--area-unit", args.area_unit, "With --flat: the region areas' unit.")
      ->needs(flat)
      ->capture_default_str();
}

int Create(const CreateArgs& args) {
  std::string made;
  if (!args.flat.empty()) {
    const sqlhost::FlatDescription flat = sqlhost::DescribeFlatTables(
        {args.flat, args.transects, args.width, args.distance_unit, args.effort_unit,
         args.area_unit});
    sqlhost::CreateProjectFromJson(args.dir, flat.description, "");
    made = ": " + flat.summary;
  } else if (!args.from.empty()) {
    sqlhost::CreateProject(args.dir, args.from);
  } else {
    std::cerr << "pramble create: give --from DESCRIPTION.json or --flat SIGHTINGS.csv "
                 "--transects TRANSECTS.csv\n";
    return kExitUsage;
  }
  auto project = sqlhost::Project::Open(args.dir);
  const auto layers = project->layers().all().size();
  const auto items = project->ListItems().size();
  std::cerr << "pramble create: created project '" << project->folder() << "' with " << layers
            << (layers == 1 ? " layer" : " layers") << " and " << items
            << (items == 1 ? " analysis item" : " analysis items") << made << "\n";
  return kExitOk;
}

void AddArgs::Declare(CLI::App& cmd, AddArgs& args) {
  ProjectArgs::Declare(cmd, args);
  auto* from = cmd.add_option("--from", args.from,
                              "A fragment of a project description: surveys, data_filters, "
                              "model_definitions and analyses with new IDs.");
  auto* model = cmd.add_option("--model", args.model,
                               "One model definition, added with an analysis item.");
  from->excludes(model);
  cmd.add_option("--name", args.name, "The new model definition's and item's name.")
      ->needs(model);
  cmd.add_option_function<std::int32_t>(
         "--like", [&args](const std::int32_t& id) { args.like = id; },
         "The item whose survey and data filter the new item uses (default: the lowest).")
      ->needs(model);
}

int Add(const AddArgs& args) {
  if (args.model.empty() && args.from.empty()) {
    std::cerr << "pramble add: give --from FRAGMENT.json or --model DEFINITION\n";
    return kExitUsage;
  }
  auto project = sqlhost::Project::Open(args.dir);
  if (!args.model.empty()) {
    const std::int32_t id = sqlhost::AddModelItem(*project, args.model, args.name, args.like);
    std::cout << id << "\n";
    return kExitOk;
  }
  const sqlhost::Additions added = sqlhost::AddFragmentFile(*project, args.from);
  std::cerr << "pramble add: added " << added.definitions
            << (added.definitions == 1 ? " definition" : " definitions") << " and "
            << added.analyses.size()
            << (added.analyses.size() == 1 ? " analysis item" : " analysis items") << "\n";
  for (std::int32_t id : added.analyses) std::cout << id << "\n";
  return kExitOk;
}

void StatusArgs::Declare(CLI::App& cmd, StatusArgs& args) {
  ProjectArgs::Declare(cmd, args);
  cmd.add_option_function<std::int32_t>(
      "ITEM", [&args](const std::int32_t& id) { args.item = id; }, "Show only this item.");
}

int Status(const StatusArgs& args) {
  if (args.item) {
    auto project = OpenWithItem("status", args.dir, *args.item);
    if (!project) return kExitNoInput;
    PrintItem(*project->FindItem(*args.item));
    return kExitOk;
  }
  auto project = sqlhost::Project::Open(args.dir);
  for (const auto& info : project->ListItems()) PrintItem(info);
  return kExitOk;
}

void SettingsArgs::Declare(CLI::App& cmd, SettingsArgs& args) {
  ProjectArgs::Declare(cmd, args);
  cmd.require_subcommand(1);
  CLI::App* get = cmd.add_subcommand("get", "Print the value of setting SECTION/KEY.");
  get->add_option("SECTION", args.section, "The setting's section.")->required();
  get->add_option("KEY", args.key, "The setting's key.")->required();
  CLI::App* set = cmd.add_subcommand("set", "Store VALUE as setting SECTION/KEY.");
  set->add_option("SECTION", args.section, "The setting's section.")->required();
  set->add_option("KEY", args.key, "The setting's key.")->required();
  set->add_option("VALUE", args.value, "true/false, a number or a text.")->required();
  args.set = set;
}

int Settings(const SettingsArgs& args) {
  auto project = sqlhost::Project::Open(args.dir);
  if (args.set->parsed()) {
    project->SetSettingValue(args.section, args.key, TypedValue(args.value));
    return kExitOk;
  }
  auto value = project->GetSettingValue(args.section, args.key);
  if (!value) {
    std::cerr << "pramble settings: no value is stored for " << args.section << "/" << args.key
              << "\n";
    return kExitNoInput;
  }
  std::cout << host::ToText(*value) << "\n";
  return kExitOk;
}

}  // namespace pramble::cli
