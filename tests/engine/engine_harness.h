// What the engine tests share: a notifier that records what the engine
// publishes, and a services wrapper around the real host that can break or
// steer exactly one thing (the runner's outcome, the command file's contents,
// the temporary folder, the moment a stop arrives).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pramble/host/errors.h"
#include "pramble/host/r_process.h"
#include "pramble/host/services.h"
#include "pramble/host/utilities.h"
#include "pramble/engine_interface.h"
#include "support/forwarding_file_system.h"

namespace pramble::testing {

class RecordingNotify : public NEngineNotify {
 public:
  void StatusChanged(std::int32_t status) override { statuses.push_back(status); }
  void ItemFinished() override { ++finished; }

  std::vector<std::int32_t> statuses;
  int finished = 0;
};

// Posts a task to the event loop of the engine's thread.
using PostFn = std::function<void(std::function<void()>)>;

// The outcome a scripted runner reports instead of starting R.
struct ScriptedRun {
  std::int32_t status = 1;
  std::optional<std::string> r_log;  // written as R's console output; nullopt: no log file
  std::string command_line = "R --no-save --no-restore -f in.r";
  std::string error_message;
  std::string engine_path = "/usr/bin/R";  // "": R cannot be found
  std::string not_found_message = "R could not be found.";
  // What R would have written beside its log: the results and statistics files.
  std::optional<std::string> results;
  std::optional<std::string> stats;
  // R runs until it is stopped: Run delivers nothing, StopRun delivers 0.
  bool hang = false;
};

// What the engine asked of the runners.
struct RunnerRecord {
  int created = 0;
  int runs = 0;
  int stops = 0;
  std::string engine_path, folder, command_file, log_file;
};

// A runner that starts nothing: Run writes the scripted console output and
// posts the scripted status to the loop, as the real runner posts the end of
// R; StopRun posts 0. Like the real runner it delivers once and never after
// it has been destroyed.
class ScriptedRunner : public host::RProcess {
 public:
  ScriptedRunner(ScriptedRun run, RunnerRecord* record, host::FileSystem& files, PostFn post)
      : run_(std::move(run)), record_(record), files_(files), post_(std::move(post)),
        alive_(std::make_shared<bool>(true)) {
    ++record_->created;
  }
  ~ScriptedRunner() override { *alive_ = false; }

  std::string GetEnginePath(host::ProjectDatabase&) override {
    if (run_.engine_path.empty()) error_ = run_.not_found_message;
    return run_.engine_path;
  }
  void Run(const std::string& engine_path, const std::string& folder,
           const std::string& command_file, const std::string& log_file) override {
    ++record_->runs;
    record_->engine_path = engine_path;
    record_->folder = folder;
    record_->command_file = command_file;
    record_->log_file = log_file;
    command_line_ = run_.command_line;
    error_ = run_.error_message;
    const std::string folder_of_log = log_file.substr(0, log_file.find_last_of('/') + 1);
    if (run_.results) files_.WriteTextFile(folder_of_log + "res.r", *run_.results);
    if (run_.stats) files_.WriteTextFile(folder_of_log + "stat.r", *run_.stats);
    if (run_.r_log) {
      files_.WriteTextFile(log_file, *run_.r_log);
    } else {
      try {
        files_.DeleteFile(log_file);
      } catch (...) {
      }
    }
    if (!run_.hang) Deliver(run_.status);
  }
  void StopRun() override {
    ++record_->stops;
    Deliver(0);
  }
  std::string CommandLine() const override { return command_line_; }
  std::string ErrorMessage() const override { return error_; }
  void SetRunFinishedHandler(RunFinishedHandler handler) override {
    handler_ = std::make_shared<RunFinishedHandler>(std::move(handler));
  }

 private:
  void Deliver(std::int32_t status) {
    if (delivered_) return;
    delivered_ = true;
    std::shared_ptr<bool> alive = alive_;
    std::shared_ptr<RunFinishedHandler> handler = handler_;
    post_([alive, handler, status] {
      if (*alive && handler && *handler) (*handler)(status);
    });
  }

  ScriptedRun run_;
  RunnerRecord* record_;
  host::FileSystem& files_;
  PostFn post_;
  std::shared_ptr<bool> alive_;
  std::shared_ptr<RunFinishedHandler> handler_;
  std::string command_line_;
  std::string error_;
  bool delivered_ = false;
};

// The real services with hooks; each hook is off until set.
class HookedServices : public host::ServicesWrapper {
 public:
  HookedServices(host::Services* target, PostFn post)
      : host::ServicesWrapper(target), post_(std::move(post)), files_(this) {}

