// pramble create, status and settings: the commands that make a project and
// read or change what it stores, without running the engine.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/exit_codes.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/description.h"
#include "sqlhost/project/project.h"
#include "pramble/host/value.h"

namespace pramble::cli {
namespace {

int ExitCodeOf(const sqlhost::ProjectError& e) {
  switch (e.kind()) {
    case sqlhost::ProjectError::Kind::kMissing:
      return kExitNoInput;
    case sqlhost::ProjectError::Kind::kExists:
      return kExitUsage;
    default:
      return kExitBadInput;
  }
}

// Runs `body` and turns the host's errors into a message and an exit code.
template <typename Body>
int Guarded(const std::string& command, Body body) {
  try {
    return body();
  } catch (const sqlhost::DescriptionError& e) {
    std::cerr << "pramble " << command << ": " << e.what() << "\n";
    return kExitBadInput;
  } catch (const sqlhost::ProjectError& e) {
    std::cerr << "pramble " << command << ": " << e.what() << "\n";
    return ExitCodeOf(e);
  } catch (const host::HostError& e) {
    std::cerr << "pramble " << command << ": " << e.what() << "\n";
    return kExitBadInput;
  }
}

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

void AddProjectCommands(CLI::App& app, int& exit_code) {
  // create DIR --from DESCRIPTION.json
  {
    auto* cmd = app.add_subcommand(
        "create", "Create a new project folder DIR from a project description (JSON).");
    auto dir = std::make_shared<std::string>();
    auto from = std::make_shared<std::string>();
    cmd->add_option("DIR", *dir, "The project folder to create; it must not exist.")->required();
    cmd->add_option("--from", *from, "The project description (see docs/project-description.md).")
        ->required();
    cmd->callback([dir, from, &exit_code] {
      exit_code = Guarded("create", [&] {
        sqlhost::CreateProject(*dir, *from);
        auto project = sqlhost::Project::Open(*dir);
        const auto layers = project->layers().all().size();
        const auto items = project->ListItems().size();
        std::cerr << "pramble create: created project '" << project->folder() << "' with "
                  << layers << (layers == 1 ? " layer" : " layers") << " and " << items
                  << (items == 1 ? " analysis item\n" : " analysis items\n");
        return kExitOk;
      });
    });
  }

  // status DIR [ITEM]
  {
    auto* cmd = app.add_subcommand(
        "status",
        "Show the analysis items: ID, name, status number, status text and run date, "
        "tab-separated.");
    auto dir = std::make_shared<std::string>();
    auto item = std::make_shared<std::optional<std::int32_t>>();
    cmd->add_option("DIR", *dir, "The project folder.")->required();
    cmd->add_option_function<std::int32_t>(
        "ITEM", [item](const std::int32_t& id) { *item = id; }, "Show only this item.");
    cmd->callback([dir, item, &exit_code] {
      exit_code = Guarded("status", [&] {
        auto project = sqlhost::Project::Open(*dir);
        if (item->has_value()) {
          auto info = project->FindItem(**item);
          if (!info) {
            std::cerr << "pramble status: project '" << *dir << "' has no analysis item " << **item
                      << "\n";
            return kExitNoInput;
          }
          PrintItem(*info);
          return kExitOk;
        }
        for (const auto& info : project->ListItems()) PrintItem(info);
        return kExitOk;
      });
    });
  }

  // settings DIR get SECTION KEY | settings DIR set SECTION KEY VALUE
  {
    auto* cmd = app.add_subcommand(
        "settings",
        "Read (get SECTION KEY) or write (set SECTION KEY VALUE) a setting of the project.");
    auto dir = std::make_shared<std::string>();
    auto args = std::make_shared<std::vector<std::string>>();
    cmd->add_option("DIR", *dir, "The project folder.")->required();
    cmd->add_option("ARGS", *args,
                    "get SECTION KEY, or set SECTION KEY VALUE (VALUE: true/false, a number "
                    "or a text)")
        ->required();
    cmd->callback([dir, args, &exit_code] {
      const std::vector<std::string>& a = *args;
      const bool get = !a.empty() && a[0] == "get";
      const bool set = !a.empty() && a[0] == "set";
      if (!(get && a.size() == 3) && !(set && a.size() == 4)) {
        throw CLI::ValidationError("settings",
                                   "expected 'get SECTION KEY' or 'set SECTION KEY VALUE'");
      }
      exit_code = Guarded("settings", [&] {
        auto project = sqlhost::Project::Open(*dir);
        if (set) {
          project->SetSettingValue(a[1], a[2], TypedValue(a[3]));
          return kExitOk;
        }
        auto value = project->GetSettingValue(a[1], a[2]);
        if (!value) {
          std::cerr << "pramble settings: no value is stored for " << a[1] << "/" << a[2] << "\n";
          return kExitNoInput;
        }
        std::cout << host::ToText(*value) << "\n";
        return kExitOk;
      });
    });
  }
}

}  // namespace pramble::cli
