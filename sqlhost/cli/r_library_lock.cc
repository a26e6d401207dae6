#include "sqlhost/cli/r_library_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>

#include "sqlhost/runner/posix_r_process.h"
#include "pramble/host/value.h"

namespace pramble::cli {
namespace {

// The package that the command file installs and loads.
constexpr char kPackage[] = "quox";

}  // namespace

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

std::string FileLock::Open(const std::string& path, bool read_only_too) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
  if (fd_ < 0 && read_only_too) fd_ = ::open(path.c_str(), O_RDONLY);
  return fd_ < 0 ? std::string(std::strerror(errno)) : "";
}

bool FileLock::Lock(int operation) {
  int rc;
  do rc = ::flock(fd_, operation);
  while (rc != 0 && errno == EINTR);
  return rc == 0;
}

std::string RInstallLibrary() {
  std::string library = sqlhost::RLibraryFolder();
  if (!library.empty()) return library;
  const char* user = std::getenv("R_LIBS_USER");
  if (user == nullptr) return "";
  library = user;
  return library.substr(0, library.find(':'));
}

bool RunInstallsPackage(sqlhost::Project& project, const std::string& library) {
  try {
    const std::optional<host::Value> force = project.GetSettingValue("R", "ForceLoadLibrary");
    if (!force || host::ToBool(*force)) return true;
  } catch (const std::exception&) {
    return true;  // the run refuses the setting itself
  }
  std::error_code ec;
  return !std::filesystem::exists(library + "/" + kPackage + "/DESCRIPTION", ec);
}

FileLock LockRLibrary(sqlhost::Project& project, const std::string& command) {
  const std::string library = RInstallLibrary();
  if (library.empty()) return FileLock{};
  const bool install = RunInstallsPackage(project, library);
  FileLock lock;
  if (!lock.Open(library + "/.pramble-install.lock").empty()) return FileLock{};
  const int operation = install ? LOCK_EX : LOCK_SH;
  if (!lock.Lock(operation | LOCK_NB)) {
    std::cerr << "pramble " << command << ": waiting for other runs that "
              << (install ? "use" : "install the R package " + std::string(kPackage) + " in")
              << " the R library '" << library << "'" << std::endl;
    if (!lock.Lock(operation)) return FileLock{};
  }
  return lock;
}

}  // namespace pramble::cli
