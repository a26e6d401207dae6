// An advisory lock (flock) on a file, the kind that the item locks
// (Project::LockItem) and the R library's install lock (RLibraryLock) take.
//
//   FileLock lock;
//   if (lock.Open(path).empty() && lock.Lock(LOCK_EX | LOCK_NB)) ... held
#pragma once

#include <string>
#include <utility>

namespace pramble::sqlhost {

// An open file, created when missing, whose lock is held until the object
// goes. The descriptor is not closed on exec, so R and what it starts hold
// the lock too.
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
  // flock(2) with `operation`, again when interrupted; false when it was not
  // granted (errno says why).
  bool Lock(int operation);
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace pramble::sqlhost
