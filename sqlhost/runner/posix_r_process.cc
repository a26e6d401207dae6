#include "sqlhost/runner/posix_r_process.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "pramble/host/errors.h"
#include "pramble/host/value.h"

extern char** environ;

namespace pramble::sqlhost {

struct PosixRProcess::State {
  std::mutex mutex;
  pid_t pid = -1;               // R's process ID and process group
  bool exited = false;          // R has ended; set before it is reaped
  bool stop_requested = false;
  bool alive = true;            // the runner still exists
  bool delivered = false;       // RunFinished was called
};

namespace {

std::string Reason(int err) { return std::generic_category().message(err); }

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// `name` itself when it holds a "/", else the first executable of that name
// in a folder of the PATH; "" when there is none.
std::string FindExecutable(const std::string& name) {
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : "";
  const char* env = std::getenv("PATH");
  const std::string path = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const auto end = path.find(':', start);
    std::string folder = path.substr(start, end == std::string::npos ? end : end - start);
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    if (end == std::string::npos) return "";
    start = end + 1;
  }
}

bool MakeFolders(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  passwd pw{};
  passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr)
    return found->pw_dir;
  return "";
}

// The folder of the log file when its file system has no room left: what R
// wrote there (its log, the results and statistics files) may then be cut
// short although R ended as if all was well, for R does not fail on a full
// disk. "" when there is room (or the question cannot be answered).
std::string FullFolderOf(const std::string& log_file) {
  const std::size_t slash = log_file.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0                ? "/"
                                                         : log_file.substr(0, slash);
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return "";
  const bool full = ::geteuid() == 0 ? st.f_bfree == 0 : st.f_bavail == 0;
  return full ? folder : "";
}

// True when the log file holds R's warning header ("Warning message:" or
// "Warning messages:"), which R writes when a session had warnings.
bool LogReportsWarnings(const std::string& log_file) {
  static constexpr char kHeader[] = "Warning message";
  constexpr std::size_t kHeaderSize = sizeof kHeader - 1;
  const int fd = ::open(log_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string window;
  char buf[64 * 1024];
  bool found = false;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    window.append(buf, static_cast<std::size_t>(n));
    if (window.find(kHeader) != std::string::npos) {
      found = true;
      break;
    }
    if (window.size() > kHeaderSize) window.erase(0, window.size() - kHeaderSize);
  }
  ::close(fd);
  return found;
}

// A descriptor at 3 or above, so that the child's dup2 onto 0, 1 and 2 never
// overwrites it.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

// What the child reports through the pipe when it cannot exec R.
struct ChildFailure {
  int stage;  // kStageFolder, kStageStreams, kStageExec
  int error;
};
constexpr int kStageFolder = 1;
constexpr int kStageStreams = 2;
constexpr int kStageExec = 3;

// In the child, between fork and exec: async-signal-safe calls only.
[[noreturn]] void ChildReport(int pipe_fd, int stage) {
  const ChildFailure failure{stage, errno};
  [[maybe_unused]] const ssize_t n = ::write(pipe_fd, &failure, sizeof failure);
  ::_exit(127);
}

[[noreturn]] void ExecChild(const char* path, char* const argv[], char* const envp[],
                            const char* folder, int stdin_fd, int log_fd, int pipe_fd) {
  ::setpgid(0, 0);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (::chdir(folder) != 0) ChildReport(pipe_fd, kStageFolder);
  if (::dup2(stdin_fd, 0) < 0 || ::dup2(log_fd, 1) < 0 || ::dup2(log_fd, 2) < 0)
    ChildReport(pipe_fd, kStageStreams);
  ::execve(path, argv, envp);
  ChildReport(pipe_fd, kStageExec);
}

}  // namespace

std::string RLibraryFolder() {
  const char* own = std::getenv("PRAMBLE_R_LIBRARY");
  std::string folder;
  if (own != nullptr && *own != '\0') {
    folder = own;
  } else {
    const char* user = std::getenv("R_LIBS_USER");
    if (user != nullptr && *user != '\0') return "";
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && data_home[0] == '/') {
      folder = data_home;
    } else {
      const std::string home = HomeFolder();
      if (home.empty()) return "";
      folder = home + "/.local/share";
    }
    folder += "/pramble/R-library";
  }
  return MakeFolders(folder) ? folder : "";
}

