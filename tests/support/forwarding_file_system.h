// Test support: a host file system that forwards every call to another one,
// as host::ServicesWrapper does for the services. A test derives from it and
// overrides only the calls it breaks or watches.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pramble/host/utilities.h"

namespace pramble::testing {

class ForwardingFileSystem : public host::FileSystem {
 public:
  explicit ForwardingFileSystem(host::FileSystem& target) : target_(target) {}

  std::string GetTempFolderName() override { return target_.GetTempFolderName(); }
  bool CreateFolder(const std::string& folder) override { return target_.CreateFolder(folder); }
  std::string GetDisplayPath(const std::string& folder, const std::string& base) override {
    return target_.GetDisplayPath(folder, base);
  }
  bool WriteTextFile(const std::string& file, const std::string& text) override {
    return target_.WriteTextFile(file, text);
  }
  bool ReadTextFile(const std::string& file, std::string& text) override {
    return target_.ReadTextFile(file, text);
  }
  bool DeleteFolder(const std::string& folder, bool force) override {
    return target_.DeleteFolder(folder, force);
  }
  std::unique_ptr<host::WritableFile> NewWritableFile(const std::string& file) override {
    return target_.NewWritableFile(file);
  }
  std::unique_ptr<host::LineReader> NewLineReader(const std::string& file) override {
    return target_.NewLineReader(file);
  }
  std::vector<std::string> ListFiles(const std::string& folder) override {
    return target_.ListFiles(folder);
  }
  void DeleteFile(const std::string& file) override { target_.DeleteFile(file); }
  std::string PathSeparator() const override { return target_.PathSeparator(); }

  host::FileSystem& target() const { return target_; }

 private:
  host::FileSystem& target_;
};

}  // namespace pramble::testing
