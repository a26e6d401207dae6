// libFuzzer target for the translation of Jet SQL into SQLite SQL: whole
// statements (saved queries) and conditions (users' "Select" criteria).
//
// Both may refuse a text, but only with host::HostError carrying the
// translator's message; any other exception is a finding. A translated
// condition must be one parenthesised expression with no ';' outside its
// literals and quoted names, so that it can follow WHERE or AND without
// ending the statement or escaping its parentheses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pramble/host/errors.h"
#include "sqlhost/jet/jet_sql.h"

namespace {

[[noreturn]] void Broken(const char* what, const std::string& text, const std::string& out) {
  std::fprintf(stderr, "jet sql: %s\ntext: %s\ntranslation: %s\n", what, text.c_str(), out.c_str());
  std::abort();
}

// Checks the shape of a translated condition. SQLite text has three quoted
// forms: 'literal', "name" and [name]; the translator writes the first two.
void CheckCondition(const std::string& text, const std::string& out) {
  if (out.size() < 2 || out.front() != '(' || out.back() != ')')
    Broken("a condition is not parenthesised", text, out);
  int depth = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const char c = out[i];
    if (c == '\'' || c == '"') {
      // A quoted run; a doubled quote stands for one.
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= out.size()) Broken("a literal is not closed", text, out);
        if (out[j] != c) continue;
        if (j + 1 < out.size() && out[j + 1] == c) {
          ++j;
          continue;
        }
        break;
      }
      i = j;
      continue;
    }
    if (c == '[') {
      const std::size_t j = out.find(']', i);
      if (j == std::string::npos) Broken("a bracketed name is not closed", text, out);
      i = j;
      continue;
    }
    if (c == ';') Broken("a ';' outside literals", text, out);
    if (c == '-' && i + 1 < out.size() && out[i + 1] == '-') Broken("a -- comment", text, out);
    if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') Broken("a /* comment", text, out);
    if (c == '(') ++depth;
    if (c == ')') {
      --depth;
      if (depth < 0) Broken("unbalanced ')'", text, out);
      if (depth == 0 && i + 1 != out.size())
        Broken("the outer parentheses close before the end", text, out);
    }
  }
  if (depth != 0) Broken("unbalanced '('", text, out);
}

// Runs `translate`; a refusal must be HostError(kErrSql) with a message.
template <typename F>
void Refusable(const std::string& text, F translate) {
  try {
    translate();
  } catch (const pramble::host::HostError& e) {
    if (e.number() != pramble::host::kErrSql)
      Broken("refused with another error number", text, e.what());
    if (std::string(e.what()).rfind("Jet SQL error at position ", 0) != 0)
      Broken("refused without the translator's message", text, e.what());
  } catch (const std::exception& e) {
    Broken("an exception that is no refusal", text, e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Refusable(text, [&] { (void)pramble::sqlhost::TranslateJetSql(text); });
  Refusable(text, [&] { CheckCondition(text, pramble::sqlhost::TranslateJetCondition(text)); });
  return 0;
}
