#include "sqlhost/util/shipped_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

// Set by the build: the paths in the build and source trees, and the paths of
// the installed files relative to the installed binary's folder.
#ifndef PRAMBLE_QUOX_ARCHIVE
#define PRAMBLE_QUOX_ARCHIVE ""
#endif
#ifndef PRAMBLE_QUOX_SUPPORT_FILE
#define PRAMBLE_QUOX_SUPPORT_FILE ""
#endif
#ifndef PRAMBLE_DOCS_DIR
#define PRAMBLE_DOCS_DIR ""
#endif
#ifndef PRAMBLE_SHARE_FROM_BIN
#define PRAMBLE_SHARE_FROM_BIN "../share/pramble"
#endif
#ifndef PRAMBLE_DOCS_FROM_BIN
#define PRAMBLE_DOCS_FROM_BIN "../share/doc/pramble"
#endif

namespace pramble::sqlhost {
namespace {

// The folder of the running program; "" when the system does not say.
std::string ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  const std::string path(buf, static_cast<std::size_t>(n));
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `relative/name` beside the program when it is there (an installed
// pramble), else `built` (a pramble in its build folder).
std::string Beside(const char* relative, const std::string& name, const std::string& built,
                   bool folder) {
  const std::string program = ProgramFolder();
  if (!program.empty()) {
    const std::string installed =
        std::filesystem::path(program + "/" + relative + (name.empty() ? "" : "/" + name))
            .lexically_normal()
            .string();
    struct stat st;
    if (::stat(installed.c_str(), &st) == 0 && (folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)))
      return installed;
  }
  return built;
}

}  // namespace

std::string ShippedQuoxArchive() {
  return Beside(PRAMBLE_SHARE_FROM_BIN, BaseName(PRAMBLE_QUOX_ARCHIVE), PRAMBLE_QUOX_ARCHIVE,
                false);
}

std::string ShippedSupportFile() {
  return Beside(PRAMBLE_SHARE_FROM_BIN, BaseName(PRAMBLE_QUOX_SUPPORT_FILE),
                PRAMBLE_QUOX_SUPPORT_FILE, false);
}

std::string ShippedDocsFolder() { return Beside(PRAMBLE_DOCS_FROM_BIN, "", PRAMBLE_DOCS_DIR, true); }

}  // namespace pramble::sqlhost
