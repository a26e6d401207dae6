// pramble run, reset, log, results and stats: the commands that drive the
// engine object on one analysis item and show what a run stored. `run` of
// several items (or --all) hands them to the parallel runner
// (parallel_run.h), which runs each as a `run ITEM --quiet` of its own. Their
// entries are in command_table.cc. What the engine publishes and logs, and
// the exit codes, are described in docs/engine.md; the locks that `run` and
// `reset` take in docs/robustness.md.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "pramble/host/errors.h"
#include "pramble/host/value.h"
#include "sqlhost/analysis/run_record.h"
#include "sqlhost/cli/commands.h"
#include "sqlhost/cli/engine_session.h"
#include "sqlhost/cli/exit_codes.h"
#include "sqlhost/cli/guard.h"
#include "sqlhost/cli/parallel_run.h"
#include "sqlhost/project/project.h"
#include "sqlhost/project/project_growth.h"

namespace pramble::cli {
namespace {

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
    if (!item || item->status < kStatusPreparing) return;
    host::BrowserList& browsers = project.Browsers();
    browsers.Item(browsers.IndexOfItem(id)).Items().Item(id)->SetStatus(kStatusFinishedWithErrors);
    project.NotifyItemChanged();
    std::cerr << "pramble run: analysis item " << id << " is marked 3 "
              << sqlhost::Project::StatusText(kStatusFinishedWithErrors)
              << "; the results of this run were not stored" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "pramble run: analysis item " << id
              << " could not be marked as finished with errors either (" << e.what()
              << "); its status stays as shown until it is run again or reset" << std::endl;
  }
}

int RunItem(const std::string& dir, std::int32_t id, bool debug, bool quiet) {
  auto project = sqlhost::Project::Open(dir);
  // An unknown item is left to the engine, which reports it.
  sqlhost::ItemLock item_lock;
  const bool known = project->FindItem(id).has_value();
  if (known) {
    int code = kExitOk;
    if (!LockItem(*project, "run", dir, id, item_lock, code)) return code;
  }
  // Debug mode for this run only: the engine of this process sees it, the
  // stored setting and other processes' runs do not.
  if (debug) project->OverrideSetting("AnalysisDetails", "DebugMode", host::Value{true});
  EngineSession session(project, "run");
  RunOptions options;
  options.on_status = [](std::int32_t status) {
    std::cerr << "status " << status << " " << sqlhost::Project::StatusText(status) << std::endl;
  };
  if (!quiet) options.on_log = [](const std::string& log) { PrintText(std::cout, log); };
  options.lock_r_library = known && !debug;
  ItemRunResult result;
  try {
    result = session.RunItem(id, options);
  } catch (const host::HostError&) {
    // The host failed under the engine (a project database locked for
    // longer than its busy timeout, say): the run could not end the normal
    // way. The message goes out before the item is marked, so that whoever
    // holds the database learns of it while the mark still waits.
    const int code = ReportError("run", std::current_exception());
    MarkUnfinished(*project, id);
    return code;
  }
  return ExitCodeOfFinalStatus(result.final_status);
}

// Runs the items named in `args` (all with --all) in child processes, at
// most -j at a time, after checking that the project holds each of them.
int RunItems(const RunArgs& args) {
  std::vector<ParallelItem> chosen;
  {
    auto project = sqlhost::Project::Open(args.dir);
    const std::vector<sqlhost::ItemInfo> listed = project->ListItems();
    if (args.all && listed.empty()) {
      std::cerr << "pramble run: project '" << args.dir << "' has no analysis items\n";
      return kExitNoInput;
    }
    for (const sqlhost::ItemInfo& item : listed) {
      if (args.all) chosen.push_back({item.id, item.name});
    }
    for (const std::int32_t id : args.items) {
      const auto it = std::find_if(listed.begin(), listed.end(),
                                   [id](const sqlhost::ItemInfo& i) { return i.id == id; });
      if (it == listed.end()) {
        std::cerr << "pramble run: project '" << args.dir << "' has no analysis item " << id
                  << "; nothing was run\n";
        return kExitNoInput;
      }
      const bool named_before = std::any_of(chosen.begin(), chosen.end(),
                                            [id](const ParallelItem& c) { return c.id == id; });
      if (!named_before) chosen.push_back({id, it->name});
    }
  }
  ParallelRunOptions options;
  options.jobs = args.jobs.value_or(DefaultJobs());
  options.debug = args.debug;
  options.live = ::isatty(STDERR_FILENO) == 1;
  const ParallelRunResult result = RunInParallel(args.dir, chosen, options, std::cerr);
  PrintRunSummary(std::cout, args.dir, result);
  return result.exit_code;
}