std::string ShellCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    const bool plain =
        !arg.empty() && arg.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                              "0123456789_./:=+,@%-") == std::string::npos;
    if (plain) {
      line += arg;
      continue;
    }
    line += '\'';
    for (const char c : arg) {
      if (c == '\'')
        line += "'\\''";
      else
        line += c;
    }
    line += '\'';
  }
  return line;
}

PosixRProcess::PosixRProcess(EventLoop& loop) : loop_(loop), state_(std::make_shared<State>()) {}

PosixRProcess::~PosixRProcess() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->alive = false;
    if (state_->pid > 0 && !state_->exited) ::kill(-state_->pid, SIGKILL);
  }
  if (waiter_.joinable()) waiter_.join();
}

pid_t PosixRProcess::ProcessGroup() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->pid;
}

std::string PosixRProcess::GetEnginePath(host::ProjectDatabase& project) {
  error_message_.clear();
  std::string configured;
  try {
    configured = host::ToText(project.Settings().GetSetting(
        host::kSettingScopeProject, host::kSettingText, "R", "EnginePath"));
  } catch (const host::HostError& e) {
    error_message_ = "R could not be found: the setting R/EnginePath cannot be read: " +
                     e.description();
    return "";
  }
  const auto begin = configured.find_first_not_of(" \t");
  configured = begin == std::string::npos
                   ? ""
                   : configured.substr(begin, configured.find_last_not_of(" \t") - begin + 1);
  if (!configured.empty()) {
    std::string path = FindExecutable(configured);
    if (path.empty())
      error_message_ = "R could not be found: the setting R/EnginePath names '" + configured +
                       "', which is not an executable file. Set it to the R program (for "
                       "example: pramble settings DIR set R EnginePath /usr/bin/R) or clear "
                       "it to use R from the PATH.";
    return path;
  }
  std::string path = FindExecutable("R");
  if (path.empty())
    error_message_ =
        "R could not be found on the PATH. Install R (the Debian package r-base-core) or set "
        "the setting R/EnginePath to the R program (for example: pramble settings DIR set R "
        "EnginePath /usr/bin/R).";
  return path;
}

void PosixRProcess::PostStartFailure(const std::string& message) {
  RunEnd end;
  end.how = RunEnd::How::kNotStarted;
  end.start_failure = message;
  loop_.Post([state = state_, runner = this, end] { Deliver(state, runner, end); });
}

void PosixRProcess::Deliver(const std::shared_ptr<State>& state, PosixRProcess* runner,
                            RunEnd end) {
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->alive || state->delivered) return;
    state->delivered = true;
    end.stop_requested = state->stop_requested;
  }
  const RunOutcome outcome = DecideRunOutcome(end);
  const std::int32_t status = outcome.status;
  runner->error_message_ = outcome.message;
  // The handler may destroy the runner: nothing of it is touched afterwards.
  RunFinishedHandler handler = runner->handler_;
  if (handler) handler(status);
}

