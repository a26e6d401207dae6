// pramble run, reset, log, results and stats: the commands that drive the
// engine object on one analysis item and show what a run stored. What the
// engine publishes and logs, and the exit codes, are described in
// docs/engine.md; the locks that `run` and `reset` take in
// docs/robustness.md.
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/exit_codes.h"
#include "sqlhost/cli/item_run.h"
#include "pramble/host/dao.h"
#include "pramble/host/errors.h"
#include "sqlhost/project/project.h"
#include "sqlhost/runner/event_loop.h"
#include "sqlhost/runner/r_library_lock.h"
#include "pramble/host/services.h"
#include "sqlhost/services/default_services.h"
#include "sqlhost/util/results_utilities.h"
#include "pramble/host/value.h"
#include "pramble/quox_n_engine_interface.h"

namespace pramble::cli {
namespace {

constexpr char kResultsTable[] = "AnalysisQuoxResults";
// The item is being run or reset by another process: try again later
// (sysexits' EX_TEMPFAIL).
constexpr int kExitItemBusy = 75;

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

// Takes the lock of item `id` for `command`; false, with the message
// written and `code` set, when it is not held.
bool LockItem(sqlhost::Project& project, const std::string& command, const std::string& dir,
              std::int32_t id, sqlhost::ItemLock& lock, int& code) {
  lock = project.LockItem(id);
  const std::string what =
      "pramble " + command + ": cannot lock analysis item " + std::to_string(id) +
      " of project '" + dir + "': ";
  switch (lock.refusal()) {
    case sqlhost::ItemLock::Refusal::kNone:
      return true;
    case sqlhost::ItemLock::Refusal::kCannotOpen:
      std::cerr << what << "cannot open '" << lock.path() << "': " << lock.reason() << "\n";
      code = kExitBadInput;
      return false;
    case sqlhost::ItemLock::Refusal::kSystem:
      std::cerr << what << lock.reason() << "\n";
      code = kExitComponentError;
      return false;
    case sqlhost::ItemLock::Refusal::kBusy:
      std::cerr << "pramble " << command << ": analysis item " << id << " of project '" << dir
                << "' is already being run or reset by another process"
                << (lock.holder().empty() ? "" : " (process " + lock.holder() + ")")
                << "; try again when it has finished\n";
      code = kExitItemBusy;
      return false;
  }
  return false;
}

// After a run that the host could not end (its final status was not
// stored): an item left with a running status (6 to 9) gets status 3, so
// that it does not show as running when nothing runs. Its results row is
// left as it was; the run's command folder, which holds what R wrote, is
// kept (the printed log names it).
void MarkUnfinished(sqlhost::Project& project, std::int32_t id) {
  try {
    const std::optional<sqlhost::ItemInfo> item = project.FindItem(id);
    if (!item || item->status < 6) return;
    host::BrowserList& browsers = project.Browsers();
    browsers.Item(browsers.IndexOfItem(id)).Items().Item(id)->SetStatus(3);
    project.NotifyItemChanged();
    std::cerr << "pramble run: analysis item " << id << " is marked 3 "
              << sqlhost::Project::StatusText(3) << "; the results of this run were not stored"
              << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "pramble run: analysis item " << id
              << " could not be marked as finished with errors either (" << e.what()
              << "); its status stays as shown until it is run again or reset" << std::endl;
  }
}

int Run(const std::string& dir, std::int32_t id, bool debug) {
  auto project = sqlhost::Project::Open(dir);
  // An unknown item is left to the engine, which reports it.
  sqlhost::ItemLock item_lock;
  sqlhost::RLibraryLock library_lock;
  if (project->FindItem(id)) {
    int code = kExitOk;
    if (!LockItem(*project, "run", dir, id, item_lock, code)) return code;
    if (!debug) library_lock = sqlhost::RLibraryLock::ForNextRun(*project, LibraryWaitNote("run"));
  }
  // Debug mode for this run only: the engine of this process sees it, the
  // stored setting and other processes' runs do not.
  if (debug) project->OverrideSetting("AnalysisDetails", "DebugMode", host::Value{true});
  ItemRunResult result;
  try {
    result = RunItemToEnd(
        project, id,
        [](std::int32_t status) {
          std::cerr << "status " << status << " " << sqlhost::Project::StatusText(status)
                    << std::endl;
        },
        [](const std::string& log) { PrintText(std::cout, log); });
  } catch (const host::HostError& e) {
    // The host failed under the engine (a project database locked for
    // longer than its busy timeout, say): the run could not end the normal
    // way. The message goes out before the item is marked, so that whoever
    // holds the database learns of it while the mark still waits.
    std::cerr << "pramble run: error (" << e.number() << "): " << e.what() << std::endl;
    MarkUnfinished(*project, id);
    return kExitComponentError;
  }
  return ExitCodeOfFinalStatus(result.final_status);
}

// The host's services with the logs they make watched: ResetItem answers
// True even when its log says that something could not be deleted (a plot
// file), and `pramble reset` must still say so by its exit code.
class LogWatchingServices : public host::ServicesWrapper {
 public:
  using host::ServicesWrapper::ServicesWrapper;
  std::unique_ptr<host::Log> NewLog() override {
    return std::make_unique<WatchedLog>(ServicesWrapper::NewLog(), severity_);
  }
  // The highest level any of the logs has seen.
  std::int32_t severity() const { return *severity_; }

