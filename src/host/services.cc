#include "pramble/host/services.h"

#include "pramble/host/errors.h"

namespace pramble::host {
namespace {
thread_local Services* tls_services = nullptr;
}

Services& CurrentServices() {
  if (tls_services == nullptr)
    throw HostError(kErrObjectNotSet, "Object variable or With block variable not set (no host services on this thread)");
  return *tls_services;
}

void InstallServices(Services* services) { tls_services = services; }

ScopedServices::ScopedServices(Services* services) : previous_(tls_services) {
  tls_services = services;
}

ScopedServices::~ScopedServices() { tls_services = previous_; }

}  // namespace pramble::host
