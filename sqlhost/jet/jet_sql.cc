#include "sqlhost/jet/jet_sql.h"

#include <cctype>
#include <map>
#include <set>
#include <stdexcept>

#include "sqlhost/dao/sqlite_quote.h"
#include "sqlhost/jet/jet_tokenizer.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

constexpr int kMaxDepth = 200;

// A token, or a parenthesised group of nodes.
struct Node {
  const JetToken* token = nullptr;  // the leaf, or the "(" of a group
  const JetToken* close = nullptr;  // the ")" of a group
  std::vector<Node> children;
  bool IsGroup() const { return close != nullptr; }
};

std::string Upper(const std::string& s) {
  std::string u = s;
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::vector<Node> BuildTree(const std::string& jet, const std::vector<JetToken>& tokens,
                            std::size_t& i, const JetToken* open, int depth) {
  if (depth > kMaxDepth) ThrowJetSqlError(jet, open->offset, "parentheses nested too deeply");
  std::vector<Node> seq;
  while (i < tokens.size()) {
    const JetToken& t = tokens[i++];
    if (t.kind == JetTokenKind::kLeftParen) {
      Node group;
      group.token = &t;
      group.children = BuildTree(jet, tokens, i, &t, depth + 1);
      group.close = &tokens[i - 1];
      seq.push_back(std::move(group));
    } else if (t.kind == JetTokenKind::kRightParen) {
      if (open == nullptr) ThrowJetSqlError(jet, t.offset, "')' has no matching '('");
      return seq;
    } else {
      Node leaf;
      leaf.token = &t;
      seq.push_back(std::move(leaf));
    }
  }
  if (open != nullptr) ThrowJetSqlError(jet, open->offset, "'(' is not closed by ')'");
  return seq;
}

std::vector<Node> BuildTree(const std::string& jet, const std::vector<JetToken>& tokens) {
  std::size_t i = 0;
  return BuildTree(jet, tokens, i, nullptr, 0);
}

// Words that stay as they are (all others are names and get quoted).
const std::set<std::string>& Keywords() {
  static const std::set<std::string> k = {
      "ADD",      "ALIKE",   "ALL",        "ALTER",   "AND",      "ANY",      "AS",
      "ASC",      "BETWEEN", "BY",         "CASE",    "CHECK",    "COLUMN",   "CONSTRAINT",
      "CREATE",   "CROSS",   "DEFAULT",    "DELETE",  "DESC",     "DISTINCT", "DISTINCTROW",
      "DROP",     "ELSE",    "END",        "EQV",     "ESCAPE",   "EXISTS",   "FALSE",
      "FOREIGN",  "FROM",    "FULL",       "GROUP",   "HAVING",   "IMP",      "IN",
      "INDEX",    "INNER",   "INSERT",     "INTO",    "IS",       "JOIN",     "KEY",
      "LEFT",     "LIKE",    "MOD",        "NOT",     "NULL",     "ON",       "OR",
      "ORDER",    "OUTER",   "PERCENT",    "PRIMARY", "REFERENCES", "RIGHT",  "SELECT",
      "SET",      "SOME",    "TABLE",      "THEN",    "TOP",      "TRUE",     "UNION",
      "UNIQUE",   "UPDATE",  "VALUES",     "WHEN",    "WHERE",    "XOR",
  };
  return k;
}

// Words at which an & operand ends: every operator of lower precedence than &
// and every clause word.
const std::set<std::string>& BoundaryWords() {
  static const std::set<std::string> k = {
      "ALIKE", "ALL",    "AND",   "AS",    "ASC",    "BETWEEN", "BY",       "CASE",
      "CROSS", "DELETE", "DESC",  "DISTINCT", "DISTINCTROW", "ELSE", "END", "EQV",
      "ESCAPE", "EXISTS", "FROM", "FULL",  "GROUP",  "HAVING",  "IMP",      "IN",
      "INNER", "INSERT", "INTO",  "IS",    "JOIN",   "LEFT",    "LIKE",     "NOT",
      "ON",    "OR",     "ORDER", "OUTER", "RIGHT",  "SELECT",  "SET",      "THEN",
      "TOP",   "UNION",  "UPDATE", "VALUES", "WHEN", "WHERE",   "XOR",
  };
  return k;
}

// Jet functions and what SQLite calls them (jet_* are registered by
// RegisterJetFunctions). IsNull is rewritten separately.
const std::map<std::string, std::string>& FunctionNames() {
  static const std::map<std::string, std::string> k = {
      {"FIRST", "jet_first"}, {"LAST", "jet_last"}, {"NZ", "jet_nz"},     {"LEFT", "jet_left"},
      {"RIGHT", "jet_right"}, {"INT", "jet_int"},   {"FIX", "jet_fix"},   {"CSTR", "jet_cstr"},
      {"CDBL", "jet_cdbl"},   {"CLNG", "jet_clng"}, {"CINT", "jet_clng"}, {"VAL", "jet_val"},
      {"MID", "substr"},      {"LEN", "length"},    {"UCASE", "upper"},   {"LCASE", "lower"},
      {"IIF", "iif"},
  };
  return k;
}

const std::set<std::string>& ComparisonOperators() {
  static const std::set<std::string> k = {"=", "<>", "!=", "<", ">", "<=", ">="};
  return k;
}

bool IsWord(const Node& n, const char* upper) {
  return !n.IsGroup() && n.token->kind == JetTokenKind::kWord && Upper(n.token->text) == upper;
}

bool IsAmpersand(const Node& n) {
  return !n.IsGroup() && n.token->kind == JetTokenKind::kOperator && n.token->text == "&";
}

// True when seq[i] is a name followed by a parenthesised argument list.
bool IsFunctionCall(const std::vector<Node>& seq, std::size_t i) {
  if (seq[i].IsGroup() || seq[i].token->kind != JetTokenKind::kWord) return false;
  if (i + 1 >= seq.size() || !seq[i + 1].IsGroup()) return false;
  const std::string u = Upper(seq[i].token->text);
  return FunctionNames().count(u) > 0 || u == "ISNULL" || Keywords().count(u) == 0;
}

bool IsBoundary(const std::vector<Node>& seq, std::size_t i) {
  const Node& n = seq[i];
  if (n.IsGroup()) return false;
  switch (n.token->kind) {
    case JetTokenKind::kComma:
      return true;
    case JetTokenKind::kOperator:
      return ComparisonOperators().count(n.token->text) > 0;
    case JetTokenKind::kWord:
      return BoundaryWords().count(Upper(n.token->text)) > 0 && !IsFunctionCall(seq, i);
    default:
      return false;
  }
}

bool Joinable(unsigned char c) {
  return std::isalnum(c) || c == '_' || c >= 0x80 || c == '"' || c == '\'';
}

class Translator {
 public:
  Translator(const std::string& jet, bool quote_names) : jet_(jet), quote_names_(quote_names) {}

  const std::string& out() const { return out_; }

  void Sequence(const std::vector<Node>& seq) {
    bool any = false;
    for (const Node& n : seq) any = any || IsAmpersand(n);
    if (!any) {
      for (std::size_t i = 0; i < seq.size();) i = Item(seq, i);
      return;
    }
    std::size_t i = 0;
    while (i < seq.size()) {
      if (IsBoundary(seq, i)) {
        i = Item(seq, i);
        continue;
      }
      std::size_t j = i;
      while (j < seq.size() && !IsBoundary(seq, j)) ++j;
      Segment(seq, i, j);
      i = j;
    }
  }

 private:
  // A run of nodes between two boundaries; its & operators join operands.
  void Segment(const std::vector<Node>& seq, std::size_t b, std::size_t e) {
    std::vector<std::size_t> amps;
    for (std::size_t k = b; k < e; ++k)
      if (IsAmpersand(seq[k])) amps.push_back(k);
    if (amps.empty()) {
      for (std::size_t k = b; k < e;) k = Item(seq, k);
      return;
    }
    Put("jet_concat(", seq[b].token->space_before);
    std::size_t start = b;
    amps.push_back(e);
    for (std::size_t a = 0; a < amps.size(); ++a) {
      const std::size_t stop = amps[a];
      if (stop == start) {
        const std::size_t at = stop < e ? seq[stop].token->offset
                                        : seq[amps[a - 1]].token->offset;
        ThrowJetSqlError(jet_, at, "'&' lacks an operand");
      }
      if (a > 0) Put(", ", false);
      suppress_space_ = true;
      for (std::size_t k = start; k < stop;) k = Item(seq, k);
      start = stop + 1;
    }
    Put(")", false);
  }

  // Writes seq[i] (and what belongs to it); answers the index after it.
  std::size_t Item(const std::vector<Node>& seq, std::size_t i) {
    const Node& node = seq[i];
    const JetToken& t = *node.token;
    if (node.IsGroup()) {
      Put("(", t.space_before);
      Sequence(node.children);
      Put(")", node.close->space_before);
      return i + 1;
    }
    switch (t.kind) {
      case JetTokenKind::kWord:
        return Word(seq, i);
      case JetTokenKind::kBracketName:
        Put(QuoteIdentifier(t.value), t.space_before);
        break;
      case JetTokenKind::kText:
      case JetTokenKind::kDate:
        Put(QuoteLiteral(t.value), t.space_before);
        break;
      case JetTokenKind::kOperator:
        if (t.text == "\\" || t.text == "^")
          ThrowJetSqlError(jet_, t.offset, "the operator '" + t.text + "' is not supported");
        if (t.text == "&") ThrowJetSqlError(jet_, t.offset, "'&' lacks an operand");
        Put(t.text, t.space_before);
        break;
      default:
        Put(t.text, t.space_before);
        break;
    }
    return i + 1;
  }

  std::size_t Word(const std::vector<Node>& seq, std::size_t i) {
    const JetToken& t = *seq[i].token;
    const std::string u = Upper(t.text);
    if (IsFunctionCall(seq, i)) {
      if (u == "ISNULL") {
        const Node& args = seq[i + 1];
        bool comma = false;
        for (const Node& n : args.children)
          comma = comma || (!n.IsGroup() && n.token->kind == JetTokenKind::kComma);
        if (args.children.empty() || comma)
          ThrowJetSqlError(jet_, t.offset, "IsNull takes exactly one argument");
        Put("((", t.space_before);
        Sequence(args.children);
        Put(") IS NULL)", false);
        return i + 2;
      }
      const auto f = FunctionNames().find(u);
      Put(f != FunctionNames().end() ? f->second : t.text, t.space_before);
      return i + 1;
    }
    if (Keywords().count(u) == 0) {
      Put(quote_names_ ? QuoteIdentifier(t.text) : t.text, t.space_before);
      return i + 1;
    }
    if (u == "DISTINCTROW") {
      Put("DISTINCT", t.space_before);
    } else if (u == "TOP" || u == "PERCENT") {
      ThrowJetSqlError(jet_, t.offset, "'" + t.text + "' is not supported");
    } else if (u == "MOD") {
      Put("%", t.space_before);
    } else if (u == "TRUE") {
      Put("1", t.space_before);
    } else if (u == "FALSE") {
      Put("0", t.space_before);
    } else if (u == "DELETE") {
      // DELETE * FROM t and DELETE t.* FROM t: SQLite has nothing before FROM.
      Put(t.text, t.space_before);
      std::size_t j = i + 1;
      while (j < seq.size() && !IsWord(seq[j], "FROM")) ++j;
      return j;
    } else if (u == "LIKE" || u == "ALIKE") {
      Put("LIKE", t.space_before);
      const bool literal = i + 1 < seq.size() && !seq[i + 1].IsGroup() &&
                           seq[i + 1].token->kind == JetTokenKind::kText &&
                           (i + 2 >= seq.size() || (!IsAmpersand(seq[i + 2]) &&
                                                    !IsWord(seq[i + 2], "ESCAPE")));
      if (u == "LIKE" && literal) {
        const JetToken& p = *seq[i + 1].token;
        bool escaped = false;
        const std::string pattern = LikePattern(p, escaped);
        Put(QuoteLiteral(pattern), p.space_before);
        if (escaped) Put("ESCAPE '\\'", true);
        return i + 2;
      }
    } else {
      Put(t.text, t.space_before);
    }
    return i + 1;
  }

  // A Jet LIKE pattern (* ? [*] [?] [#] [[]) as a SQLite one (% _).
  std::string LikePattern(const JetToken& p, bool& escaped) {
    std::string out;
    const std::string& v = p.value;
    for (std::size_t k = 0; k < v.size(); ++k) {
      const char c = v[k];
      if (c == '*') {
        out += '%';
      } else if (c == '?') {
        out += '_';
      } else if (c == '%' || c == '_' || c == '\\') {
        out += '\\';
        out += c;
        escaped = true;
      } else if (c == '[') {
        if (k + 2 < v.size() && v[k + 2] == ']' &&
            (v[k + 1] == '*' || v[k + 1] == '?' || v[k + 1] == '#' || v[k + 1] == '[')) {
          out += v[k + 1];
          k += 2;
        } else {
          ThrowJetSqlError(jet_, p.offset, "character lists in LIKE patterns are not supported");
        }
      } else if (c == '#') {
        ThrowJetSqlError(jet_, p.offset, "the digit wildcard '#' in LIKE patterns is not supported");
      } else {
        out += c;
      }
    }
    return out;
  }

  void Put(const std::string& text, bool space_before) {
    if (text.empty()) return;
    if (suppress_space_) {
      space_before = false;
      suppress_space_ = false;
    }
    if (!out_.empty()) {
      const unsigned char last = out_.back();
      const unsigned char first = text.front();
      const bool comment = (last == '-' && first == '-') || (last == '/' && first == '*');
      if (space_before || comment || (Joinable(last) && Joinable(first))) out_ += ' ';
    }
    out_ += text;
  }

  const std::string& jet_;
  const bool quote_names_;
  bool suppress_space_ = false;
  std::string out_;
};

}  // namespace

