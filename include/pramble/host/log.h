// The log of one run or reset: the messages a user reads, stored with the
// results. Levels: 0 information, 1 warning, 2 error, 3 unexpected error (the
// message is then the failing procedure's error source).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace pramble::host {

class Log {
 public:
  virtual ~Log() = default;
  virtual void Add(const std::string& message, std::int32_t level) = 0;
  // Every message so far as one text.
  virtual std::string Contents() const = 0;
  // When True, each message added from now on carries the time it was added.
  virtual void SetTimeStamp(bool on) = 0;
  // The highest level added so far (0 when empty). 1 raises a run's final
  // status from 0 or 1 to 2, 2 raises it to 3, 3 raises 2 to 3.
  virtual std::int32_t Severity() const = 0;
};

// Forwards every call to another Log, which it owns; a host or a test
// overrides what it must watch or break.
class LogWrapper : public Log {
 public:
  explicit LogWrapper(std::unique_ptr<Log> target) : target_(std::move(target)) {}
  void Add(const std::string& message, std::int32_t level) override {
    target_->Add(message, level);
  }
  std::string Contents() const override { return target_->Contents(); }
  void SetTimeStamp(bool on) override { target_->SetTimeStamp(on); }
  std::int32_t Severity() const override { return target_->Severity(); }

 private:
  std::unique_ptr<Log> target_;
};

}  // namespace pramble::host
