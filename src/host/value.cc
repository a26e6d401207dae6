#include "pramble/host/value.h"

#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "pramble/host/errors.h"

namespace pramble::host {
namespace {

[[noreturn]] void TypeMismatch() { throw HostError(kErrTypeMismatch, "Type mismatch"); }
[[noreturn]] void Overflow() { throw HostError(kErrOverflow, "Overflow"); }

}  // namespace

std::string ToLowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool IsNumeric(const std::string& text) {
  const std::string t = Trim(text);
  std::size_t i = 0, n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == n;
}

double ParseNumber(const std::string& text) {
  std::string t = Trim(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  double v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range) Overflow();
  if (ec != std::errc() || p != t.data() + t.size()) TypeMismatch();
  return v;
}

double ToDouble(const Value& v) {
  switch (v.index()) {
    case 1: return std::get<bool>(v) ? -1.0 : 0.0;
    case 2: return static_cast<double>(std::get<std::int64_t>(v));
    case 3: return std::get<double>(v);
    case 4: {
      const auto& s = std::get<std::string>(v);
      if (EqualsNoCase(Trim(s), "True")) return -1.0;
      if (EqualsNoCase(Trim(s), "False")) return 0.0;
      if (!IsNumeric(s)) TypeMismatch();
      return ParseNumber(s);
    }
    default: TypeMismatch();
  }
}

bool ToBool(const Value& v) {
  if (std::holds_alternative<bool>(v)) return std::get<bool>(v);
  return ToDouble(v) != 0.0;
}

std::int32_t ToLong(const Value& v) {
  if (std::holds_alternative<std::int64_t>(v)) {
    auto i = std::get<std::int64_t>(v);
    if (i < std::numeric_limits<std::int32_t>::min() || i > std::numeric_limits<std::int32_t>::max())
      Overflow();
    return static_cast<std::int32_t>(i);
  }
  double d = ToDouble(v);
  if (std::isnan(d)) Overflow();
  double r = std::nearbyint(d);  // default rounding mode: halves to even
  if (r < -2147483648.0 || r > 2147483647.0) Overflow();
  return static_cast<std::int32_t>(r);
}

float ToSingle(const Value& v) {
  double d = ToDouble(v);
  if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) Overflow();
  return static_cast<float>(d);
}

std::string ToText(const Value& v) {
  switch (v.index()) {
    case 1: return std::get<bool>(v) ? "True" : "False";
    case 2: return std::to_string(std::get<std::int64_t>(v));
    case 3: {
      char buf[64];
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, std::get<double>(v));
      return std::string(buf, p);
    }
    case 4: return std::get<std::string>(v);
    default: return "";
  }
}

std::string Trim(const std::string& text, std::string_view blanks) {
  const std::size_t b = text.find_first_not_of(blanks);
  if (b == std::string::npos) return "";
  return text.substr(b, text.find_last_not_of(blanks) - b + 1);
}

}  // namespace pramble::host
