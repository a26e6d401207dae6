#include "errors/c_mod_global.h"

namespace pramble {

thread_local std::shared_ptr<host::Log> gLog;

void LogAdd(const std::string& message, std::int32_t level) {
  if (gLog) gLog->Add(message, level);
}

}  // namespace pramble