void PosixRProcess::Run(const std::string& engine_path, const std::string& folder,
                       const std::string& command_file, const std::string& log_file) {
  if (run_called_)
    throw host::HostError(5, "Invalid procedure call: Run was called twice on one R process runner");
  run_called_ = true;
  error_message_.clear();
  const std::vector<std::string> args = {engine_path, "--no-save", "--no-restore", "-f",
                                         command_file};
  command_line_ = ShellCommandLine(args);

  const std::string program = FindExecutable(engine_path);
  if (program.empty()) {
    PostStartFailure(engine_path.find('/') == std::string::npos
                         ? "cannot find '" + engine_path + "' on the PATH"
                         : "cannot run '" + engine_path + "': " +
                               Reason(::access(engine_path.c_str(), F_OK) == 0 ? EACCES : ENOENT));
    return;
  }
  const int log_fd = AboveStandardStreams(
      ::open(log_file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (log_fd < 0) {
    PostStartFailure("cannot open the log file '" + log_file + "': " + Reason(errno));
    return;
  }
  const int null_fd = AboveStandardStreams(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  int pipe_fds[2] = {-1, -1};
  if (null_fd < 0 || ::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    const int err = errno;
    ::close(log_fd);
    if (null_fd >= 0) ::close(null_fd);
    PostStartFailure("cannot prepare its input: " + Reason(err));
    return;
  }

  // Everything the child needs is made before fork: it may not allocate.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("R_LIBS_USER=", 0) == 0 || entry.rfind("LANGUAGE=", 0) == 0) continue;
    env_strings.push_back(entry);
  }
  const char* user_library = std::getenv("R_LIBS_USER");
  const std::string library = RLibraryFolder();
  if (!library.empty())
    env_strings.push_back("R_LIBS_USER=" + library);
  else if (user_library != nullptr)
    env_strings.push_back(std::string("R_LIBS_USER=") + user_library);
  env_strings.push_back("LANGUAGE=en");
  std::vector<char*> envp;
  for (std::string& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arg_strings = args;
  arg_strings[0] = program;
  std::vector<char*> argv;
  for (std::string& arg : arg_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // Signals stay blocked across fork so that no handler of the host runs in
  // the child before it resets them.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t pid = ::fork();
  if (pid == 0)
    ExecChild(program.c_str(), argv.data(), envp.data(), folder.c_str(), null_fd, log_fd,
              pipe_fds[1]);
  const int fork_error = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ::close(pipe_fds[1]);
  ::close(log_fd);
  ::close(null_fd);
  if (pid < 0) {
    ::close(pipe_fds[0]);
    PostStartFailure("cannot create a process: " + Reason(fork_error));
    return;
  }
  ::setpgid(pid, pid);  // also here, so that the group exists before StopRun can come

  ChildFailure failure{};
  ssize_t n;
  do n = ::read(pipe_fds[0], &failure, sizeof failure);
  while (n < 0 && errno == EINTR);
  ::close(pipe_fds[0]);
  if (n == static_cast<ssize_t>(sizeof failure)) {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    switch (failure.stage) {
      case kStageFolder:
        PostStartFailure("cannot change to the folder '" + folder + "': " + Reason(failure.error));
        break;
      case kStageStreams:
        PostStartFailure("cannot redirect its output to '" + log_file + "': " +
                         Reason(failure.error));
        break;
      default:
        PostStartFailure("cannot run '" + program + "': " + Reason(failure.error));
    }
    return;
  }

  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->pid = pid;
  }
  waiter_ = std::thread([state = state_, loop = &loop_, runner = this, pid, log_file] {
    RunEnd end;
    siginfo_t info{};
    int rc;
    do rc = ::waitid(P_PID, pid, &info, WEXITED | WNOWAIT);
    while (rc != 0 && errno == EINTR);
    const int wait_error = rc != 0 ? errno : 0;
    {
      // R has ended but is not reaped yet, so its process group cannot have
      // been taken over: after a stop, the rest of the group goes too.
      std::lock_guard<std::mutex> lock(state->mutex);
      state->exited = true;
      if (state->stop_requested && rc == 0) ::kill(-pid, SIGKILL);
    }
    int status = 0;
    if (rc == 0) {
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    if (rc != 0) {
      end.how = RunEnd::How::kWaitFailed;
      end.value = wait_error;
    } else if (WIFEXITED(status)) {
      end.how = RunEnd::How::kExited;
      end.value = WEXITSTATUS(status);
      end.log_reports_warnings = end.value == 0 && LogReportsWarnings(log_file);
      end.full_folder = FullFolderOf(log_file);
    } else if (WIFSIGNALED(status)) {
      end.how = RunEnd::How::kSignaled;
      end.value = WTERMSIG(status);
    } else {
      end.how = RunEnd::How::kOther;
      end.value = status;
    }
    loop->Post([state, runner, end] { Deliver(state, runner, end); });
  });
}

void PosixRProcess::StopRun() {
  pid_t pid;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!run_called_ || state_->delivered || state_->stop_requested) return;
    state_->stop_requested = true;
    pid = state_->pid;
    if (pid > 0 && !state_->exited) ::kill(-pid, SIGTERM);
  }
  if (pid <= 0) return;
  loop_.PostDelayed(stop_grace_, [state = state_] {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->exited) ::kill(-state->pid, SIGKILL);
  });
}

}  // namespace pramble::sqlhost
