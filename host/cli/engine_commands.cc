// pramble run, reset, log, results and stats: the commands that drive the
// engine object on one analysis item and show what a run stored. What the
// engine publishes and logs, and the exit codes, are described in
// docs/engine.md.
#include <charconv>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "host/cli/commands.h"
#include "host/cli/exit_codes.h"
#include "host/dao.h"
#include "host/errors.h"
#include "host/project/project.h"
#include "host/runner/event_loop.h"
#include "host/services.h"
#include "host/services/default_services.h"
#include "host/util/results_utilities.h"
#include "host/value.h"
#include "pramble/component_error.h"
#include "pramble/quox_n_engine_interface.h"

namespace pramble::cli {
namespace {

constexpr char kResultsTable[] = "AnalysisQuoxResults";
// ComponentError number of "Cannot find item '<ID>'."
constexpr std::int32_t kCannotFindItem = -2147221504 + 7951;

int ExitCodeOf(const sqlhost::ProjectError& e) {
  return e.kind() == sqlhost::ProjectError::Kind::kMissing ? kExitNoInput : kExitBadInput;
}

// Runs `body` and turns the errors that reach the command into a message on
// standard error and an exit code.
template <typename Body>
int Guarded(const std::string& command, Body body) {
  try {
    return body();
  } catch (const ComponentError& e) {
    std::cerr << e.source() << " (" << e.number() << "): " << e.description() << "\n";
    return e.number() == kCannotFindItem ? kExitNoInput : kExitComponentError;
  } catch (const sqlhost::ProjectError& e) {
    std::cerr << "pramble " << command << ": " << e.what() << "\n";
    return ExitCodeOf(e);
  } catch (const host::HostError& e) {
    std::cerr << "pramble " << command << ": error (" << e.number() << "): " << e.what() << "\n";
    return kExitComponentError;
  }
}

// Opens the project and checks that it holds the item; nullptr (with the
// message written) when it does not.
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

void PrintText(std::ostream& out, const std::string& text) {
  out << text;
  if (!text.empty() && text.back() != '\n') out << '\n';
  out.flush();
}

// Shows each status as the engine publishes it and notes the end of the run.
class CliNotify : public NEngineNotify {
 public:
  void StatusChanged(std::int32_t status) override {
    std::cerr << "status " << status << " " << sqlhost::Project::StatusText(status) << std::endl;
  }
  void ItemFinished() override { finished = true; }
  bool finished = false;
};

// Sets AnalysisDetails/DebugMode for one run and puts the earlier value (or
// its absence) back when it goes.
class DebugModeForOneRun {
 public:
  DebugModeForOneRun(sqlhost::Project& project, bool on) : project_(project), on_(on) {
    if (!on_) return;
    previous_ = project_.GetSettingValue("AnalysisDetails", "DebugMode");
    project_.SetSettingValue("AnalysisDetails", "DebugMode", host::Value{true});
  }
  ~DebugModeForOneRun() {
    if (!on_) return;
    try {
      project_.SetSettingValue("AnalysisDetails", "DebugMode",
                               previous_ ? *previous_ : host::Value{});
    } catch (const std::exception& e) {
      std::cerr << "pramble run: could not restore the setting AnalysisDetails/DebugMode: "
                << e.what() << "\n";
    }
  }
  DebugModeForOneRun(const DebugModeForOneRun&) = delete;
  DebugModeForOneRun& operator=(const DebugModeForOneRun&) = delete;

