#include "sqlhost/cli/guard.h"

#include <cstdint>
#include <iostream>

#include "pramble/component_error.h"
#include "pramble/host/errors.h"
#include "sqlhost/cli/exit_codes.h"
#include "sqlhost/project/project_error.h"

namespace pramble::cli {
namespace {

// ComponentError number of "Cannot find item '<ID>'."
constexpr std::int32_t kCannotFindItem = -2147221504 + 7951;

// True when the host error that caused `e` (Project::Open nests it) is a
// database locked by another process: the project is fine, only busy.
bool CausedByLockedDatabase(const std::exception& e) {
  try {
    std::rethrow_if_nested(e);
  } catch (const host::HostError& cause) {
    return cause.number() == host::kErrDatabaseLocked;
  } catch (...) {
  }
  return false;
}

int ExitCodeOf(const sqlhost::ProjectError& e) {
  switch (e.kind()) {
    case sqlhost::ProjectError::Kind::kMissing:
      return kExitNoInput;
    case sqlhost::ProjectError::Kind::kExists:
      return kExitUsage;
    default:
      return CausedByLockedDatabase(e) ? kExitComponentError : kExitBadInput;
  }
}

}  // namespace

int ReportError(const std::string& command, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const ComponentError& e) {
    std::cerr << e.source() << " (" << e.number() << "): " << e.description() << "\n";
    return e.number() == kCannotFindItem ? kExitNoInput : kExitComponentError;
  } catch (const sqlhost::DescriptionError& e) {
    std::cerr << "pramble " << command << ": " << e.what() << "\n";
    return kExitBadInput;
  } catch (const sqlhost::ProjectError& e) {
    std::cerr << "pramble " << command << ": " << e.what() << "\n";
    return ExitCodeOf(e);
  } catch (const host::HostError& e) {
    std::cerr << "pramble " << command << ": error (" << e.number() << "): " << e.what()
              << std::endl;
    return kExitComponentError;
  }
}

int Guarded(const std::string& command, const std::function<int()>& body) {
  try {
    return body();
  } catch (...) {
    return ReportError(command, std::current_exception());
  }
}

}  // namespace pramble::cli
