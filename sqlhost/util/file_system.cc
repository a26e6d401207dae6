#include "sqlhost/util/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>

#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

std::string Reason(int err) { return std::generic_category().message(err); }

// "cannot <what> '<path>': <reason>", numbered 53 for a missing file or folder.
host::HostError FileError(const std::string& what, const std::string& path, int err) {
  const std::int32_t number =
      err == ENOENT || err == ENOTDIR ? host::kErrFileNotFound : host::kErrPathFileAccess;
  return host::HostError(number, "cannot " + what + " '" + path + "': " + Reason(err));
}

// Writes all of [data, data + size) to fd; false with errno set on failure.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool IsDirectoryEntry(int dir_fd, const dirent* entry, bool& is_dir) {
  if (entry->d_type != DT_UNKNOWN) {
    is_dir = entry->d_type == DT_DIR;
    return true;
  }
  struct stat st;
  if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  is_dir = S_ISDIR(st.st_mode);
  return true;
}

// Removes the folder `name` (relative to parent_fd) with its contents, never
// following a symbolic link. Goes on after a failure; true when all went.
bool RemoveTree(int parent_fd, const char* name, bool force) {
  int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == EACCES && force) {
    ::fchmodat(parent_fd, name, S_IRWXU, 0);
    fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return false;
  }
  bool ok = true;
  bool made_writable = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    bool is_dir = false;
    if (!IsDirectoryEntry(fd, entry, is_dir)) {
      ok = false;
      continue;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
      const bool removed = is_dir ? RemoveTree(fd, entry_name.c_str(), force)
                                  : ::unlinkat(fd, entry_name.c_str(), 0) == 0;
      if (removed) break;
      // A folder without write permission keeps its entries; force grants it.
      if (force && !made_writable && (is_dir || errno == EACCES || errno == EPERM)) {
        made_writable = true;
        if (::fchmod(fd, S_IRWXU) == 0) continue;
      }
      ok = false;
      break;
    }
  }
  ::closedir(dir);
  if (::unlinkat(parent_fd, name, AT_REMOVEDIR) != 0) ok = false;
  return ok;
}

class PosixWritableFile : public host::WritableFile {
 public:
  PosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
    buffer_.reserve(kBufferSize);
  }
  ~PosixWritableFile() override {
    if (fd_ >= 0) {
      if (!failed_) WriteAll(fd_, buffer_.data(), buffer_.size());
      ::close(fd_);
    }
  }

  void Append(const std::string& data) override {
    if (fd_ < 0) throw host::HostError(host::kErrPathFileAccess,
                                       "cannot write file '" + path_ + "': it is closed");
    if (failed_) throw host::HostError(host::kErrPathFileAccess, failure_);
    if (buffer_.size() + data.size() > kBufferSize) {
      Flush();
      if (data.size() >= kBufferSize) {
        if (!WriteAll(fd_, data.data(), data.size())) Fail(errno);
        return;
      }
    }
    buffer_ += data;
  }

  // Writes what is buffered and closes. An error already thrown by Append is
  // not thrown again: the file is then just closed.
  void Close() override {
    if (fd_ < 0) return;
    int err = 0;
    if (!failed_ && !WriteAll(fd_, buffer_.data(), buffer_.size())) err = errno;
    buffer_.clear();
    if (::close(fd_) != 0 && err == 0 && !failed_) err = errno;
    fd_ = -1;
    if (err != 0) throw FileError("write file", path_, err);
  }

 private:
  void Flush() {
    if (!WriteAll(fd_, buffer_.data(), buffer_.size())) Fail(errno);
    buffer_.clear();
  }
  [[noreturn]] void Fail(int err) {
    host::HostError error = FileError("write file", path_, err);
    failed_ = true;
    failure_ = error.description();
    buffer_.clear();
    throw error;
  }

  int fd_;
  std::string path_;
  std::string buffer_;
  bool failed_ = false;
  std::string failure_;
};

