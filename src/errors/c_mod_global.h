// Module state shared by the component's classes: the global log of the run
// or reset in progress, one per thread. RunItem and ResetItem replace it;
// StopItemRun creates one only when none exists. Null until then.
#pragma once

#include <memory>

#include "pramble/host/log.h"

namespace pramble {

extern thread_local std::shared_ptr<host::Log> gLog;

// Adds `message` at `level` to gLog when it exists.
void LogAdd(const std::string& message, std::int32_t level);

// gLog itself, for the host utilities that take the log; fails (HostError 91)
// when there is none, as the use of an unset object does.
host::Log& RunLog();

}  // namespace pramble
