#include "sqlhost/cli/parallel_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "pramble/host/dao.h"
#include "pramble/host/value.h"
#include "sqlhost/cli/exit_codes.h"
#include "sqlhost/project/project.h"
#include "sqlhost/util/results_utilities.h"

extern char** environ;

namespace pramble::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 200;                         // how soon an ended child is noticed
constexpr auto kRedrawEvery = std::chrono::seconds(1);  // live lines' elapsed time

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f s", s);
  return buf;
}

std::string Label(const ParallelItem& item) {
  return "item " + std::to_string(item.id) + " (" + item.name + ")";
}

// The status number of a line "status N Text"; nullopt for any other line.
std::optional<std::int32_t> StatusOfLine(const std::string& line) {
  constexpr std::string_view kPrefix = "status ";
  if (line.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
  std::int32_t status = 0;
  const char* begin = line.data() + kPrefix.size();
  const char* end = line.data() + line.size();
  const auto [p, ec] = std::from_chars(begin, end, status);
  if (ec != std::errc() || (p != end && *p != ' ')) return std::nullopt;
  return status;
}

// One item's child process and what it has shown.
struct Child {
  ParallelOutcome* outcome = nullptr;
  pid_t pid = -1;
  int pipe = -1;        // the read end of the child's output; -1 once closed
  std::string partial;  // an unfinished line
  std::string state;    // the last status line
  Clock::time_point start;
  bool running = false;
};

class Runner {
 public:
  Runner(const std::string& dir, const ParallelRunOptions& options, std::ostream& progress)
      : dir_(dir), options_(options), progress_(progress) {}

  ParallelRunResult Run(const std::vector<ParallelItem>& items);

 private:
  void Start(Child& c);
  void ReadFrom(Child& c);
  void TakeLine(Child& c, const std::string& line);
  void End(Child& c, int wait_status);
  void ReapEnded();
  void TakeSignals();
  void Message(const std::string& text);
  void Redraw();
  std::string LiveLine(const Child& c) const;

  const std::string dir_;
  const ParallelRunOptions options_;
  std::ostream& progress_;
  ParallelRunResult result_;
  std::vector<Child> children_;
  std::size_t running_ = 0;
  int signal_fd_ = -1;
  std::size_t drawn_ = 0;  // live lines on the screen below the cursor's line
  bool dirty_ = false;
  Clock::time_point drawn_at_;
};

ParallelRunResult Runner::Run(const std::vector<ParallelItem>& items) {
  result_.items.resize(items.size());
  children_.resize(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    result_.items[i].item = items[i];
    children_[i].outcome = &result_.items[i];
  }
  sigset_t stop_signals, old_mask;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, &old_mask);
  signal_fd_ = signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);

  const unsigned jobs = std::max(1u, options_.jobs);
  std::size_t next = 0;
  if (options_.live) Redraw();
  for (;;) {
    while (!result_.stopped && running_ < jobs && next < children_.size()) Start(children_[next++]);
    if (running_ == 0) break;
    std::vector<pollfd> fds{{signal_fd_, POLLIN, 0}};
    std::vector<Child*> polled;
    for (Child& c : children_) {
      if (c.running && c.pipe >= 0) {
        fds.push_back({c.pipe, POLLIN, 0});
        polled.push_back(&c);
      }
    }
    if (::poll(fds.data(), fds.size(), kPollMs) > 0) {
      if (fds[0].revents != 0) TakeSignals();
      for (std::size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents != 0) ReadFrom(*polled[i - 1]);
    }
    ReapEnded();
    if (options_.live && (dirty_ || Clock::now() - drawn_at_ >= kRedrawEvery)) Redraw();
  }
  if (options_.live) Redraw();

  // A signal that came after the last child ended is taken here, not left
  // pending for when the mask is restored.
  signalfd_siginfo info;
  while (::read(signal_fd_, &info, sizeof info) == sizeof info) {
  }
  ::close(signal_fd_);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);

  for (const ParallelOutcome& o : result_.items)
    result_.exit_code = std::max(result_.exit_code, o.exit_code);
  if (result_.stopped) result_.exit_code = std::max(result_.exit_code, kExitRunStopped);
  return result_;
}

