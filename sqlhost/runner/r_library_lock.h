// The lock that keeps runs from loading the R package quox while another
// run installs it into the same R library: a run that installs holds the
// library's lock file (kRLibraryLockFileName in the library) exclusively,
// every other run shares it, each for as long as its R lives. R's own install
// lock (00LOCK-<package>) makes a second install fail rather than wait, and
// a run that loads the package while another installs it finds it half
// there. Whoever starts a run takes the lock before it and lets it go when R
// has ended (EngineSession in sqlhost/cli does); docs/robustness.md
// describes the locks.
//
//   RLibraryLock lock = RLibraryLock::ForNextRun(*project, on_wait);
//   ... run the item ...
#pragma once

#include <functional>
#include <string>

#include "pramble/host/project_database.h"
#include "sqlhost/util/file_lock.h"

namespace pramble::sqlhost {

// The library folder that R installs the package into: the runner's choice
// (RLibraryFolder in posix_r_process.h), else the first folder of
// R_LIBS_USER; "" when unknown.
std::string RInstallLibrary();

class RLibraryLock {
 public:
  // Told the library and whether this run installs, just before the lock
  // is awaited because another process holds it the other way.
  using WaitHandler = std::function<void(const std::string& library, bool installs)>;

  // Takes the lock of `library`: exclusive when the run installs the
  // package, shared otherwise, waiting while another process holds it the
  // other way. Not held when the library is "" or its lock file cannot be
  // opened: the run then goes on without one.
  static RLibraryLock Take(const std::string& library, bool installs, const WaitHandler& on_wait);
  // Take for the next run of `project` in RInstallLibrary(), installing or
  // not as NextRunInstallsQuox (engine_utilities.h) decides once no other
  // run installs: shared first, exclusive when the run will install.
  static RLibraryLock ForNextRun(host::ProjectDatabase& project, const WaitHandler& on_wait);

  bool held() const { return file_.is_open(); }

 private:
  FileLock file_;
};

}  // namespace pramble::sqlhost
