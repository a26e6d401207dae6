#include "sqlhost/project/new_project_folder.h"

#include <fcntl.h>  // AT_FDCWD
#include <stdio.h>  // renameat2
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "pramble/host/errors.h"
#include "sqlhost/project/project_error.h"

namespace pramble::sqlhost {
namespace fs = std::filesystem;
namespace {

class FolderGuard {
 public:
  explicit FolderGuard(std::string path) : path_(std::move(path)) {}
  ~FolderGuard() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

}  // namespace

std::string StripTrailingSlashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

void CheckNewProjectFolder(const std::string& dir) {
  if (dir.empty()) throw ProjectError(ProjectError::Kind::kCannotWrite, "no project folder given");
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir, ec))) {
    throw ProjectError(ProjectError::Kind::kExists, "cannot create project folder '" + dir +
                                                        "': it exists already (give a new folder)");
  }
  fs::path parent = fs::path(dir).parent_path();
  if (parent.empty()) parent = ".";
  if (!fs::is_directory(parent, ec)) {
    throw ProjectError(ProjectError::Kind::kCannotWrite, "cannot create project folder '" + dir +
                                                             "': the folder '" + parent.string() +
                                                             "' does not exist");
  }
}

void BuildProjectFolder(const std::string& dir_in,
                        const std::function<void(const std::string& folder)>& fill) {
  const std::string dir = StripTrailingSlashes(dir_in);
  fs::path parent = fs::path(dir).parent_path();
  if (parent.empty()) parent = ".";
  // A hidden sibling folder, made with the permissions an ordinary folder
  // gets (mkdtemp's would be private to the user).
  std::string pattern;
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    pattern = (parent / ("." + fs::path(dir).filename().string() + ".creating-" + suffix)).string();
    if (mkdir(pattern.c_str(), 0777) == 0) break;
    if (errno != EEXIST || attempt == 100) {
      throw ProjectError(ProjectError::Kind::kCannotWrite,
                         "cannot create project folder '" + dir + "': cannot make a folder in '" +
                             parent.string() + "': " + std::strerror(errno));
    }
  }
  FolderGuard guard(pattern);
  try {
    fill(pattern);
  } catch (const host::HostError& e) {
    throw ProjectError(ProjectError::Kind::kCannotWrite,
                       "cannot create project folder '" + dir + "': " + e.what());
  }
  if (renameat2(AT_FDCWD, pattern.c_str(), AT_FDCWD, dir.c_str(), RENAME_NOREPLACE) != 0) {
    const int err = errno;
    throw ProjectError(
        err == EEXIST ? ProjectError::Kind::kExists : ProjectError::Kind::kCannotWrite,
        "cannot create project folder '" + dir + "': " + std::strerror(err));
  }
  guard.Release();
}

}  // namespace pramble::sqlhost