// Starts `pramble run DIR ITEM --quiet` with its standard output and error on
// one pipe, in a process group of its own (a terminal's Ctrl-C reaches this
// process alone, which hands it on), with the signals as a fresh process has
// them.
void Runner::Start(Child& c) {
  c.outcome->started = true;
  c.start = Clock::now();
  dirty_ = true;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    Message(Label(c.outcome->item) + ": cannot start its run: " + std::strerror(errno));
    c.outcome->exit_code = kExitComponentError;
    return;
  }
  std::vector<std::string> args{"pramble", "run", dir_, std::to_string(c.outcome->item.id),
                                "--quiet"};
  if (options_.debug) args.push_back("--debug");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int s : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  const int error = ::posix_spawn(&c.pid, "/proc/self/exe", &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (error != 0) {
    ::close(fds[0]);
    Message(Label(c.outcome->item) + ": cannot start its run: " + std::strerror(error));
    c.outcome->exit_code = kExitComponentError;
    return;
  }
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  c.pipe = fds[0];
  c.running = true;
  ++running_;
}

// Reads what the child has written so far; closes the pipe at its end.
void Runner::ReadFrom(Child& c) {
  char buf[4096];
  while (c.pipe >= 0) {
    const ssize_t n = ::read(c.pipe, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {
      ::close(c.pipe);
      c.pipe = -1;
      if (!c.partial.empty()) TakeLine(c, c.partial);
      c.partial.clear();
      return;
    }
    c.partial.append(buf, static_cast<std::size_t>(n));
    for (std::size_t e; (e = c.partial.find('\n')) != std::string::npos;) {
      const std::string line = c.partial.substr(0, e);
      c.partial.erase(0, e + 1);
      TakeLine(c, line);
    }
  }
}

void Runner::TakeLine(Child& c, const std::string& line) {
  const std::optional<std::int32_t> status = StatusOfLine(line);
  if (!status) {
    Message(Label(c.outcome->item) + ": " + line);
    return;
  }
  c.outcome->last_status = *status;
  c.state = line;
  dirty_ = true;
  if (!options_.live) {
    const double s = std::chrono::duration<double>(Clock::now() - c.start).count();
    progress_ << Label(c.outcome->item) << ": " << line << " (" << Seconds(s) << ")"
              << std::endl;
  }
}

void Runner::End(Child& c, int wait_status) {
  if (c.pipe >= 0) {
    // Whatever the child wrote last; a process it left behind that still
    // holds the pipe is not waited for.
    ReadFrom(c);
    if (c.pipe >= 0) ::close(c.pipe);
    c.pipe = -1;
    if (!c.partial.empty()) TakeLine(c, c.partial);
  }
  c.running = false;
  --running_;
  dirty_ = true;
  c.outcome->seconds = std::chrono::duration<double>(Clock::now() - c.start).count();
  if (WIFEXITED(wait_status)) {
    c.outcome->exit_code = WEXITSTATUS(wait_status);
    return;
  }
  const int sig = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  // A stop signal that came before the child could watch for it ended it
  // before its run began.
  const bool stop = result_.stopped && (sig == SIGINT || sig == SIGTERM);
  c.outcome->exit_code = stop ? kExitRunStopped : kExitComponentError;
  if (!stop) {
    Message(Label(c.outcome->item) + ": its run ended by signal " + std::to_string(sig) + " (" +
            strsignal(sig) + "); see pramble status and pramble log");
  }
}

void Runner::ReapEnded() {
  for (Child& c : children_) {
    int wait_status = 0;
    if (c.running && ::waitpid(c.pid, &wait_status, WNOHANG) == c.pid) End(c, wait_status);
  }
}

// Hands each stop signal on to every running child; no more are started.
void Runner::TakeSignals() {
  signalfd_siginfo info;
  while (::read(signal_fd_, &info, sizeof info) == sizeof info) {
    const int sig = static_cast<int>(info.ssi_signo);
    std::size_t waiting = 0;
    for (Child& c : children_) {
      if (c.running) ::kill(c.pid, sig);
      if (!c.outcome->started) ++waiting;
    }
    if (!result_.stopped) {
      Message("pramble " + options_.command + ": stopping the " + std::to_string(running_) + " running item" +
              (running_ == 1 ? "" : "s") +
              (waiting == 0 ? "" : "; the " + std::to_string(waiting) +
                                       " not started are left as they are"));
    }
    result_.stopped = true;
  }
}

// A line above the live lines, or among the plain ones.
void Runner::Message(const std::string& text) {
  if (!options_.live) {
    progress_ << text << std::endl;
    return;
  }
  if (drawn_ > 0) progress_ << "\r\x1b[" << drawn_ << "A";
  progress_ << "\x1b[J" << text << "\n";
  drawn_ = 0;
  Redraw();
}

std::string Runner::LiveLine(const Child& c) const {
  const ParallelOutcome& o = *c.outcome;
  std::string line = Label(o.item) + ": ";
  if (!o.started) return line + (result_.stopped ? "not started" : "waiting");
  line += c.state.empty() ? "starting" : c.state;
  if (!c.running && o.exit_code != kExitOk &&
      (o.last_status < 0 || o.exit_code != ExitCodeOfFinalStatus(o.last_status)))
    line += ", exit " + std::to_string(o.exit_code);
  const double s = c.running ? std::chrono::duration<double>(Clock::now() - c.start).count()
                             : o.seconds;
  return line + " (" + Seconds(s) + ")";
}

// Draws the live lines afresh over the ones drawn before, each cut to the
// terminal's width so that none wraps.
void Runner::Redraw() {
  winsize ws{};
  const std::size_t width =
      ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col - 1 : 79;
  std::string text;
  if (drawn_ > 0) text += "\r\x1b[" + std::to_string(drawn_) + "A";
  text += "\x1b[J";
  for (const Child& c : children_) {
    std::string line = LiveLine(c);
    if (line.size() > width) {
      std::size_t cut = width;
      while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
      line.resize(cut);
    }
    text += line + "\n";
  }
  progress_ << text << std::flush;
  drawn_ = children_.size();
  dirty_ = false;
  drawn_at_ = Clock::now();
}

}  // namespace