 private:
  sqlhost::Project& project_;
  bool on_;
  std::optional<host::Value> previous_;
};

int ExitCodeOfFinalStatus(std::int32_t status) {
  switch (status) {
    case 1:
    case 2: return kExitOk;
    case 3: return kExitRunErrors;
    case 0: return kExitRunStopped;
    default: return kExitComponentError;
  }
}

int Run(const std::string& dir, std::int32_t id, bool debug) {
  auto project = sqlhost::Project::Open(dir);
  sqlhost::EventLoop loop;
  sqlhost::DefaultServices services(loop);
  host::ScopedServices installed(&services);
  DebugModeForOneRun debug_mode(*project, debug);

  auto engine = std::make_shared<QuoxNEngineInterface>();
  auto notify = std::make_shared<CliNotify>();
  engine->ProjectDatabase(project);
  engine->NEngineNotify(notify);

  // A signal becomes an ordinary call on this thread; the run then ends the
  // normal way. Only the first one stops; a run that has ended is left alone.
  bool stop_sent = false;
  loop.WatchSignals([&](int) {
    if (notify->finished || stop_sent) return;
    stop_sent = true;
    engine->StopItemRun();
  });

  int code = kExitOk;
  try {
    if (engine->RunItem(id)) loop.RunUntil([&] { return notify->finished; }, sqlhost::EventLoop::kForever);
    const std::optional<sqlhost::ItemInfo> item = project->FindItem(id);
    code = ExitCodeOfFinalStatus(item ? item->status : -1);
  } catch (...) {
    PrintText(std::cout, engine->Log());
    loop.UnwatchSignals();
    throw;
  }
  PrintText(std::cout, engine->Log());
  loop.UnwatchSignals();
  return code;
}

int Reset(const std::string& dir, std::int32_t id) {
  auto project = OpenWithItem("reset", dir, id);
  if (!project) return kExitNoInput;
  sqlhost::EventLoop loop;
  sqlhost::DefaultServices services(loop);
  host::ScopedServices installed(&services);
  QuoxNEngineInterface engine;
  engine.ProjectDatabase(project);
  const bool reset = engine.ResetItem(id);
  PrintText(std::cout, engine.Log());
  return reset ? kExitOk : kExitRunErrors;
}

// The stored "Log" or "Output" text of the item's results row.
int ShowStored(const std::string& command, const std::string& dir, std::int32_t id,
               const std::string& field) {
  auto project = OpenWithItem(command, dir, id);
  if (!project) return kExitNoInput;
  host::dao::Database& db = project->Database();
  std::optional<std::string> text;
  if (db.TableExists(kResultsTable)) {
    auto rs = db.OpenRecordset("SELECT [" + field + "] FROM [" + kResultsTable +
                               "] WHERE [ID] = " + std::to_string(id));
    if (!rs->Eof()) text = host::ToText(rs->Fields(field).GetValue());
    rs->Close();
  }
  if (!text) {
    std::cerr << "pramble " << command << ": analysis item " << id << " of project '" << dir
              << "' has no stored results\n";
    return kExitNoInput;
  }
  PrintText(std::cout, sqlhost::DecompressText(*text));
  return kExitOk;
}

int Stats(const std::string& dir, std::int32_t id) {
  auto project = OpenWithItem("stats", dir, id);
  if (!project) return kExitNoInput;
  for (const sqlhost::ItemStat& stat : project->ItemStats(id)) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, stat.value);
    std::cout << stat.code << '\t' << std::string(buf, ec == std::errc() ? end : buf) << '\n';
  }
  return kExitOk;
}

struct ItemArgs {
  std::string dir;
  std::int32_t item = 0;
};

std::shared_ptr<ItemArgs> AddItemArgs(CLI::App* cmd) {
  auto args = std::make_shared<ItemArgs>();
  cmd->add_option("DIR", args->dir, "The project folder.")->required();
  cmd->add_option("ITEM", args->item, "The analysis item's ID.")->required();
  return args;
}

}  // namespace

void AddEngineCommands(CLI::App& app, int& exit_code) {
  {
    auto* cmd = app.add_subcommand(
        "run",
        "Run analysis item ITEM with R, show its status changes on standard error and its log "
        "on standard output. Exit 0 when it finished (with or without warnings), 1 when it "
        "finished with errors, 2 when it was stopped (Ctrl-C or SIGTERM stop it).");
    auto args = AddItemArgs(cmd);
    auto debug = std::make_shared<bool>(false);
    cmd->add_flag("--debug", *debug,
                  "Make the data and command files but do not start R; the command folder is "
                  "kept (sets AnalysisDetails/DebugMode for this run only).");
    cmd->callback([args, debug, &exit_code] {
      exit_code = Guarded("run", [&] { return Run(args->dir, args->item, *debug); });
    });
  }
  {
    auto* cmd = app.add_subcommand(
        "reset", "Delete the stored results, statistics and plot files of ITEM; print the log.");
    auto args = AddItemArgs(cmd);
    cmd->callback([args, &exit_code] {
      exit_code = Guarded("reset", [&] { return Reset(args->dir, args->item); });
    });
  }
  {
    auto* cmd = app.add_subcommand("log", "Print the stored log of ITEM's last run.");
    auto args = AddItemArgs(cmd);
    cmd->callback([args, &exit_code] {
      exit_code = Guarded("log", [&] { return ShowStored("log", args->dir, args->item, "Log"); });
    });
  }
  {
    auto* cmd = app.add_subcommand("results", "Print the stored output of ITEM's last run.");
    auto args = AddItemArgs(cmd);
    cmd->callback([args, &exit_code] {
      exit_code = Guarded("results",
                          [&] { return ShowStored("results", args->dir, args->item, "Output"); });
    });
  }
  {
    auto* cmd = app.add_subcommand(
        "stats", "Print ITEM's stored statistics, one per line: code, a tab, value.");
    auto args = AddItemArgs(cmd);
    cmd->callback([args, &exit_code] {
      exit_code = Guarded("stats", [&] { return Stats(args->dir, args->item); });
    });
  }
}

}  // namespace pramble::cli