std::string TranslateJetSql(const std::string& jet) {
  const std::vector<JetToken> tokens = TokenizeJetSql(jet);
  if (tokens.empty()) ThrowJetSqlError(jet, 0, "empty statement");
  const std::vector<Node> tree = BuildTree(jet, tokens);
  const std::string first = tokens[0].kind == JetTokenKind::kWord ? Upper(tokens[0].text) : "";
  const bool ddl = first == "CREATE" || first == "ALTER" || first == "DROP";
  Translator t(jet, !ddl);
  t.Sequence(tree);
  return t.out();
}

std::string TranslateJetCondition(const std::string& condition) {
  static const std::set<std::string> kRefused = {
      "SELECT", "FROM", "WHERE",  "GROUP",  "ORDER",  "HAVING", "UNION", "JOIN", "INTO",
      "VALUES", "SET",  "DELETE", "INSERT", "UPDATE", "CREATE", "DROP",  "ALTER"};
  const std::vector<JetToken> tokens = TokenizeJetSql(condition);
  if (tokens.empty()) ThrowJetSqlError(condition, 0, "empty condition");
  const std::vector<Node> tree = BuildTree(condition, tokens);
  for (const Node& n : tree) {
    if (!n.IsGroup() && n.token->kind == JetTokenKind::kWord &&
        kRefused.count(Upper(n.token->text)) > 0)
      ThrowJetSqlError(condition, n.token->offset,
                       "'" + n.token->text + "' is not allowed in a condition");
  }
  Translator t(condition, true);
  t.Sequence(tree);
  return "(" + t.out() + ")";
}