unsigned DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

ParallelRunResult RunInParallel(const std::string& dir, const std::vector<ParallelItem>& items,
                                const ParallelRunOptions& options, std::ostream& progress) {
  return Runner(dir, options, progress).Run(items);
}

void PrintRunSummary(std::ostream& out, const std::string& dir, const ParallelRunResult& result) {
  std::shared_ptr<sqlhost::Project> project;
  try {
    project = sqlhost::Project::Open(dir);
  } catch (const std::exception&) {
    // The statuses the children reported stand in for the stored ones.
  }
  for (const ParallelOutcome& o : result.items) {
    std::int32_t status = o.last_status;
    if (project) {
      try {
        if (const auto item = project->FindItem(o.item.id)) status = item->status;
      } catch (const std::exception&) {
      }
    }
    out << Label(o.item) << ": ";
    if (status >= 0) out << "status " << status << " " << sqlhost::Project::StatusText(status);
    if (!o.started) {
      out << (status >= 0 ? ", " : "") << "not run this time\n";
      continue;
    }
    out << (status >= 0 ? ", " : "") << Seconds(o.seconds);
    if (o.exit_code != kExitOk) out << ", exit " << o.exit_code;
    out << "\n";
  }
  out << "The log of a run: pramble log " << dir << " ITEM\n";
  out.flush();
}

}  // namespace pramble::cli
