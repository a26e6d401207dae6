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

  // The error at `offset` of `text`, its line and column counted.
  static DefinitionSyntaxError At(const std::string& text, std::size_t offset,
                                  const std::string& problem);

  // "line L, column C"
  std::string Place() const;
  // "line L, column C: PROBLEM"
  std::string ToString() const;
};

// Where the parts of one command stand in its definition (byte offsets): the
// name, the value (the name's place when there is none), each option's '/'
// and each option's value.
struct CommandPlaces {
  std::size_t name = 0, value = 0;
  std::vector<std::size_t> options, option_values;
};

struct PlacedCommand {
  host::Command command;
  CommandPlaces places;
};

// The commands of a definition with their places, read as GetNextCommand
// reads them.
std::vector<PlacedCommand> ReadPlacedCommands(const std::string& definition);

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
