#include "sqlhost/services/default_services.h"

#include "sqlhost/runner/posix_r_process.h"
#include "sqlhost/util/text_log.h"

namespace pramble::sqlhost {

DefaultServices::DefaultServices(EventLoop& loop) : loop_(loop), queries_(reader_) {}

std::unique_ptr<host::Log> DefaultServices::NewLog() { return std::make_unique<TextLog>(); }

std::unique_ptr<host::RProcess> DefaultServices::NewRProcess() {
  return std::make_unique<PosixRProcess>(loop_);
}

}  // namespace pramble::sqlhost