class PosixLineReader : public host::LineReader {
 public:
  PosixLineReader(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixLineReader() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool ReadLine(std::string& line) override {
    if (fd_ < 0) throw host::HostError(host::kErrPathFileAccess,
                                       "cannot read file '" + path_ + "': it is closed");
    for (;;) {
      const auto end = buffer_.find('\n', pos_);
      if (end != std::string::npos) {
        line.assign(buffer_, pos_, end - pos_);
        pos_ = end + 1;
        break;
      }
      if (eof_) {
        if (pos_ >= buffer_.size()) return false;
        line.assign(buffer_, pos_, std::string::npos);
        pos_ = buffer_.size();
        break;
      }
      buffer_.erase(0, pos_);
      pos_ = 0;
      const std::size_t old_size = buffer_.size();
      buffer_.resize(old_size + kBufferSize);
      ssize_t n;
      do n = ::read(fd_, buffer_.data() + old_size, kBufferSize);
      while (n < 0 && errno == EINTR);
      if (n < 0) {
        const int err = errno;
        buffer_.resize(old_size);
        throw FileError("read file", path_, err);
      }
      buffer_.resize(old_size + static_cast<std::size_t>(n));
      if (n == 0) eof_ = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::string path_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool eof_ = false;
};

}  // namespace

std::string PosixFileSystem::GetTempFolderName() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr && *env != '\0' ? env : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  struct stat st;
  if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      ::access(base.c_str(), W_OK | X_OK) != 0)
    return "";
  if (base == "/") base.clear();
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "pramble-%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    const std::string path = base + "/" + name;
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return path;
  }
  return "";
}

bool PosixFileSystem::CreateFolder(const std::string& folder) {
  return !folder.empty() && ::mkdir(folder.c_str(), S_IRWXU) == 0;
}

std::string PosixFileSystem::GetDisplayPath(const std::string& folder, const std::string& base) {
  std::string root = base;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root.empty()) return folder;
  if (folder == root) return ".";
  const std::string prefix = root == "/" ? root : root + "/";
  if (folder.size() > prefix.size() && folder.compare(0, prefix.size(), prefix) == 0)
    return folder.substr(prefix.size());
  return folder;
}

bool PosixFileSystem::WriteTextFile(const std::string& file, const std::string& text) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text.data(), text.size());
  const bool closed = ::close(fd) == 0;
  return written && closed;
}

bool PosixFileSystem::ReadTextFile(const std::string& file, std::string& text) {
  text.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string contents;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) contents.reserve(st.st_size);
  char buf[kBufferSize];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    contents.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  text = std::move(contents);
  return true;
}

bool PosixFileSystem::DeleteFolder(const std::string& folder, bool force) {
  struct stat st;
  if (folder.empty() || ::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return RemoveTree(AT_FDCWD, folder.c_str(), force);
}

std::unique_ptr<host::WritableFile> PosixFileSystem::NewWritableFile(const std::string& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError("open file for writing", file, errno);
  return std::make_unique<PosixWritableFile>(fd, file);
}

std::unique_ptr<host::LineReader> PosixFileSystem::NewLineReader(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError("open file for reading", file, errno);
  return std::make_unique<PosixLineReader>(fd, file);
}

std::vector<std::string> PosixFileSystem::ListFiles(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileError("list folder", folder, errno);
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int err = errno;
    ::close(fd);
    throw FileError("list folder", folder, err);
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    bool is_dir = false;
    if (name != "." && name != ".." && IsDirectoryEntry(fd, entry, is_dir) && !is_dir)
      names.push_back(name);
    errno = 0;
  }
  const int err = errno;
  ::closedir(dir);
  if (err != 0) throw FileError("list folder", folder, err);
  return names;
}

void PosixFileSystem::DeleteFile(const std::string& file) {
  if (::unlink(file.c_str()) != 0) throw FileError("delete file", file, errno);
}

}  // namespace pramble::sqlhost
