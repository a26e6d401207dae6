// Translation of Jet SQL into SQLite SQL. The host's databases are SQLite
// files, but every statement that reaches them through host::dao::Database
// (the component's saved queries, the results table, users' "Select"
// criteria) is written in Jet SQL. The translator reads the text as tokens
// (jet_tokenizer.h) grouped by parentheses and writes it out again:
//
//   [name]            -> "name"  (blanks, quotes, non-ASCII letters kept)
//   plain names       -> "name"  (so that no SQLite-only keyword can bite);
//                        not in CREATE/ALTER/DROP statements, which keep them
//   "text"            -> 'text'  (single quotes doubled); 'text' stays
//   #date#            -> 'date'
//   a & b & c         -> jet_concat(a, b, c): text concatenation in which Null
//                        counts as empty text (all operands Null give Null, as
//                        in Jet) and numbers give their text form (1 & ". "
//                        is '1. '). & binds looser than + - * / and tighter
//                        than comparisons, LIKE, IS, IN, BETWEEN, NOT, AND, OR
//   IsNull(x)         -> ((x) IS NULL)
//   FIRST(x), LAST(x) -> jet_first(x), jet_last(x): the value of the first /
//                        last row of the group in the order the rows arrive
//   Nz, Left, Right, Int, Fix, CStr, CDbl, CLng, CInt, Val
//                     -> jet_nz, jet_left, ... (registered by jet_functions.h)
//   Mid, Len, UCase, LCase, IIf -> substr, length, upper, lower, iif
//   Mod, True, False  -> %, 1, 0
//   DISTINCTROW       -> DISTINCT
//   DELETE * FROM t   -> DELETE FROM t   (also DELETE t.* FROM t)
//   x LIKE "a*b?"     -> x LIKE 'a%b_'   (Jet wildcards in a literal pattern)
//
// Parenthesised joins such as FROM (([q_G]) INNER JOIN [q_S] ON ...) are kept
// as they stand: SQLite reads them with the same meaning.
//
// Refused with host::HostError(kErrSql) naming the position and the text: a
// ";" outside literals and brackets (one text is always exactly one
// statement), unbalanced parentheses or quotes, TOP, and the operators \ and ^.
//
// Thread-safety: the functions are pure.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pramble::sqlhost {

// Translates one Jet SQL statement. Throws host::HostError(kErrSql) with
// "Jet SQL error at position N: WHAT. SQL: TEXT" when the text cannot be
// translated.
std::string TranslateJetSql(const std::string& jet);

// Translates a Jet SQL condition (a WHERE fragment such as a user's
// "[size] < 20") into one parenthesised SQLite expression, safe to put after
// WHERE or AND: besides the refusals of TranslateJetSql, an empty condition
// and clause or statement keywords outside parentheses (SELECT, FROM, WHERE,
// GROUP, ORDER, HAVING, UNION, JOIN, INTO, VALUES, SET, DELETE, INSERT,
// UPDATE, CREATE, DROP, ALTER) are refused.
std::string TranslateJetCondition(const std::string& condition);

// Rewrites "SELECT [DISTINCT] * FROM <named sources and joins> ..." so that
// the * becomes the list of the sources' columns, each name once, the first
// occurrence winning: [q].[c1], [q].[c2], ... with q the source's alias or
// name. `columns_of` gives a source's column names (it is called with the
// name as it stands in the FROM clause, brackets removed). Any other text,
// and a source whose columns cannot be bracketed, leaves `jet` unchanged.
// The host applies it to saved queries whose SELECT * would otherwise yield
// duplicate names (SQLite would call the second STR_LINK "STR_LINK:1").
using JetColumnLister = std::function<std::vector<std::string>(const std::string& source)>;
std::string ExpandJetSelectStar(const std::string& jet, const JetColumnLister& columns_of);

}  // namespace pramble::sqlhost
