#include "sqlhost/project/definition_reader.h"

#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Characters that end a name: blanks, ';', '/', '"' and '='.
bool EndsName(char c) { return IsBlank(c) || c == ';' || c == '/' || c == '"' || c == '='; }

// Characters that end an unquoted value: blanks, ';', '/' and '"'.
bool EndsValue(char c) { return IsBlank(c) || c == ';' || c == '/' || c == '"'; }

// Parses commands one at a time. In strict mode the first break of the syntax
// stops the parse and is kept in error(); otherwise the parser reads past it.
class Parser {
 public:
  Parser(const std::string& text, bool strict, CommandPlaces* places = nullptr)
      : t_(text), strict_(strict), places_(places) {}

  // Takes the next non-empty command off the text. False at the end of the
  // text (or, strictly, at the first error).
  bool Next(host::Command& command) {
    command = host::Command{};
    for (;;) {
      SkipBlanks();
      if (AtEnd()) return false;
      if (t_[pos_] == ';') {  // an empty command
        ++pos_;
        continue;
      }
      break;
    }
    const std::size_t start = pos_;
    if (places_) *places_ = CommandPlaces{start, start, {}, {}};
    command.found = true;
    command.name = ReadName();
    if (command.name.empty()) {
      if (!Fail(start, "a command name is expected here")) return false;
    }
    SkipBlanks();
    if (!AtEnd() && t_[pos_] != ';' && t_[pos_] != '/') {
      if (t_[pos_] == '=') {
        if (!Fail(pos_, "'=' may only follow an option name")) return false;
      }
      if (places_) places_->value = pos_;
      if (!ReadValue(command.value)) return false;
    }
    for (;;) {
      SkipBlanks();
      if (AtEnd()) break;
      const char c = t_[pos_];
      if (c == ';') {
        ++pos_;
        break;
      }
      if (c == '/') {
        const std::size_t slash = pos_++;
        SkipBlanks();
        std::string name = ReadName();
        if (name.empty() && !Fail(slash, "an option name is expected after '/'")) return false;
        std::string value;
        SkipBlanks();
        std::size_t value_at = pos_;
        if (!AtEnd() && t_[pos_] == '=') {
          ++pos_;
          SkipBlanks();
          value_at = pos_;
          if (!AtEnd() && t_[pos_] != ';' && t_[pos_] != '/') {
            if (!ReadValue(value)) return false;
          }
        }
        command.option_names.push_back(name);
        command.option_values.push_back(value);
        if (places_) {
          places_->options.push_back(slash);
          places_->option_values.push_back(value_at);
        }
        continue;
      }
      // A second value: the syntax allows one per command. Read past it.
      if (!Fail(pos_,
                "unexpected text; a command has at most one value (quote a value "
                "that holds blanks) and ends with ';'"))
        return false;
      std::string ignored;
      if (c == '=') ++pos_;
      if (!ReadValue(ignored)) return false;
    }
    if (pos_ == start) ++pos_;  // never stand still
    return true;
  }

  std::size_t position() const { return pos_; }
  const std::optional<DefinitionSyntaxError>& error() const { return error_; }

 private:
  bool AtEnd() const { return pos_ >= t_.size(); }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(t_[pos_])) ++pos_;
  }

  std::string ReadName() {
    const std::size_t b = pos_;
    while (!AtEnd() && !EndsName(t_[pos_])) ++pos_;
    return t_.substr(b, pos_ - b);
  }

  // Reads a quoted or unquoted value at the current position.
  bool ReadValue(std::string& value) {
    value.clear();
    if (AtEnd()) return true;
    if (t_[pos_] != '"') {
      const std::size_t b = pos_;
      while (!AtEnd() && !EndsValue(t_[pos_])) ++pos_;
      value = t_.substr(b, pos_ - b);
      return true;
    }
    const std::size_t open = pos_++;
    for (;;) {
      if (AtEnd()) {
        return Fail(open, "the quoted value that starts here has no closing '\"'");
      }
      const char c = t_[pos_++];
      if (c != '"') {
        value += c;
        continue;
      }
      if (!AtEnd() && t_[pos_] == '"') {  // a doubled quote stands for one
        value += '"';
        ++pos_;
        continue;
      }
      break;
    }
    if (!AtEnd() && !IsBlank(t_[pos_]) && t_[pos_] != ';' && t_[pos_] != '/') {
      return Fail(pos_, "a blank, '/' or ';' must follow the closing '\"' of a value");
    }
    return true;
  }

  // Records an error. Strictly, the parse stops (answer False); leniently it
  // goes on (answer True).
  bool Fail(std::size_t at, const std::string& problem) {
    if (!strict_) return true;
    if (!error_) error_ = DefinitionSyntaxError::At(t_, at, problem);
    return false;
  }

  const std::string& t_;
  const bool strict_;
  CommandPlaces* places_;
  std::size_t pos_ = 0;
  std::optional<DefinitionSyntaxError> error_;
};

}  // namespace

DefinitionSyntaxError DefinitionSyntaxError::At(const std::string& text, std::size_t offset,
                                                const std::string& problem) {
  DefinitionSyntaxError e;
  e.offset = offset;
  e.problem = problem;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++e.line;
      e.column = 1;
    } else {
      ++e.column;
    }
  }
  return e;
}

std::string DefinitionSyntaxError::Place() const {
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string DefinitionSyntaxError::ToString() const { return Place() + ": " + problem; }

std::optional<DefinitionSyntaxError> CheckDefinition(const std::string& definition) {
  Parser parser(definition, /*strict=*/true);
  host::Command command;
  while (parser.Next(command)) {
  }
  return parser.error();
}

std::vector<PlacedCommand> ReadPlacedCommands(const std::string& definition) {
  std::vector<PlacedCommand> commands;
  PlacedCommand next;
  Parser parser(definition, /*strict=*/false, &next.places);
  while (parser.Next(next.command)) commands.push_back(next);
  return commands;
}

host::Command TextDefinitionReader::GetCommand(const std::string& definition,
                                               const std::string& name) {
  Parser parser(definition, /*strict=*/false);
  host::Command command;
  while (parser.Next(command)) {
    if (!command.name.empty() && host::EqualsNoCase(command.name, name)) return command;
  }
  return host::Command{};
}

host::Command TextDefinitionReader::GetNextCommand(std::string& definition) {
  Parser parser(definition, /*strict=*/false);
  host::Command command;
  if (!parser.Next(command)) {
    definition.clear();
    return host::Command{};
  }
  definition.erase(0, parser.position());
  // Nothing but blanks and empty commands left: the definition is used up.
  Parser rest(definition, /*strict=*/false);
  host::Command probe;
  if (!rest.Next(probe)) definition.clear();
  return command;
}

std::vector<std::string> TextDefinitionReader::SplitList(const std::string& text,
                                                         const std::string& delimiter) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  if (delimiter.empty()) {
    items.push_back(text);
    return items;
  }
  std::size_t b = 0;
  for (;;) {
    const std::size_t e = text.find(delimiter, b);
    if (e == std::string::npos) {
      items.push_back(text.substr(b));
      return items;
    }
    items.push_back(text.substr(b, e - b));
    b = e + delimiter.size();
  }
}

}  // namespace pramble::sqlhost
