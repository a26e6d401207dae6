#include "sqlhost/cli/engine_session.h"

#include <algorithm>
#include <iostream>

#include "sqlhost/analysis/run_record.h"
#include "sqlhost/runner/r_library_lock.h"

namespace pramble::cli {
namespace {

// Hands each published status on and notes the end of the run.
class CallbackNotify : public NEngineNotify {
 public:
  explicit CallbackNotify(std::function<void(std::int32_t)> on_status)
      : on_status_(std::move(on_status)) {}
  void StatusChanged(std::int32_t status) override {
    if (on_status_) on_status_(status);
  }
  void ItemFinished() override { finished = true; }
  bool finished = false;

 private:
  std::function<void(std::int32_t)> on_status_;
};

// Keeps the run's precise statistics; a record that cannot be kept leaves
// the 32-bit statistics to those who read the estimates, and says so.
void KeepRecord(sqlhost::RunRecorder& recorder, std::int32_t id) {
  try {
    recorder.Store();
  } catch (const std::exception& e) {
    std::cerr << "pramble: the full-precision statistics of analysis item " << id
              << " were not kept (" << e.what() << "); its estimates are read from the "
              << "32-bit statistics" << std::endl;
  }
}

}  // namespace

// The host's services with the logs they make watched for their level.
class EngineSession::LogWatchingServices : public host::ServicesWrapper {
 public:
  using host::ServicesWrapper::ServicesWrapper;
  std::unique_ptr<host::Log> NewLog() override {
    return std::make_unique<WatchedLog>(ServicesWrapper::NewLog(), severity_);
  }
  std::int32_t severity() const { return *severity_; }

 private:
  class WatchedLog : public host::LogWrapper {
   public:
    WatchedLog(std::unique_ptr<host::Log> log, std::shared_ptr<std::int32_t> severity)
        : LogWrapper(std::move(log)), severity_(std::move(severity)) {}
    void Add(const std::string& message, std::int32_t level) override {
      LogWrapper::Add(message, level);
      *severity_ = std::max(*severity_, Severity());
    }

   private:
    std::shared_ptr<std::int32_t> severity_;
  };
  std::shared_ptr<std::int32_t> severity_ = std::make_shared<std::int32_t>(0);
};

EngineSession::EngineSession(std::shared_ptr<sqlhost::Project> project, std::string command)
    : project_(std::move(project)),
      command_(std::move(command)),
      host_services_(loop_),
      services_(std::make_unique<LogWatchingServices>(&host_services_)),
      installed_(std::make_unique<host::ScopedServices>(services_.get())),
      engine_(std::make_shared<QuoxNEngineInterface>()) {
  engine_->ProjectDatabase(project_);
}

EngineSession::~EngineSession() {
  engine_.reset();
  installed_.reset();
}

std::int32_t EngineSession::LogSeverity() const { return services_->severity(); }

ItemRunResult EngineSession::RunItem(std::int32_t id, const RunOptions& options) {
  if (options.lock_r_library) {
    library_lock_ = sqlhost::RLibraryLock::ForNextRun(
        *project_, [this](const std::string& library, bool installs) {
          std::cerr << "pramble " << command_ << ": waiting for other runs that "
                    << (installs ? "use" : "install the R package quox in") << " the R library '"
                    << library << "'" << std::endl;
        });
  }
  auto notify = std::make_shared<CallbackNotify>(options.on_status);
  engine_->NEngineNotify(notify);

  // A signal becomes an ordinary call on this thread; the run then ends the
  // normal way. Only the first one stops; a run that has ended is left alone.
  ItemRunResult result;
  loop_.WatchSignals([&](int) {
    if (notify->finished || result.stop_requested) return;
    result.stop_requested = true;
    engine_->StopItemRun();
  });

  // R is told the item's units and where to leave the precise statistics.
  sqlhost::RunRecorder recorder(*project_, id);
  try {
    if (engine_->RunItem(id)) {
      loop_.RunUntil([&] { return notify->finished; }, sqlhost::EventLoop::kForever);
    }
    KeepRecord(recorder, id);
    const std::optional<sqlhost::ItemInfo> item = project_->FindItem(id);
    result.final_status = item ? item->status : -1;
  } catch (...) {
    if (options.on_log) options.on_log(engine_->Log());
    loop_.UnwatchSignals();
    throw;
  }
  if (options.on_log) options.on_log(engine_->Log());
  loop_.UnwatchSignals();
  return result;
}

}  // namespace pramble::cli
