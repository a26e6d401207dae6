// libFuzzer target for the host's definition reader: the lenient questions
// that the engine asks (GetNextCommand, GetCommand, SplitList) and the strict
// check that `pramble create` applies, on any text.
//
// Besides the sanitizers' own findings, the target stops on:
// - a GetNextCommand that does not shorten the text or leaves other than a
//   tail of it (the engine's command loops rely on both to end);
// - a GetCommand that disagrees with the first command of that name met by
//   the GetNextCommand loop;
// - a SplitList whose items do not join back to the text;
// - a text that passes CheckDefinition but does not read back the same after
//   its commands are written out again in the syntax, quoted;
// - a syntax error whose place lies outside the text or whose line and
//   column do not count to its offset.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sqlhost/project/definition_reader.h"
#include "pramble/host/value.h"

namespace {

using pramble::host::Command;
using pramble::sqlhost::TextDefinitionReader;

[[noreturn]] void Broken(const char* what, const std::string& text) {
  std::fprintf(stderr, "definition reader: %s\ntext (%zu bytes): %s\n", what, text.size(),
               text.c_str());
  std::abort();
}

bool Same(const Command& a, const Command& b) {
  return a.found == b.found && a.name == b.name && a.value == b.value &&
         a.option_names == b.option_names && a.option_values == b.option_values;
}

std::string Quoted(const std::string& value) {
  std::string q = "\"";
  for (char c : value) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

// The commands written out again: NAME "VALUE" /OPT="VALUE" ...;
std::string Write(const std::vector<Command>& commands) {
  std::string text;
  for (const Command& c : commands) {
    text += c.name;
    if (!c.value.empty()) text += " " + Quoted(c.value);
    for (int i = 0; i < c.OptionCount(); ++i) {
      text += " /" + c.option_names[i];
      if (!c.option_values[i].empty()) text += "=" + Quoted(c.option_values[i]);
    }
    text += ";\n";
  }
  return text;
}

std::vector<Command> ReadAll(TextDefinitionReader& reader, std::string text) {
  std::vector<Command> commands;
  while (!text.empty()) {
    const std::string before = text;
    Command c = reader.GetNextCommand(text);
    if (text.size() >= before.size()) Broken("GetNextCommand did not shorten the text", before);
    if (before.compare(before.size() - text.size(), text.size(), text) != 0)
      Broken("GetNextCommand left other than a tail of the text", before);
    if (c.found) commands.push_back(std::move(c));
  }
  return commands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  TextDefinitionReader reader;

  const std::vector<Command> commands = ReadAll(reader, text);
  for (const Command& c : commands) {
    if (c.OptionCount() != static_cast<int>(c.option_values.size()))
      Broken("options and values differ in number", text);
    if (c.name.empty()) continue;
    const Command first = reader.GetCommand(text, c.name);
    if (!first.found) Broken("GetCommand did not find a command the loop met", text);
    for (const Command& d : commands) {
      if (d.name.empty() || !pramble::host::EqualsNoCase(d.name, c.name)) continue;
      if (!Same(d, first)) Broken("GetCommand differs from the loop's first command", text);
      break;
    }
    for (const std::string& value : c.option_values) {
      std::string joined;
      const std::vector<std::string> items = reader.SplitList(value, ",");
      if (value.empty() != items.empty()) Broken("SplitList of an empty text", text);
      for (std::size_t i = 0; i < items.size(); ++i) joined += (i ? "," : "") + items[i];
      if (joined != value) Broken("SplitList items do not join back to the text", text);
    }
  }
  if (reader.GetCommand(text, "").found) Broken("GetCommand found a command without a name", text);

  const auto error = pramble::sqlhost::CheckDefinition(text);
  if (error) {
    if (error->offset > text.size()) Broken("syntax error beyond the end of the text", text);
    int line = 1, column = 1;
    for (std::size_t i = 0; i < error->offset; ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    if (line != error->line || column != error->column)
      Broken("syntax error line and column do not match its offset", text);
    if (error->problem.empty()) Broken("syntax error without a problem", text);
    return 0;
  }
  const std::string again = Write(commands);
  if (auto e = pramble::sqlhost::CheckDefinition(again))
    Broken(("the written-out commands break the syntax: " + e->ToString() + "\n" + again).c_str(),
           text);
  const std::vector<Command> reread = ReadAll(reader, again);
  if (reread.size() != commands.size())
    Broken("written-out commands read back in other number", text);
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (!Same(commands[i], reread[i])) Broken("a written-out command reads back otherwise", text);
  }
  return 0;
}
