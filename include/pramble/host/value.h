// Values that cross the host boundary: settings, database fields and query
// results. A Value is Null (std::monostate), a Boolean, a 64-bit integer, a
// double or a text. The conversions follow the host's scripting rules, which
// the component relies on:
//   ToBool   - numbers: non-zero is True; texts "True"/"False" (any case) or a
//              number text; Null fails with type mismatch (13).
//   ToLong   - 32-bit integer, rounding halves to even; out of range fails with
//              overflow (6); a non-numeric text fails with type mismatch (13).
//   ToSingle - 32-bit float; out of range fails with overflow (6).
//   ToText   - the value's ordinary text form ("" for Null; numbers in the
//              shortest form that reads back exactly, point as separator).
// Failures throw HostError with the number given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace pramble::host {

using Value = std::variant<std::monostate, bool, std::int64_t, double, std::string>;

inline bool IsNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

bool ToBool(const Value& v);
std::int32_t ToLong(const Value& v);
double ToDouble(const Value& v);
float ToSingle(const Value& v);
std::string ToText(const Value& v);

// True when the text reads as a decimal number: optional blanks, an optional
// sign, digits with at most one point, an optional exponent, optional blanks.
bool IsNumeric(const std::string& text);

// Parses a text that IsNumeric accepts. REQUIRES: IsNumeric(text).
double ParseNumber(const std::string& text);

// Compares two texts without regard to ASCII case.
bool EqualsNoCase(const std::string& a, const std::string& b);
// `text` with its ASCII letters in lower case.
std::string ToLowerAscii(std::string text);

// `text` without the characters of `blanks` at either end (by default the
// white space of the C locale).
std::string Trim(const std::string& text, std::string_view blanks = " \t\n\v\f\r");

}  // namespace pramble::host
