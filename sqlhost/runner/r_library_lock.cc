#include "sqlhost/runner/r_library_lock.h"

#include <sys/file.h>

#include <cstdlib>

#include "sqlhost/project/file_names.h"
#include "sqlhost/runner/posix_r_process.h"
#include "sqlhost/util/engine_utilities.h"

namespace pramble::sqlhost {

std::string RInstallLibrary() {
  std::string library = RLibraryFolder();
  if (!library.empty()) return library;
  const char* user = std::getenv("R_LIBS_USER");
  if (user == nullptr) return "";
  library = user;
  return library.substr(0, library.find(':'));
}

RLibraryLock RLibraryLock::Take(const std::string& library, bool installs,
                                const WaitHandler& on_wait) {
  RLibraryLock lock;
  if (library.empty()) return lock;
  if (!lock.file_.Open(library + "/" + kRLibraryLockFileName).empty()) return RLibraryLock{};
  const int operation = installs ? LOCK_EX : LOCK_SH;
  if (!lock.file_.Lock(operation | LOCK_NB)) {
    if (on_wait) on_wait(library, installs);
    if (!lock.file_.Lock(operation)) return RLibraryLock{};
  }
  return lock;
}

RLibraryLock RLibraryLock::ForNextRun(host::ProjectDatabase& project, const WaitHandler& on_wait) {
  const std::string library = RInstallLibrary();
  if (library.empty()) return RLibraryLock{};
  // An install that the project asks for does not depend on the library.
  if (ProjectForcesQuoxInstall(project)) return Take(library, true, on_wait);
  // Whether the package is there is read under the shared lock, when no
  // install runs: while another run installs it, its folder is missing for a
  // moment, and a run that looked then would install it once more, shutting
  // out the runs that use it.
  RLibraryLock lock = Take(library, false, on_wait);
  if (!NextRunInstallsQuox(project, library)) return lock;
  lock = RLibraryLock{};
  return Take(library, true, on_wait);
}

}  // namespace pramble::sqlhost
