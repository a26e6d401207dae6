// The host's reader of definition texts (surveys, data filters, model
// definitions). The syntax is described in docs/definitions.md:
//
//   command := NAME [VALUE] { "/" NAME [ "=" VALUE ] } ";"
//
// The reader answers the component's lenient questions (GetCommand,
// GetNextCommand, SplitList): a text that breaks the syntax still yields
// commands, and GetNextCommand always makes progress. CheckDefinition is the
// strict check that `pramble create` applies, so that a stored definition is
// always one the reader takes as its author meant it.
//
// Thread-safety: stateless; one instance may serve any number of threads.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "pramble/host/utilities.h"

namespace pramble::sqlhost {

// Where a definition breaks the syntax, and how.
struct DefinitionSyntaxError {
  std::size_t offset = 0;  // 0-based byte offset into the text
  int line = 1;            // 1-based
  int column = 1;          // 1-based, in bytes
  std::string problem;     // e.g. "missing closing '\"' of the value that starts here"

  // "line L, column C: PROBLEM"
  std::string ToString() const;
};

// Checks `definition` against the syntax. nullopt when it is well formed.
std::optional<DefinitionSyntaxError> CheckDefinition(const std::string& definition);

class TextDefinitionReader : public host::DefinitionReader {
 public:
  host::Command GetCommand(const std::string& definition, const std::string& name) override;
  host::Command GetNextCommand(std::string& definition) override;
  std::vector<std::string> SplitList(const std::string& text,
                                     const std::string& delimiter) override;
};

}  // namespace pramble::sqlhost
