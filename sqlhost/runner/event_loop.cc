#include "sqlhost/runner/event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <system_error>
#include <vector>

#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

// The write end of the signal pipe of the loop that watches signals; -1 when
// none does. Read by the signal handler, so a lock-free atomic.
std::atomic<int> g_signal_write_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void WriteSignalToPipe(int signal_number) {
  const int saved_errno = errno;
  const int fd = g_signal_write_fd.load();
  if (fd >= 0) {
    const auto byte = static_cast<unsigned char>(signal_number);
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved_errno;
}

void MakePipe(int& read_fd, int& write_fd, const char* what) {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
    throw host::HostError(host::kErrPathFileAccess,
                          std::string("cannot create the event loop's ") + what + " pipe: " +
                              std::generic_category().message(errno));
  read_fd = fds[0];
  write_fd = fds[1];
}

void ClosePipe(int& read_fd, int& write_fd) {
  if (read_fd >= 0) ::close(read_fd);
  if (write_fd >= 0) ::close(write_fd);
  read_fd = write_fd = -1;
}

// Milliseconds from now to `until` for poll, rounded up.
int PollTimeout(EventLoop::Clock::time_point until) {
  const auto now = EventLoop::Clock::now();
  if (until <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

EventLoop::EventLoop() { MakePipe(wake_read_, wake_write_, "wake-up"); }

EventLoop::~EventLoop() {
  UnwatchSignals();
  ClosePipe(wake_read_, wake_write_);
}

void EventLoop::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.push_back(std::move(task));
  }
  Wake();
}

void EventLoop::PostDelayed(std::chrono::milliseconds delay, Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    delayed_.emplace(Clock::now() + delay, std::move(task));
  }
  Wake();
}

void EventLoop::Wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing is lost.
  [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);
}

void EventLoop::DrainWakePipe() {
  char buf[256];
  while (::read(wake_read_, buf, sizeof buf) > 0) {
  }
}

void EventLoop::DispatchSignals() {
  if (signal_read_ < 0) return;
  unsigned char buf[64];
  ssize_t n;
  while ((n = ::read(signal_read_, buf, sizeof buf)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      const int signal_number = buf[i];
      // Queued as ordinary tasks so that they run in order with the others.
      std::lock_guard<std::mutex> lock(mutex_);
      ready_.push_back([this, signal_number] {
        if (signal_handler_) signal_handler_(signal_number);
      });
    }
  }
}

bool EventLoop::RunReady() {
  std::deque<Task> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(ready_);
    const auto now = Clock::now();
    while (!delayed_.empty() && delayed_.begin()->first <= now) {
      batch.push_back(std::move(delayed_.begin()->second));
      delayed_.erase(delayed_.begin());
    }
  }
  if (batch.empty()) return false;
  while (!batch.empty()) {
    Task task = std::move(batch.front());
    batch.pop_front();
    try {
      task();
    } catch (...) {
      // The tasks not yet run keep their place at the head of the queue.
      std::lock_guard<std::mutex> lock(mutex_);
      ready_.insert(ready_.begin(), std::make_move_iterator(batch.begin()),
                    std::make_move_iterator(batch.end()));
      throw;
    }
  }
  return true;
}

bool EventLoop::RunOnce(std::chrono::milliseconds timeout) {
  const bool forever = timeout == kForever;
  const auto deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  for (;;) {
    DrainWakePipe();
    DispatchSignals();
    if (RunReady()) return true;
    Clock::time_point until = deadline;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!delayed_.empty() && delayed_.begin()->first < until) until = delayed_.begin()->first;
    }
    if (!forever && Clock::now() >= deadline) return false;
    pollfd fds[2] = {{wake_read_, POLLIN, 0}, {signal_read_, POLLIN, 0}};
    const nfds_t count = signal_read_ >= 0 ? 2 : 1;
    const int wait = until == Clock::time_point::max() ? -1 : PollTimeout(until);
    if (::poll(fds, count, wait) < 0 && errno != EINTR)
      throw host::HostError(host::kErrPathFileAccess,
                            "the event loop cannot wait: " +
                                std::generic_category().message(errno));
  }
}

bool EventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const bool forever = timeout == kForever;
  const auto deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  while (!done()) {
    const auto now = Clock::now();
    if (!forever && now >= deadline) return false;
    RunOnce(forever ? kForever
                    : std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
  }
  return true;
}

void EventLoop::WatchSignals(std::function<void(int)> handler) {
  if (signal_read_ >= 0) {
    signal_handler_ = std::move(handler);
    return;
  }
  int read_fd = -1, write_fd = -1;
  MakePipe(read_fd, write_fd, "signal");
  int expected = -1;
  if (!g_signal_write_fd.compare_exchange_strong(expected, write_fd)) {
    ClosePipe(read_fd, write_fd);
    throw host::HostError(host::kErrPathFileAccess,
                          "another event loop already watches SIGINT and SIGTERM");
  }
  signal_read_ = read_fd;
  signal_write_ = write_fd;
  signal_handler_ = std::move(handler);
  struct sigaction action {};
  action.sa_handler = WriteSignalToPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &old_sigint_);
  ::sigaction(SIGTERM, &action, &old_sigterm_);
}

void EventLoop::UnwatchSignals() {
  if (signal_read_ < 0) return;
  ::sigaction(SIGINT, &old_sigint_, nullptr);
  ::sigaction(SIGTERM, &old_sigterm_, nullptr);
  g_signal_write_fd.store(-1);
  ClosePipe(signal_read_, signal_write_);
  signal_handler_ = nullptr;
}

}  // namespace pramble::sqlhost
