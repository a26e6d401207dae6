// The host's event loop: the one place where work from other threads (the end
// of an R process) and from signals (SIGINT, SIGTERM) reaches the thread that
// owns the engine object. Any thread may Post a task; the owner thread runs
// tasks in RunOnce or RunUntil, in the order they were posted (delayed tasks
// when they are due).
//
//   sqlhost::EventLoop loop;
//   bool finished = false;
//   runner.SetRunFinishedHandler([&](std::int32_t) { finished = true; });
//   runner.Run(...);
//   loop.RunUntil([&] { return finished; }, EventLoop::kForever);
//
// Thread-safety: Post and PostDelayed from any thread; everything else on the
// owner thread. The loop must outlive every object that posts to it.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <deque>

namespace pramble::sqlhost {

class EventLoop {
 public:
  using Task = std::function<void()>;
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kForever = std::chrono::milliseconds::max();

  EventLoop();  // throws host::HostError when its wake-up pipe cannot be made
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Queues `task` to run on the owner thread. Never blocks on the owner.
  void Post(Task task);
  // Queues `task` to run once `delay` has passed.
  void PostDelayed(std::chrono::milliseconds delay, Task task);

  // Runs every task that is ready; when none is, waits up to `timeout` for
  // one and runs what is then ready. True when at least one task ran.
  bool RunOnce(std::chrono::milliseconds timeout);
  // Runs tasks until `done()` is true or `timeout` has passed; answers done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // From now on SIGINT and SIGTERM call `handler(signal number)` on the owner
  // thread, as a task, instead of ending the process. One loop at a time may
  // watch signals (host::HostError otherwise). The previous dispositions come
  // back with UnwatchSignals or when the loop is destroyed.
  void WatchSignals(std::function<void(int)> handler);
  void UnwatchSignals();

 private:
  void Wake();
  void DrainWakePipe();
  void DispatchSignals();
  bool RunReady();

  int wake_read_ = -1;
  int wake_write_ = -1;
  int signal_read_ = -1;
  int signal_write_ = -1;
  std::function<void(int)> signal_handler_;
  struct sigaction old_sigint_{};
  struct sigaction old_sigterm_{};

  std::mutex mutex_;
  std::deque<Task> ready_;                                // guarded by mutex_
  std::multimap<Clock::time_point, Task> delayed_;        // guarded by mutex_
};

}  // namespace pramble::sqlhost