// Opens the project, takes item `id`'s lock for `command` (kept in `lock`)
// and resets the item through the engine, printing its log. kExitOk when
// the reset left nothing behind.
int ResetUnderLock(const std::string& command, const std::string& dir, std::int32_t id,
                   std::shared_ptr<sqlhost::Project>& project, sqlhost::ItemLock& lock) {
  project = OpenWithItem(command, dir, id);
  if (!project) return kExitNoInput;
  int code = kExitOk;
  if (!LockItem(*project, command, dir, id, lock, code)) return code;
  EngineSession session(project, command);
  const bool reset = session.engine().ResetItem(id);
  PrintText(std::cout, session.engine().Log());
  // A reset that logged an error left something behind.
  return reset && session.LogSeverity() < 2 ? kExitOk : kExitRunErrors;
}

int ResetItem(const std::string& dir, std::int32_t id) {
  std::shared_ptr<sqlhost::Project> project;
  sqlhost::ItemLock lock;
  return ResetUnderLock("reset", dir, id, project, lock);
}

// The stored "Log" or "Output" text of the item's results row.
int ShowStored(const std::string& command, const std::string& dir, std::int32_t id,
               const std::string& field) {
  auto project = OpenWithItem(command, dir, id);
  if (!project) return kExitNoInput;
  const std::optional<std::string> text = sqlhost::StoredResultText(*project, id, field);
  if (!text) {
    std::cerr << "pramble " << command << ": analysis item " << id << " of project '" << dir
              << "' has no stored results\n";
    return kExitNoInput;
  }
  PrintText(std::cout, *text);
  return kExitOk;
}

int ShowStats(const std::string& dir, std::int32_t id) {
  auto project = OpenWithItem("stats", dir, id);
  if (!project) return kExitNoInput;
  for (const sqlhost::ItemStat& stat : project->ItemStats(id)) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, stat.value);
    std::cout << stat.code << '\t' << std::string(buf, ec == std::errc() ? end : buf) << '\n';
  }
  return kExitOk;
}

// Resets item `id` as `reset` does and, when nothing was left behind,
// deletes it with the definitions that no other item uses.
int RemoveItem(const std::string& dir, std::int32_t id) {
  std::shared_ptr<sqlhost::Project> project;
  sqlhost::ItemLock lock;
  const int code = ResetUnderLock("remove", dir, id, project, lock);
  if (code == kExitRunErrors) {
    std::cerr << "pramble remove: analysis item " << id
              << " was not removed: its results could not all be reset\n";
  }
  if (code != kExitOk) return code;
  std::string what;
  for (const std::string& part : sqlhost::DeleteItem(*project, id))
    what += (what.empty() ? "" : ", ") + part;
  std::cerr << "pramble remove: removed " << what << "\n";
  return kExitOk;
}

}  // namespace

void RunArgs::Declare(CLI::App& cmd, RunArgs& args) {
  ProjectArgs::Declare(cmd, args);
  cmd.add_option("ITEM", args.items,
                 "The analysis items' IDs; more than one run in parallel (as with -j).");
  cmd.add_flag("--all", args.all, "Run every analysis item of the project, in parallel.");
  cmd.add_option("-j,--jobs", args.jobs,
                 "Run at most N items at a time (default: the number of cores, " +
                     std::to_string(DefaultJobs()) + " here).")
      ->type_name("N")
      ->check(CLI::Range(1u, 4096u));
  cmd.add_flag("--debug", args.debug,
               "Make the data and command files but do not start R; the command folder is "
               "kept (AnalysisDetails/DebugMode for this run only; the stored setting is not "
               "changed).");
  cmd.add_flag("--quiet", args.quiet,
               "Show the status lines only; the run's log is stored but not printed "
               "(pramble log DIR ITEM prints it).");
}

int Run(const RunArgs& args) {
  if (args.all == !args.items.empty()) {
    std::cerr << "pramble run: name the ITEM to run (or several), or give --all, "
              << (args.all ? "not both" : "to run every item") << "\n";
    return kExitUsage;
  }
  if (!args.all && args.items.size() == 1 && !args.jobs)
    return RunItem(args.dir, args.items.front(), args.debug, args.quiet);
  return RunItems(args);
}
int Reset(const ItemArgs& args) { return ResetItem(args.dir, args.item); }
int Remove(const ItemArgs& args) { return RemoveItem(args.dir, args.item); }
int ShowLog(const ItemArgs& args) { return ShowStored("log", args.dir, args.item, "Log"); }
int ShowResults(const ItemArgs& args) {
  return ShowStored("results", args.dir, args.item, "Output");
}
int Stats(const ItemArgs& args) { return ShowStats(args.dir, args.item); }

}  // namespace pramble::cli
