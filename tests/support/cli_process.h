// Test support: the real `pramble` binary as a child process whose standard
// output and error are read as they come, with extra environment and,
// optionally, inside a private mount namespace with a tmpfs of its own; and
// the command folder that a run's log names.
// REQUIRES: the test program is built with PRAMBLE_CLI (the binary's path).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pramble::testing {

// A tmpfs that the child mounts over `target` in a mount namespace of its
// own before it becomes pramble; R, started by pramble, sees it too, and it
// goes with the last process of the namespace.
struct PrivateTmpfs {
  std::string target;
  std::string options;  // e.g. "size=36k"
  bool read_only = false;
};

// The exit code a child gives when the namespace or the mount cannot be had.
inline constexpr int kNoNamespace = 77;

struct Outcome {
  int code = -1;  // exit code; -1 when the process did not exit normally
  std::string out, err;
};

// `pramble ARGS...` as a child process; its standard output and error are
// read as they come (Wait, WaitAll).
class Pramble {
 public:
  // `cwd`: the folder the child runs in ("" for this process's own).
  // `program`: another pramble binary than the one built here ("" for it).
  explicit Pramble(std::vector<std::string> args, std::vector<std::string> env = {},
                   const PrivateTmpfs* tmpfs = nullptr, const std::string& cwd = "",
                   const std::string& program = "") {
    // Everything the child needs is made before fork.
    std::vector<std::string> argv_s = {program.empty() ? std::string(PRAMBLE_CLI) : program};
    for (auto& a : args) argv_s.push_back(std::move(a));
    std::vector<std::string> env_s;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const std::string& extra : env)
        replaced =
            replaced || entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
      if (!replaced) env_s.push_back(entry);
    }
    for (const std::string& extra : env) env_s.push_back(extra);
    std::vector<char*> argv, envp;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string uid_map = "0 " + std::to_string(getuid()) + " 1\n";
    const std::string gid_map = "0 " + std::to_string(getgid()) + " 1\n";

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      dup2(null_fd, 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      if (tmpfs != nullptr) MountInChild(*tmpfs, uid_map, gid_map);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(null_fd);
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
  }
  ~Pramble() {
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Pramble(const Pramble&) = delete;
  Pramble& operator=(const Pramble&) = delete;

  pid_t pid() const { return pid_; }
  // Whether the process has ended (it is not reaped here).
  bool Exited() const {
    if (reaped_) return true;
    siginfo_t info{};
    return waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
  }
  const Outcome& outcome() const { return outcome_; }

  // Reads both streams of every process in `all` until they close, calling
  // `on_err_line(i, line)` for each line of standard error of process i, and
  // reaps them.
  static void WaitAll(const std::vector<Pramble*>& all,
                      const std::function<void(std::size_t, const std::string&)>& on_err_line) {
    Pump(all, on_err_line, nullptr);
    for (Pramble* p : all) p->Reap();
  }

  Outcome Wait(const std::function<void(const std::string&)>& on_err_line = nullptr) {
    WaitAll({this}, [&](std::size_t, const std::string& line) {
      if (on_err_line) on_err_line(line);
    });
    return outcome_;
  }

  // Reads this process's streams until a line of standard error satisfies
  // `wanted`, and answers it; "" when the streams closed first.
  std::string WaitForErrLine(const std::function<bool(const std::string&)>& wanted) {
    std::optional<std::string> found;
    Pump(
        {this},
        [&](std::size_t, const std::string& line) {
          if (!found && wanted(line)) found = line;
        },
        [&] { return found.has_value(); });
    return found.value_or("");
  }

 private:
  static void Pump(const std::vector<Pramble*>& all,
                   const std::function<void(std::size_t, const std::string&)>& on_err_line,
                   const std::function<bool()>& until) {
    for (;;) {
      if (until && until()) return;
      std::vector<pollfd> fds;
      std::vector<std::pair<std::size_t, bool>> owner;  // process, is stderr
      for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]->out_fd_ >= 0) {
          fds.push_back({all[i]->out_fd_, POLLIN, 0});
          owner.emplace_back(i, false);
        }
        if (all[i]->err_fd_ >= 0) {
          fds.push_back({all[i]->err_fd_, POLLIN, 0});
          owner.emplace_back(i, true);
        }
      }
      if (fds.empty()) return;
      if (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error("poll failed");
      }
      for (std::size_t k = 0; k < fds.size(); ++k) {
        if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        auto [i, is_err] = owner[k];
        Pramble& p = *all[i];
        char buf[4096];
        const ssize_t n = read(fds[k].fd, buf, sizeof buf);
        if (n <= 0) {
          close(fds[k].fd);
          (is_err ? p.err_fd_ : p.out_fd_) = -1;
          continue;
        }
        if (!is_err) {
          p.outcome_.out.append(buf, n);
          continue;
        }
        p.outcome_.err.append(buf, n);
        p.pending_err_.append(buf, n);
        for (std::size_t nl; (nl = p.pending_err_.find('\n')) != std::string::npos;) {
          const std::string line = p.pending_err_.substr(0, nl);
          p.pending_err_.erase(0, nl + 1);
          if (on_err_line) on_err_line(i, line);
        }
      }
    }
  }

  // In the child, before exec: a mount namespace (a user namespace too when
  // not root), private propagation, and the tmpfs.
  static void MountInChild(const PrivateTmpfs& t, const std::string& uid_map,
                           const std::string& gid_map) {
    auto fail = [](const char* what) {
      const char* reason = strerror(errno);
      (void)!write(2, what, strlen(what));
      (void)!write(2, ": ", 2);
      (void)!write(2, reason, strlen(reason));
      (void)!write(2, "\n", 1);
      _exit(kNoNamespace);
    };
    if (unshare(CLONE_NEWNS) != 0) {
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail("unshare");
      auto put = [&](const char* file, const std::string& text) {
        const int fd = open(file, O_WRONLY);
        if (fd < 0 || write(fd, text.data(), text.size()) < 0) fail(file);
        close(fd);
      };
      put("/proc/self/setgroups", "deny");
      put("/proc/self/uid_map", uid_map);
      put("/proc/self/gid_map", gid_map);
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      fail("mount --make-rprivate /");
    if (mount("tmpfs", t.target.c_str(), "tmpfs", t.read_only ? MS_RDONLY : 0, t.options.c_str()) !=
        0)
      fail("mount tmpfs");
  }

  void Reap() {
    if (reaped_) return;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    outcome_.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1, err_fd_ = -1;
  bool reaped_ = false;
  std::string pending_err_;
  Outcome outcome_;
};

inline Outcome RunPramble(std::vector<std::string> args, std::vector<std::string> env = {},
                          const std::string& cwd = "", const std::string& program = "") {
  return Pramble(std::move(args), std::move(env), nullptr, cwd, program).Wait();
}

// The command folder of a run, as its log names it on R's command line
// ("... -f '/tmp/pramble-.../in.r'"); "" when the log names none.
inline std::string CommandFolderOf(const std::string& log) {
  const auto f = log.find(" -f ");
  if (f == std::string::npos) return "";
  std::string path = log.substr(f + 4, log.find('\n', f) - f - 4);
  if (!path.empty() && path.front() == '\'') path = path.substr(1, path.size() - 2);
  return std::filesystem::path(path).parent_path().string();
}

}  // namespace pramble::testing
