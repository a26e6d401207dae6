// The tokens of Jet SQL, the dialect in which the component and the users
// write queries: square-bracketed names, double- or single-quoted texts,
// #date# literals, & for text concatenation. The translator (jet_sql.h) works
// on these tokens, never on the raw text, so that a bracket, a quote or a ";"
// inside a literal or a name is never mistaken for syntax.
//
// Thread-safety: the functions are pure.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pramble::sqlhost {

enum class JetTokenKind {
  kWord,         // plain name or keyword: letters, digits, "_" and any non-ASCII byte
  kBracketName,  // [name]; value = the name without brackets (blanks, quotes allowed)
  kText,         // "text" or 'text'; value = the text, a doubled quote undone
  kNumber,       // 12, 1.5, .5, 1E-3
  kDate,         // #2001-01-31#; value = the text between the # signs
  kOperator,     // = <> != < > <= >= + - * / \ ^ &
  kLeftParen,
  kRightParen,
  kComma,
  kDot,
};

struct JetToken {
  JetTokenKind kind = JetTokenKind::kWord;
  std::string text;          // as written in the source
  std::string value;         // see JetTokenKind
  std::size_t offset = 0;    // byte offset in the source
  bool space_before = false; // whitespace precedes it in the source
};

// Splits one Jet SQL text into tokens. Throws host::HostError(kErrSql) whose
// description names the 1-based position and quotes the whole text, for: a
// text, bracket or date literal that is not closed; a ";" outside literals
// and brackets (a text is always one statement); a character that Jet SQL has
// no use for (for instance "?", "@", ":", "$", "|", "`").
std::vector<JetToken> TokenizeJetSql(const std::string& jet);

// Throws host::HostError(kErrSql) with the description
//   Jet SQL error at position N: WHAT. SQL: JET
// N being `offset` + 1.
[[noreturn]] void ThrowJetSqlError(const std::string& jet, std::size_t offset,
                                   const std::string& what);

}  // namespace pramble::sqlhost
