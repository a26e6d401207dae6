// The host's definition retrieval: the survey, data filter and model
// definition texts of an analysis item, read from the project database
// through the project's DAO database (schema.h names the tables).
//
// Thread-safety: stateless; one instance may serve any number of threads.
#pragma once

#include <string>

#include "pramble/host/utilities.h"

namespace pramble::sqlhost {

class ProjectDefinitionRetrieval : public host::DefinitionRetrieval {
 public:
  // Each answers True with the text in `definition`, or logs a level-2
  // message naming the item and what is missing and answers False.
  bool GetSurveyDefinition(std::string& definition, host::ProjectDatabase& project,
                           host::BrowserItem& item, host::Log& log) override;
  bool GetDataFilterDefinition(std::string& definition, host::ProjectDatabase& project,
                               host::BrowserItem& item, host::Log& log) override;
  bool GetModelDefinitionDefinition(std::string& definition, host::ProjectDatabase& project,
                                    host::BrowserItem& item, host::Log& log) override;
};

}  // namespace pramble::sqlhost
