// The one error policy of the command line: every error that reaches a
// command becomes one message on standard error and one exit code, the same
// from every command (docs/messages.md lists them):
//
//   ComponentError   "<source> (<number>): <description>"    66 for "Cannot find item", else 70
//   DescriptionError "pramble <command>: <message>"          65
//   ProjectError     "pramble <command>: <message>"          66 missing, 64 exists, 70 when a
//                                                            locked database caused it, else 65
//   host::HostError  "pramble <command>: error (<n>): <m>"   70 (a locked or read-only
//                                                            database, a full disk)
//
// Other exceptions go on to main ("pramble: unexpected error", 70).
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace pramble::cli {

// Writes the message of `error`, which reached `command`, and answers its
// exit code; rethrows an error that is none of the above.
int ReportError(const std::string& command, std::exception_ptr error);

// Runs `body`, which answers an exit code; an error becomes ReportError's.
int Guarded(const std::string& command, const std::function<int()>& body);

}  // namespace pramble::cli