  // A runner that reports `run` instead of starting R.
  void UseScriptedRunner(ScriptedRun run) { scripted_ = std::move(run); }
  // What the command file maker writes into in.r is replaced by `script`, so
  // that the real R runs that instead.
  void ReplaceCommandFile(std::string script) { command_file_script_ = std::move(script); }
  // GetTempFolderName answers "".
  void NoTempFolder() { no_temp_folder_ = true; }
  // CreateFolder answers False (and creates nothing).
  void FailCreateFolder() { fail_create_folder_ = true; }
  // DeleteFile fails (HostError 75) for a file of this name.
  void FailDeleteOf(std::string name) { fail_delete_of_ = std::move(name); }
  // Called just before the command folder is created.
  void OnCreateFolder(std::function<void()> hook) { on_create_folder_ = std::move(hook); }
  // ReadTextFile fails (HostError 75) for a file of this name.
  void FailReadOf(std::string name) { fail_read_of_ = std::move(name); }
  // The definition reader fails (HostError 5) when asked for this command.
  void FailCommand(std::string name) { fail_command_ = std::move(name); }
  // The run's log fails (HostError 5) when this message is added to it.
  void FailLogOf(std::string message) { fail_log_of_ = std::move(message); }

  const RunnerRecord& runner() const { return record_; }
  const std::vector<std::string>& created_folders() const { return created_folders_; }

  host::FileSystem& Files() override { return files_; }
  host::DefinitionReader& Reader() override {
    if (fail_command_.empty()) return target()->Reader();
    return reader_;
  }
  std::unique_ptr<host::Log> NewLog() override {
    if (fail_log_of_.empty()) return target()->NewLog();
    return std::make_unique<FailingLog>(target()->NewLog(), fail_log_of_);
  }
  std::unique_ptr<host::RProcess> NewRProcess() override {
    if (!scripted_) return target()->NewRProcess();
    return std::make_unique<ScriptedRunner>(*scripted_, &record_, target()->Files(), post_);
  }

 private:
  class HookedFiles : public ForwardingFileSystem {
   public:
    explicit HookedFiles(HookedServices* owner)
        : ForwardingFileSystem(owner->target()->Files()), owner_(owner) {}

    std::string GetTempFolderName() override {
      if (owner_->no_temp_folder_) return "";
      return ForwardingFileSystem::GetTempFolderName();
    }
    bool CreateFolder(const std::string& folder) override {
      if (owner_->on_create_folder_) owner_->on_create_folder_();
      owner_->created_folders_.push_back(folder);
      if (owner_->fail_create_folder_) return false;
      return ForwardingFileSystem::CreateFolder(folder);
    }
    bool WriteTextFile(const std::string& file, const std::string& text) override {
      if (owner_->command_file_script_ && file.ends_with("/in.r"))
        return ForwardingFileSystem::WriteTextFile(file, *owner_->command_file_script_);
      return ForwardingFileSystem::WriteTextFile(file, text);
    }
    bool ReadTextFile(const std::string& file, std::string& text) override {
      const std::string& name = owner_->fail_read_of_;
      if (!name.empty() && file.ends_with(name))
        throw host::HostError(host::kErrPathFileAccess, "Path/File access error: " + file);
      return ForwardingFileSystem::ReadTextFile(file, text);
    }
    void DeleteFile(const std::string& file) override {
      const std::string& name = owner_->fail_delete_of_;
      if (!name.empty() && file.ends_with(name))
        throw host::HostError(host::kErrPathFileAccess, "Path/File access error: " + file);
      ForwardingFileSystem::DeleteFile(file);
    }

   private:
    HookedServices* owner_;
  };

  class FailingReader : public host::DefinitionReader {
   public:
    explicit FailingReader(HookedServices* owner) : owner_(owner) {}
    host::Command GetCommand(const std::string& definition, const std::string& name) override {
      if (name == owner_->fail_command_) throw host::HostError(5, "Invalid procedure call");
      return owner_->target()->Reader().GetCommand(definition, name);
    }
    host::Command GetNextCommand(std::string& definition) override {
      return owner_->target()->Reader().GetNextCommand(definition);
    }
    std::vector<std::string> SplitList(const std::string& text,
                                       const std::string& delimiter) override {
      return owner_->target()->Reader().SplitList(text, delimiter);
    }

   private:
    HookedServices* owner_;
  };

  class FailingLog : public host::LogWrapper {
   public:
    FailingLog(std::unique_ptr<host::Log> log, std::string fail_of)
        : LogWrapper(std::move(log)), fail_of_(std::move(fail_of)) {}
    void Add(const std::string& message, std::int32_t level) override {
      if (message == fail_of_) throw host::HostError(5, "Invalid procedure call");
      LogWrapper::Add(message, level);
    }

   private:
    std::string fail_of_;
  };

  PostFn post_;
  std::optional<ScriptedRun> scripted_;
  std::optional<std::string> command_file_script_;
  bool no_temp_folder_ = false;
  bool fail_create_folder_ = false;
  std::function<void()> on_create_folder_;
  std::string fail_delete_of_;
  std::string fail_read_of_;
  std::string fail_command_;
  std::string fail_log_of_;
  RunnerRecord record_;
  std::vector<std::string> created_folders_;
  HookedFiles files_;
  FailingReader reader_{this};
};

}  // namespace pramble::testing
