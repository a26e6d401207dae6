// The errors of the host's project code that a person must read: a project
// folder that is missing or cannot be used, and a project description that is
// wrong. Their messages name the folder, file, line, JSON path or field at
// fault and say what is wrong.
#pragma once

#include <stdexcept>
#include <string>

namespace pramble::sqlhost {

class ProjectError : public std::runtime_error {
 public:
  enum class Kind {
    kMissing,      // the folder (or an item asked for) does not exist
    kUnreadable,   // the folder is no project, or its databases cannot be used
    kExists,       // create: the folder exists already
    kCannotWrite,  // create: the folder cannot be made
  };
  ProjectError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// A project description (or a file it names) that cannot be used.
class DescriptionError : public std::runtime_error {
 public:
  explicit DescriptionError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace pramble::sqlhost