std::string ExpandJetSelectStar(const std::string& jet, const JetColumnLister& columns_of) {
  std::vector<JetToken> tokens;
  std::vector<Node> tree;
  try {
    tokens = TokenizeJetSql(jet);
    tree = BuildTree(jet, tokens);
  } catch (const std::exception&) {
    return jet;  // the translation reports it
  }
  std::size_t i = 0;
  if (i >= tree.size() || !IsWord(tree[i], "SELECT")) return jet;
  ++i;
  if (i < tree.size() &&
      (IsWord(tree[i], "DISTINCT") || IsWord(tree[i], "DISTINCTROW") || IsWord(tree[i], "ALL")))
    ++i;
  if (i >= tree.size() || tree[i].IsGroup() || tree[i].token->text != "*") return jet;
  const JetToken* star = tree[i].token;
  ++i;
  if (i >= tree.size() || !IsWord(tree[i], "FROM")) return jet;
  ++i;

  // The FROM clause as a flat token list.
  std::vector<const JetToken*> from;
  bool subquery = false;
  std::function<void(const std::vector<Node>&, std::size_t)> flatten =
      [&](const std::vector<Node>& seq, std::size_t k) {
        for (; k < seq.size(); ++k) {
          const Node& n = seq[k];
          if (n.IsGroup()) {
            if (!n.children.empty() && IsWord(n.children[0], "SELECT")) subquery = true;
            from.push_back(n.token);
            flatten(n.children, 0);
            from.push_back(n.close);
          } else {
            from.push_back(n.token);
          }
        }
      };
  std::vector<Node> clause;
  for (; i < tree.size(); ++i) {
    if (IsWord(tree[i], "WHERE") || IsWord(tree[i], "GROUP") || IsWord(tree[i], "ORDER") ||
        IsWord(tree[i], "HAVING") || IsWord(tree[i], "UNION"))
      break;
    clause.push_back(tree[i]);
  }
  flatten(clause, 0);
  if (subquery) return jet;

  auto is_name = [](const JetToken* t) {
    return t->kind == JetTokenKind::kBracketName ||
           (t->kind == JetTokenKind::kWord && Keywords().count(Upper(t->text)) == 0);
  };
  auto name_of = [](const JetToken* t) {
    return t->kind == JetTokenKind::kBracketName ? t->value : t->text;
  };
  std::vector<std::pair<std::string, std::string>> sources;  // name, qualifier
  bool expect = true;
  for (std::size_t k = 0; k < from.size(); ++k) {
    const JetToken* t = from[k];
    if (expect) {
      if (t->kind == JetTokenKind::kLeftParen) continue;
      if (!is_name(t)) return jet;
      if (k + 1 < from.size() && from[k + 1]->kind == JetTokenKind::kDot) return jet;
      std::string name = name_of(t);
      std::string qualifier = name;
      if (k + 2 < from.size() && from[k + 1]->kind == JetTokenKind::kWord &&
          Upper(from[k + 1]->text) == "AS" && is_name(from[k + 2])) {
        qualifier = name_of(from[k + 2]);
        k += 2;
      } else if (k + 1 < from.size() && is_name(from[k + 1])) {
        qualifier = name_of(from[k + 1]);
        k += 1;
      }
      sources.emplace_back(name, qualifier);
      expect = false;
    } else if (t->kind == JetTokenKind::kComma ||
               (t->kind == JetTokenKind::kWord && Upper(t->text) == "JOIN")) {
      expect = true;
    }
  }
  if (sources.empty() || expect) return jet;

  std::string list;
  std::vector<std::string> seen;
  for (const auto& [name, qualifier] : sources) {
    if (qualifier.find(']') != std::string::npos) return jet;
    for (const std::string& column : columns_of(name)) {
      if (column.find(']') != std::string::npos || column.empty()) return jet;
      bool dup = false;
      for (const std::string& s : seen) dup = dup || host::EqualsNoCase(s, column);
      if (dup) continue;
      seen.push_back(column);
      if (!list.empty()) list += ", ";
      list += "[" + qualifier + "].[" + column + "]";
    }
  }
  if (list.empty()) return jet;
  return jet.substr(0, star->offset) + list + jet.substr(star->offset + star->text.size());
}

}  // namespace pramble::sqlhost