 private:
  class WatchedLog : public host::Log {
   public:
    WatchedLog(std::unique_ptr<host::Log> log, std::shared_ptr<std::int32_t> severity)
        : log_(std::move(log)), severity_(std::move(severity)) {}
    void Add(const std::string& message, std::int32_t level) override {
      log_->Add(message, level);
      *severity_ = std::max(*severity_, log_->Severity());
    }
    std::string Contents() const override { return log_->Contents(); }
    void SetTimeStamp(bool on) override { log_->SetTimeStamp(on); }
    std::int32_t Severity() const override { return log_->Severity(); }

   private:
    std::unique_ptr<host::Log> log_;
    std::shared_ptr<std::int32_t> severity_;
  };
  std::shared_ptr<std::int32_t> severity_ = std::make_shared<std::int32_t>(0);
};

int Reset(const std::string& dir, std::int32_t id) {
  auto project = OpenWithItem("reset", dir, id);
  if (!project) return kExitNoInput;
  int code = kExitOk;
  sqlhost::ItemLock item_lock;
  if (!LockItem(*project, "reset", dir, id, item_lock, code)) return code;
  sqlhost::EventLoop loop;
  sqlhost::DefaultServices host_services(loop);
  LogWatchingServices services(&host_services);
  host::ScopedServices installed(&services);
  QuoxNEngineInterface engine;
  engine.ProjectDatabase(project);
  const bool reset = engine.ResetItem(id);
  PrintText(std::cout, engine.Log());
  // A reset that logged an error left something behind.
  return reset && services.severity() < 2 ? kExitOk : kExitRunErrors;
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
        "finished with errors, 2 when it was stopped (Ctrl-C or SIGTERM stop it), 75 when "
        "another process is running or resetting the same item (items of one project may run "
        "at the same time). A run that installs the R package waits for other runs that use "
        "the same R library, and they for it.");
    auto args = AddItemArgs(cmd);
    auto debug = std::make_shared<bool>(false);
    cmd->add_flag("--debug", *debug,
                  "Make the data and command files but do not start R; the command folder is "
                  "kept (AnalysisDetails/DebugMode for this run only; the stored setting is not "
                  "changed).");
    cmd->callback([args, debug, &exit_code] {
      exit_code = Guarded("run", [&] { return Run(args->dir, args->item, *debug); });
    });
  }
  {
    auto* cmd = app.add_subcommand(
        "reset",
        "Delete the stored results, statistics and plot files of ITEM; print the log. Exit 1 "
        "when something could not be deleted, 75 when another process is running or resetting "
        "the same item.");
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
