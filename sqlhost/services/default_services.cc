#include "host/services/default_services.h"

#include "host/runner/r_process.h"
#include "host/util/log.h"

namespace pramble::sqlhost {

DefaultServices::DefaultServices(EventLoop& loop) : loop_(loop), queries_(reader_) {}

std::unique_ptr<host::Log> DefaultServices::NewLog() { return std::make_unique<LogImpl>(); }

std::unique_ptr<host::RProcess> DefaultServices::NewRProcess() {
  return std::make_unique<RProcessImpl>(loop_);
}

}  // namespace pramble::sqlhost
