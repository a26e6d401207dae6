#include "bench/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace pramble::bench {
namespace {

std::string CommandText(const std::vector<std::string>& argv) {
  std::string text;
  for (const auto& a : argv) text += (text.empty() ? "" : " ") + a;
  return text;
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const std::string& stdout_file) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int out_fd = -1;
  int pipe_fds[2] = {-1, -1};
  if (!stdout_file.empty()) {
    out_fd = ::open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out_fd < 0)
      throw std::runtime_error("cannot create " + stdout_file + ": " + std::strerror(errno));
  } else if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  }

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("cannot fork: ") + std::strerror(errno));
  if (pid == 0) {
    ::dup2(out_fd >= 0 ? out_fd : pipe_fds[1], STDOUT_FILENO);
    ::execv(args[0], args.data());
    std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(errno));
    ::_exit(127);
  }

  std::string output;
  if (out_fd >= 0) {
    ::close(out_fd);
  } else {
    ::close(pipe_fds[1]);
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
      if (n > 0) output.append(buf, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR) break;
    }
    ::close(pipe_fds[0]);
  }

  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
  }
  ChildResult result;
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.max_rss_kb = usage.ru_maxrss;
  result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (result.exit_code != 0) {
    throw std::runtime_error("'" + CommandText(argv) + "' failed (" +
                             (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                                  : "exit code " + std::to_string(result.exit_code)) +
                             ")");
  }

  std::size_t b = 0;
  while (b < output.size()) {
    std::size_t e = output.find('\n', b);
    if (e == std::string::npos) e = output.size();
    const std::string line = output.substr(b, e - b);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) result.values[line.substr(0, eq)] = line.substr(eq + 1);
    b = e + 1;
  }
  return result;
}

double NumberValue(const ChildResult& result, const std::string& key) {
  auto it = result.values.find(key);
  if (it == result.values.end())
    throw std::runtime_error("the measurement did not report '" + key + "'");
  try {
    return std::stod(it->second);
  } catch (const std::exception&) {
    throw std::runtime_error("the measurement reported '" + key + "=" + it->second +
                             "', which is no number");
  }
}

}  // namespace pramble::bench
