#include "sqlhost/util/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pramble::sqlhost {

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

}  // namespace pramble::sqlhost
