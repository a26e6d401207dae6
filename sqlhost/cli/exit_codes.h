// Exit codes of the pramble command (sysexits-style where one fits). Which
// error gives which code is decided in one place: ReportError (guard.h).
#pragma once

#include <cstdint>

#include "pramble/engine_interface.h"

namespace pramble::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRunErrors = 1;      // run: final status 3; reset: answered False
inline constexpr int kExitRunStopped = 2;     // run: final status 0
inline constexpr int kExitUsage = 64;
inline constexpr int kExitBadInput = 65;      // a description, CSV, definition or project that cannot be read
inline constexpr int kExitNoInput = 66;       // project folder or item missing, or no stored results
inline constexpr int kExitComponentError = 70;  // the engine's errors, and the host's that are no bad input
inline constexpr int kExitCannotCreate = 73;  // a folder that must not be replaced is in the way
inline constexpr int kExitItemBusy = 75;      // another process runs or resets the item (EX_TEMPFAIL)

// The exit code of `pramble run` for an item's final status: 0 for 1 and 2,
// 1 for 3, 2 for 0 (stopped), 70 otherwise.
inline int ExitCodeOfFinalStatus(std::int32_t status) {
  switch (status) {
    case kStatusFinished:
    case kStatusFinishedWithWarnings: return kExitOk;
    case kStatusFinishedWithErrors: return kExitRunErrors;
    case kStatusNotRun: return kExitRunStopped;
    default: return kExitComponentError;
  }
}

}  // namespace pramble::cli
