// The host's services as the component reaches them: the utility objects (one
// instance per thread) and factories for the log and the process runner.
//
// A host installs its services on each thread that calls the component,
// before the first call:
//
//   MyServices services(...);
//   pramble::host::ScopedServices installed(&services);
//   engine.RunItem(12);
//
// Tests wrap a real Services and override one accessor to break one call.
#pragma once

#include <memory>

#include "pramble/host/log.h"
#include "pramble/host/r_process.h"
#include "pramble/host/utilities.h"

namespace pramble::host {

class Services {
 public:
  virtual ~Services() = default;
  virtual DefinitionRetrieval& Definitions() = 0;
  virtual DefinitionReader& Reader() = 0;
  virtual TempQueries& Queries() = 0;
  virtual LayerTypeNames& LayerTypes() = 0;
  virtual StringUtilities& Strings() = 0;
  virtual FileSystem& Files() = 0;
  virtual EngineUtilities& Engine() = 0;
  virtual ResultsUtilities& Results() = 0;
  virtual std::unique_ptr<Log> NewLog() = 0;
  virtual std::unique_ptr<RProcess> NewRProcess() = 0;
};

// Forwards every call to another Services; override what a test must break.
class ServicesWrapper : public Services {
 public:
  explicit ServicesWrapper(Services* target) : target_(target) {}
  DefinitionRetrieval& Definitions() override { return target_->Definitions(); }
  DefinitionReader& Reader() override { return target_->Reader(); }
  TempQueries& Queries() override { return target_->Queries(); }
  LayerTypeNames& LayerTypes() override { return target_->LayerTypes(); }
  StringUtilities& Strings() override { return target_->Strings(); }
  FileSystem& Files() override { return target_->Files(); }
  EngineUtilities& Engine() override { return target_->Engine(); }
  ResultsUtilities& Results() override { return target_->Results(); }
  std::unique_ptr<Log> NewLog() override { return target_->NewLog(); }
  std::unique_ptr<RProcess> NewRProcess() override { return target_->NewRProcess(); }
  Services* target() const { return target_; }

 private:
  Services* target_;
};

// The services installed on this thread. Fails (HostError 91) when none are.
Services& CurrentServices();
// Installs `services` (not owned) on this thread; nullptr removes them.
void InstallServices(Services* services);

// Installs services for the lifetime of the object, then restores the previous ones.
class ScopedServices {
 public:
  explicit ScopedServices(Services* services);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  Services* previous_;
};

}  // namespace pramble::host
