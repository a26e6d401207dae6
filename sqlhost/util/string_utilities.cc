#include "sqlhost/util/string_utilities.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

#include "pramble/host/errors.h"
#include "sqlhost/util/number_text.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// R's reserved words that make.names changes by appending "." ("..." and
// "..1" it keeps).
bool IsRReserved(const std::string& name) {
  static constexpr std::string_view kWords[] = {
      "if",   "else",  "repeat", "while", "function", "for",         "next",
      "break", "TRUE", "FALSE",  "NULL",  "Inf",      "NaN",         "NA",
      "NA_integer_", "NA_real_", "NA_character_", "NA_complex_"};
  return std::find(std::begin(kWords), std::end(kWords), name) != std::end(kWords);
}

// Words that SQLite or Jet SQL read as keywords when they stand bare.
bool IsSqlKeyword(const std::string& name) {
  static constexpr std::string_view kWords[] = {
      "ABORT", "ACTION", "ADD", "AFTER", "ALL", "ALTER", "ALWAYS", "ANALYZE", "AND", "ANY",
      "AS", "ASC", "ATTACH", "AUTOINCREMENT", "BEFORE", "BEGIN", "BETWEEN", "BY", "CASCADE",
      "CASE", "CAST", "CHECK", "COLLATE", "COLUMN", "COMMIT", "CONFLICT", "CONSTRAINT",
      "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP",
      "DATABASE", "DEFAULT", "DEFERRABLE", "DEFERRED", "DELETE", "DESC", "DETACH", "DISTINCT",
      "DISTINCTROW", "DO", "DROP", "EACH", "ELSE", "END", "EQV", "ESCAPE", "EXCEPT", "EXCLUDE",
      "EXCLUSIVE", "EXISTS", "EXPLAIN", "FAIL", "FALSE", "FILTER", "FIRST", "FOLLOWING", "FOR",
      "FOREIGN", "FROM", "FULL", "GENERATED", "GLOB", "GROUP", "GROUPS", "HAVING", "IF",
      "IGNORE", "IMMEDIATE", "IMP", "IN", "INDEX", "INDEXED", "INITIALLY", "INNER", "INSERT",
      "INSTEAD", "INTERSECT", "INTO", "IS", "ISNULL", "JOIN", "KEY", "LAST", "LEFT", "LEVEL",
      "LIKE", "LIMIT", "MATCH", "MATERIALIZED", "MOD", "NATURAL", "NO", "NOT", "NOTHING",
      "NOTNULL", "NULL", "NULLS", "OF", "OFFSET", "ON", "OR", "ORDER", "OTHERS", "OUTER",
      "OVER", "OWNERACCESS", "PARAMETERS", "PARTITION", "PERCENT", "PIVOT", "PLAN", "PRAGMA",
      "PRECEDING", "PRIMARY", "PROCEDURE", "QUERY", "RAISE", "RANGE", "RECURSIVE",
      "REFERENCES", "REGEXP", "REINDEX", "RELEASE", "RENAME", "REPLACE", "RESTRICT",
      "RETURNING", "RIGHT", "ROLLBACK", "ROW", "ROWID", "ROWS", "SAVEPOINT", "SELECT", "SET",
      "SOME", "TABLE", "TEMP", "TEMPORARY", "THEN", "TIES", "TO", "TOP", "TRANSACTION",
      "TRANSFORM", "TRIGGER", "TRUE", "UNBOUNDED", "UNION", "UNIQUE", "UPDATE", "USING",
      "VACUUM", "VALUES", "VIEW", "VIRTUAL", "WHEN", "WHERE", "WINDOW", "WITH", "WITHOUT",
      "XOR", "YES"};
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::find(std::begin(kWords), std::end(kWords), upper) != std::end(kWords);
}

// The length of the UTF-8 sequence starting at s[i] (1 for a stray byte).
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  std::size_t n = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (lead >= 0xF8) n = 1;
  if (i + n > s.size()) return 1;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

std::string RColumnName(const std::string& name) {
  // make.names: a name that does not start with a letter, or with "." not
  // followed by a digit, gets "X" in front; every invalid character becomes
  // ".", one per character. The start is judged on the name as given.
  const bool valid_start =
      !name.empty() && (IsAsciiLetter(name[0]) ||
                        (name[0] == '.' && !(name.size() > 1 && IsAsciiDigit(name[1]))));
  std::string out = valid_start ? "" : "X";
  for (std::size_t i = 0; i < name.size();) {
    const char c = name[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      out += IsAsciiLetter(c) || IsAsciiDigit(c) || c == '.' || c == '_' ? c : '.';
      ++i;
    } else {
      out += '.';
      i += Utf8Length(name, i);
    }
  }
  if (IsRReserved(out)) out += '.';
  // The data file header turns "_" into "."; use that form from the start.
  std::replace(out.begin(), out.end(), '_', '.');
  return out;
}

bool IsPlainIdentifier(const std::string& name) {
  if (name.empty() || !IsAsciiLetter(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); });
}

}  // namespace

std::string RJetStringUtilities::MakeColumnName(const std::string& name, bool for_sql,
                                                bool reserved) {
  std::string column = RColumnName(name);
  if (!for_sql) return column;
  if (!reserved && IsPlainIdentifier(column) && !IsSqlKeyword(column)) return column;
  return "[" + column + "]";
}

std::string RJetStringUtilities::FormatSqlNumber(const std::string& number_text) {
  if (!host::IsNumeric(number_text))
    throw host::HostError(host::kErrTypeMismatch,
                          "Type mismatch: '" + number_text + "' is not a number");
  return ShortestNumberText(host::ParseNumber(number_text));
}

std::string RJetStringUtilities::RPath(const std::string& path) { return RQuotablePath(path); }

std::string RJetStringUtilities::NumericText(const std::string& text) {
  const char* kBlanks = " \t\r\n";
  const auto begin = text.find_first_not_of(kBlanks);
  if (begin == std::string::npos) return "";
  const auto end = text.find_last_not_of(kBlanks);
  return text.substr(begin, end - begin + 1);
}

std::string RQuotablePath(const std::string& path) {
  std::string out;
  out.reserve(path.size() + 8);
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace pramble::sqlhost

namespace pramble::sqlhost {
namespace {

// Optimal string alignment distance of two lower-case words.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string NearestName(const std::string& word, const std::vector<std::string>& names) {
  const std::string lower = host::ToLowerAscii(word);
  std::string best;
  std::size_t best_distance = 0;
  for (const std::string& name : names) {
    const std::size_t distance = EditDistance(lower, host::ToLowerAscii(name));
    const std::size_t limit = std::max<std::size_t>(1, std::max(word.size(), name.size()) / 3);
    if (distance > limit) continue;
    if (best.empty() || distance < best_distance) {
      best = name;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace pramble::sqlhost
