// Exit codes of the pramble command (sysexits-style where one fits).
#pragma once

namespace pramble::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRunErrors = 1;      // run: final status 3; reset: answered False
inline constexpr int kExitRunStopped = 2;     // run: final status 0
inline constexpr int kExitUsage = 64;
inline constexpr int kExitBadInput = 65;      // a description, CSV, definition or project that cannot be read
inline constexpr int kExitNoInput = 66;       // project folder or item missing, or no stored results
inline constexpr int kExitComponentError = 70;
inline constexpr int kExitCannotCreate = 73;  // a folder that must not be replaced is in the way

}  // namespace pramble::cli
