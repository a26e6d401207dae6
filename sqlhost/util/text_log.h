// The host's log of one run or reset: the messages a user reads, kept in the
// order they were added and stored with the results. The text layout of
// Contents is described in docs/engine-status.md, section "The run's log":
// one message per line, "Warning: " before level 1, "Error: " before level
// 2, "Unexpected error in " + the source (and the error being handled, when
// there is one) for level 3, and the local time before each message added
// while the time stamp is on.
//
// Thread-safety: one log is used on one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "pramble/host/log.h"

namespace pramble::sqlhost {

class TextLog : public host::Log {
 public:
  // Level 3: `message` is the failing procedure's error source; when an
  // exception is being handled (the caller is in a catch block), its number
  // and description are added. Levels below 0 count as 0, above 3 as 3.
  void Add(const std::string& message, std::int32_t level) override;
  std::string Contents() const override { return contents_; }
  void SetTimeStamp(bool on) override { time_stamp_ = on; }
  // The highest level added so far; 0 when empty.
  std::int32_t Severity() const override { return severity_; }

 private:
  std::string contents_;
  bool time_stamp_ = false;
  std::int32_t severity_ = 0;
};

}  // namespace pramble::sqlhost
