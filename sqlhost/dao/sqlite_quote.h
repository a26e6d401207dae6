// How SQLite SQL spells a name and a text, for every piece of the host that
// writes SQLite SQL: the Jet translator, the DAO layer and the project's own
// bookkeeping. A name stands between double quotes, a text between single
// quotes, each with its quote character doubled inside.
//
// Header-only, so that the translator and the project description reader
// stay free of the rest of the DAO layer (the fuzz targets build them alone).
#pragma once

#include <string>

namespace pramble::sqlhost {

// `text` between `quote` characters, each `quote` inside doubled.
inline std::string QuoteWith(char quote, const std::string& text) {
  std::string q(1, quote);
  for (char c : text) {
    if (c == quote) q += quote;
    q += c;
  }
  return q + quote;
}

// `name` as a double-quoted SQLite identifier.
inline std::string QuoteIdentifier(const std::string& name) { return QuoteWith('"', name); }

// `text` as a single-quoted SQLite literal.
inline std::string QuoteLiteral(const std::string& text) { return QuoteWith('\'', text); }

}  // namespace pramble::sqlhost
