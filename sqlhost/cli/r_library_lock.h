// The lock that keeps runs from loading the R package quox while another
// run installs it into the same R library: a run that installs holds the
// library's lock file (.pramble-install.lock in the library) exclusively,
// every other run shares it, each until R has ended. R's own install lock
// (00LOCK-<package>) makes a second install fail rather than wait, and a run
// that loads the package while another installs it finds it half there.
// docs/robustness.md describes the locks of the command line.
//
//   FileLock lock = LockRLibrary(*project, "run");
//   ... run the item ...
#pragma once

#include <string>
#include <utility>

#include "sqlhost/project/project.h"

namespace pramble::cli {

// An advisory lock (flock) on a file, created when missing, held until the
// object goes. The descriptor is not closed on exec, so R and what it starts
// hold the lock too.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens `path` for reading and writing, or, with `read_only_too`, for
  // reading when it cannot be written; "" when done, else why not.
  std::string Open(const std::string& path, bool read_only_too = true);
  // flock(2) with `operation`; false when it was not granted (errno says why).
  bool Lock(int operation);
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The library folder that R installs the package into: the runner's choice
// (sqlhost/runner/posix_r_process.h), else the first folder of R_LIBS_USER; "" when
// unknown.
std::string RInstallLibrary();

// True when the next run's command file will install the package: always
// while the setting R/ForceLoadLibrary is absent or True, else when the
// package is not in `library` yet.
bool RunInstallsPackage(sqlhost::Project& project, const std::string& library);

// Takes the library's lock for the next run of `project`: exclusive when
// that run installs the package, shared otherwise, waiting (with a note on
// standard error that names `command`) while another process holds it the
// other way. An empty lock when the library is unknown or the lock file
// cannot be opened: the run then goes on without one.
FileLock LockRLibrary(sqlhost::Project& project, const std::string& command);

}  // namespace pramble::cli
