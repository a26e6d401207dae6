// The services of the host we ship: the SQLite project's definition objects
// and temporary queries, the POSIX utilities, a fresh log per NewLog and a
// process runner per NewRProcess whose end reaches the given event loop.
//
//   sqlhost::EventLoop loop;
//   sqlhost::DefaultServices services(loop);
//   host::ScopedServices installed(&services);
//   engine.RunItem(12);
//   loop.RunUntil([&] { return finished; }, sqlhost::EventLoop::kForever);
//
// Thread-safety: one DefaultServices per thread that calls the component,
// the thread that runs `loop`. The loop must outlive the services and every
// runner they made.
#pragma once

#include <memory>

#include "sqlhost/project/definition_reader.h"
#include "sqlhost/project/definition_retrieval.h"
#include "sqlhost/project/temp_queries.h"
#include "sqlhost/runner/event_loop.h"
#include "pramble/host/services.h"
#include "sqlhost/util/engine_utilities.h"
#include "sqlhost/util/file_system.h"
#include "sqlhost/util/results_utilities.h"
#include "sqlhost/util/string_utilities.h"

namespace pramble::sqlhost {

class DefaultServices : public host::Services {
 public:
  explicit DefaultServices(EventLoop& loop);
  DefaultServices(const DefaultServices&) = delete;
  DefaultServices& operator=(const DefaultServices&) = delete;

  host::DefinitionRetrieval& Definitions() override { return definitions_; }
  host::DefinitionReader& Reader() override { return reader_; }
  host::TempQueries& Queries() override { return queries_; }
  host::LayerTypeNames& LayerTypes() override { return queries_; }
  host::StringUtilities& Strings() override { return strings_; }
  host::FileSystem& Files() override { return files_; }
  host::EngineUtilities& Engine() override { return engine_; }
  host::ResultsUtilities& Results() override { return results_; }
  // A new TextLog.
  std::unique_ptr<host::Log> NewLog() override;
  // A new PosixRProcess on the services' loop.
  std::unique_ptr<host::RProcess> NewRProcess() override;

  EventLoop& loop() { return loop_; }

 private:
  EventLoop& loop_;
  ProjectDefinitionRetrieval definitions_;
  TextDefinitionReader reader_;
  SqliteTempQueries queries_;
  RJetStringUtilities strings_;
  PosixFileSystem files_;
  QuoxEngineUtilities engine_;
  SqliteResultsUtilities results_;
};

}  // namespace pramble::sqlhost
