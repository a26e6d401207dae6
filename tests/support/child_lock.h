// Test support: a child process that holds a lock on an SQLite database from
// its start until Release (or the end of the object), for tests of what the
// host does when another process has the database locked.
#pragma once

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace pramble::testing {

class ChildLock {
 public:
  // The child opens `path` and runs `statements` (by default it takes the
  // write lock); locked() tells whether they succeeded.
  explicit ChildLock(const std::string& path,
                     const std::string& statements = "BEGIN IMMEDIATE") {
    int ready[2], release[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      sqlite3* db = nullptr;
      char ok = 0;
      if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
          sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
        ok = 1;
      (void)!write(ready[1], &ok, 1);
      char byte;
      (void)!read(release[0], &byte, 1);  // returns when the parent closes its end
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 0;
    locked_ = read(ready[0], &ok, 1) == 1 && ok == 1;
    close(ready[0]);
  }
  ~ChildLock() { Release(); }
  ChildLock(const ChildLock&) = delete;
  ChildLock& operator=(const ChildLock&) = delete;

  bool locked() const { return locked_; }
  // Ends the child's transaction and waits for the child to end.
  void Release() {
    if (release_ < 0) return;
    close(release_);
    release_ = -1;
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

}  // namespace pramble::testing
