#include "errors/c_mod_global.h"

#include "pramble/host/errors.h"

namespace pramble {

thread_local std::shared_ptr<host::Log> gLog;

void LogAdd(const std::string& message, std::int32_t level) {
  if (gLog) gLog->Add(message, level);
}

host::Log& RunLog() {
  if (!gLog)
    throw host::HostError(host::kErrObjectNotSet,
                          "Object variable or With block variable not set (no run log)");
  return *gLog;
}

}  // namespace pramble
