#include "sqlhost/cli/item_run.h"

#include "sqlhost/runner/event_loop.h"
#include "pramble/host/services.h"
#include "sqlhost/services/default_services.h"
#include "pramble/quox_n_engine_interface.h"

namespace pramble::cli {
namespace {

// Hands each published status on and notes the end of the run.
class CallbackNotify : public NEngineNotify {
 public:
  explicit CallbackNotify(const std::function<void(std::int32_t)>& on_status)
      : on_status_(on_status) {}
  void StatusChanged(std::int32_t status) override {
    if (on_status_) on_status_(status);
  }
  void ItemFinished() override { finished = true; }
  bool finished = false;

 private:
  const std::function<void(std::int32_t)>& on_status_;
};

}  // namespace

ItemRunResult RunItemToEnd(const std::shared_ptr<sqlhost::Project>& project, std::int32_t id,
                           const std::function<void(std::int32_t)>& on_status,
                           const std::function<void(const std::string&)>& on_log) {
  sqlhost::EventLoop loop;
  sqlhost::DefaultServices services(loop);
  host::ScopedServices installed(&services);

  auto engine = std::make_shared<QuoxNEngineInterface>();
  auto notify = std::make_shared<CallbackNotify>(on_status);
  engine->ProjectDatabase(project);
  engine->NEngineNotify(notify);

  // A signal becomes an ordinary call on this thread; the run then ends the
  // normal way. Only the first one stops; a run that has ended is left alone.
  ItemRunResult result;
  loop.WatchSignals([&](int) {
    if (notify->finished || result.stop_requested) return;
    result.stop_requested = true;
    engine->StopItemRun();
  });

  try {
    if (engine->RunItem(id)) {
      loop.RunUntil([&] { return notify->finished; }, sqlhost::EventLoop::kForever);
    }
    const std::optional<sqlhost::ItemInfo> item = project->FindItem(id);
    result.final_status = item ? item->status : -1;
  } catch (...) {
    if (on_log) on_log(engine->Log());
    loop.UnwatchSignals();
    throw;
  }
  if (on_log) on_log(engine->Log());
  loop.UnwatchSignals();
  return result;
}

sqlhost::RLibraryLock::WaitHandler LibraryWaitNote(const std::string& command) {
  return [command](const std::string& library, bool installs) {
    std::cerr << "pramble " << command << ": waiting for other runs that "
              << (installs ? "use" : "install the R package quox in") << " the R library '"
              << library << "'" << std::endl;
  };
}

int ExitCodeOfFinalStatus(std::int32_t status) {
  switch (status) {
    case 1:
    case 2: return kExitOk;
    case 3: return kExitRunErrors;
    case 0: return kExitRunStopped;
    default: return kExitComponentError;
  }
}

}  // namespace pramble::cli
