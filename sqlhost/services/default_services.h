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

#include "host/project/definition_reader.h"
#include "host/project/definition_retrieval.h"
#include "host/project/temp_queries.h"
#include "host/runner/event_loop.h"
#include "host/services.h"
#include "host/util/engine_utilities.h"
#include "host/util/file_system.h"
#include "host/util/results_utilities.h"
#include "host/util/string_utilities.h"

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
  // A new LogImpl.
  std::unique_ptr<host::Log> NewLog() override;
  // A new RProcessImpl on the services' loop.
  std::unique_ptr<host::RProcess> NewRProcess() override;

  EventLoop& loop() { return loop_; }

 private:
  EventLoop& loop_;
  DefinitionRetrievalImpl definitions_;
  DefinitionReaderImpl reader_;
  TempQueriesImpl queries_;
  StringUtilitiesImpl strings_;
  FileSystemImpl files_;
  EngineUtilitiesImpl engine_;
  ResultsUtilitiesImpl results_;
};

}  // namespace pramble::sqlhost
