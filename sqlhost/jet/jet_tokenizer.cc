#include "sqlhost/jet/jet_tokenizer.h"

#include <cctype>

#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

bool IsWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The end of a number that starts at `i` (digits, one point, an exponent).
std::size_t ScanNumber(const std::string& s, std::size_t i) {
  const std::size_t n = s.size();
  while (i < n && IsDigit(s[i])) ++i;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && IsDigit(s[i])) ++i;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < n && IsDigit(s[j])) {
      while (j < n && IsDigit(s[j])) ++j;
      i = j;
    }
  }
  return i;
}

}  // namespace

void ThrowJetSqlError(const std::string& jet, std::size_t offset, const std::string& what) {
  throw host::HostError(host::kErrSql, "Jet SQL error at position " + std::to_string(offset + 1) +
                                           ": " + what + ". SQL: " + jet);
}

std::vector<JetToken> TokenizeJetSql(const std::string& jet) {
  std::vector<JetToken> tokens;
  const std::size_t n = jet.size();
  std::size_t i = 0;
  bool space = false;
  auto push = [&](JetTokenKind kind, std::size_t begin, std::size_t end, std::string value) {
    JetToken t;
    t.kind = kind;
    t.text = jet.substr(begin, end - begin);
    t.value = std::move(value);
    t.offset = begin;
    t.space_before = space;
    tokens.push_back(std::move(t));
    space = false;
  };
  while (i < n) {
    const unsigned char c = jet[i];
    if (IsSpace(c)) {
      space = true;
      ++i;
      continue;
    }
    const std::size_t begin = i;
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(jet[i + 1]) &&
                       (tokens.empty() || (tokens.back().kind != JetTokenKind::kWord &&
                                           tokens.back().kind != JetTokenKind::kBracketName &&
                                           tokens.back().kind != JetTokenKind::kRightParen)))) {
      i = ScanNumber(jet, i);
      if (i < n && IsWordByte(jet[i]) && !IsDigit(jet[i]))
        ThrowJetSqlError(jet, i, "a name must not start right after a number");
      push(JetTokenKind::kNumber, begin, i, jet.substr(begin, i - begin));
      continue;
    }
    if (IsWordByte(c)) {
      while (i < n && IsWordByte(jet[i])) ++i;
      push(JetTokenKind::kWord, begin, i, jet.substr(begin, i - begin));
      continue;
    }
    switch (c) {
      case '[': {
        const std::size_t close = jet.find(']', i + 1);
        if (close == std::string::npos) ThrowJetSqlError(jet, i, "'[' is not closed by ']'");
        if (close == i + 1) ThrowJetSqlError(jet, i, "empty name '[]'");
        const std::string name = jet.substr(i + 1, close - i - 1);
        if (name.find('[') != std::string::npos)
          ThrowJetSqlError(jet, i, "a bracketed name must not contain '['");
        i = close + 1;
        push(JetTokenKind::kBracketName, begin, i, name);
        continue;
      }
      case '"':
      case '\'': {
        std::string value;
        std::size_t j = i + 1;
        for (;;) {
          if (j >= n) ThrowJetSqlError(jet, i, std::string("text literal opened by ") +
                                                   static_cast<char>(c) + " is not closed");
          if (static_cast<unsigned char>(jet[j]) == c) {
            if (j + 1 < n && static_cast<unsigned char>(jet[j + 1]) == c) {
              value += static_cast<char>(c);
              j += 2;
              continue;
            }
            break;
          }
          value += jet[j++];
        }
        i = j + 1;
        push(JetTokenKind::kText, begin, i, std::move(value));
        continue;
      }
      case '#': {
        const std::size_t close = jet.find('#', i + 1);
        if (close == std::string::npos) ThrowJetSqlError(jet, i, "date literal '#' is not closed");
        i = close + 1;
        push(JetTokenKind::kDate, begin, i, jet.substr(begin + 1, close - begin - 1));
        continue;
      }
      case ';':
        ThrowJetSqlError(jet, i, "';' is not allowed (a text holds one statement only)");
      case '(':
        ++i;
        push(JetTokenKind::kLeftParen, begin, i, "(");
        continue;
      case ')':
        ++i;
        push(JetTokenKind::kRightParen, begin, i, ")");
        continue;
      case ',':
        ++i;
        push(JetTokenKind::kComma, begin, i, ",");
        continue;
      case '.':
        ++i;
        push(JetTokenKind::kDot, begin, i, ".");
        continue;
      case '<':
        i += (i + 1 < n && (jet[i + 1] == '>' || jet[i + 1] == '=')) ? 2 : 1;
        push(JetTokenKind::kOperator, begin, i, jet.substr(begin, i - begin));
        continue;
      case '>':
        i += (i + 1 < n && jet[i + 1] == '=') ? 2 : 1;
        push(JetTokenKind::kOperator, begin, i, jet.substr(begin, i - begin));
        continue;
      case '!':
        if (i + 1 < n && jet[i + 1] == '=') {
          i += 2;
          push(JetTokenKind::kOperator, begin, i, "!=");
          continue;
        }
        ThrowJetSqlError(jet, i, "unexpected character '!'");
      case '=':
      case '+':
      case '-':
      case '*':
      case '/':
      case '\\':
      case '^':
      case '&':
        ++i;
        push(JetTokenKind::kOperator, begin, i, std::string(1, static_cast<char>(c)));
        continue;
      default:
        ThrowJetSqlError(jet, i, std::string("unexpected character '") + static_cast<char>(c) + "'");
    }
  }
  return tokens;
}

}  // namespace pramble::sqlhost
