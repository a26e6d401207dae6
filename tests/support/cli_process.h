// Test support: the real `pramble` binary (PRAMBLE_CLI) as a child process,
// with extra environment, a folder to run in and, optionally, a tmpfs of its
// own. Its standard output and error go to anonymous files that the test
// reads while it runs and when it has ended.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace pramble::testing {

// A tmpfs mounted over `target` in a mount namespace that pramble and R alone
// see; a child that cannot have it exits with kNoNamespace.
struct PrivateTmpfs {
  std::string target, options;  // options e.g. "size=36k"
  bool read_only = false;
};
inline constexpr int kNoNamespace = 77;

struct Outcome {
  int code = -1;  // exit code; -1 when the process did not exit normally
  std::string out, err;
};

class Pramble {
 public:
  // `env`: "NAME=VALUE" entries that replace or add to this process's.
  // `program`: another pramble binary than the one built here.
  explicit Pramble(std::vector<std::string> args, std::vector<std::string> env = {},
                   const PrivateTmpfs* tmpfs = nullptr, const std::string& cwd = "",
                   const std::string& program = PRAMBLE_CLI) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string uid_map = "0 " + std::to_string(getuid()) + " 1\n";
    const std::string gid_map = "0 " + std::to_string(getgid()) + " 1\n";
    out_ = memfd_create("out", MFD_CLOEXEC);
    err_ = memfd_create("err", MFD_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(out_, 1);
      dup2(err_, 2);
      for (std::string& e : env) putenv(e.data());
      if (tmpfs != nullptr) Mount(*tmpfs, uid_map, gid_map);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Pramble() {
    if (!reaped_) kill(pid_, SIGKILL);
    Wait();
    close(out_);
    close(err_);
  }
  Pramble(const Pramble&) = delete;
  Pramble& operator=(const Pramble&) = delete;

  pid_t pid() const { return pid_; }
  // Whether the process has ended (it is not reaped here).
  bool Exited() const {
    siginfo_t info{};
    return reaped_ ||
           (waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_);
  }
  std::string Err() const { return Contents(err_); }  // so far

  // Reaps the process and answers what it wrote and its exit code.
  const Outcome& Wait() {
    int status = 0;
    while (!reaped_ && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (!reaped_) outcome_ = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Contents(out_), Err()};
    reaped_ = true;
    return outcome_;
  }

  // The first line of standard error that satisfies `wanted`, as soon as it
  // is written; "" when the process ended without one.
  std::string WaitForErrLine(const std::function<bool(const std::string&)>& wanted) {
    for (;;) {
      const bool ended = Exited();
      const std::string err = Err();
      for (std::size_t b = 0, e; (e = err.find('\n', b)) != std::string::npos; b = e + 1)
        if (wanted(err.substr(b, e - b))) return err.substr(b, e - b);
      if (ended) return "";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  static std::string Contents(int fd) {
    std::string text;
    char buf[8192];
    for (ssize_t n; (n = pread(fd, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0;)
      text.append(buf, static_cast<std::size_t>(n));
    return text;
  }

  // In the child, before exec: a mount namespace (a user namespace too when
  // not root), private propagation, and the tmpfs.
  static void Mount(const PrivateTmpfs& t, const std::string& uid_map, const std::string& gid_map) {
    auto put = [](const char* file, const std::string& text) {
      const int fd = open(file, O_WRONLY);
      return fd >= 0 && write(fd, text.data(), text.size()) >= 0 && close(fd) == 0;
    };
    const bool ok =
        (unshare(CLONE_NEWNS) == 0 ||
         (unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && put("/proc/self/setgroups", "deny") &&
          put("/proc/self/uid_map", uid_map) && put("/proc/self/gid_map", gid_map))) &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount("tmpfs", t.target.c_str(), "tmpfs", t.read_only ? MS_RDONLY : 0,
              t.options.c_str()) == 0;
    if (!ok) _exit(kNoNamespace);
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool reaped_ = false;
  Outcome outcome_;
};

inline Outcome RunPramble(std::vector<std::string> args, std::vector<std::string> env = {},
                          const std::string& cwd = "", const std::string& program = PRAMBLE_CLI) {
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
