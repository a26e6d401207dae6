#include "sqlhost/jet/jet_functions.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "pramble/host/errors.h"
#include "pramble/host/value.h"

namespace pramble::sqlhost {
namespace {

host::Value ToValue(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
      return sqlite3_value_double(v);
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* p = sqlite3_value_blob(v);
      const int n = sqlite3_value_bytes(v);
      return std::string(static_cast<const char*>(p), p ? static_cast<std::size_t>(n) : 0);
    }
    default:
      return std::monostate{};
  }
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void ResultNumber(sqlite3_context* ctx, double d) {
  if (std::isfinite(d) && d >= -9.2e18 && d <= 9.2e18 && d == std::floor(d))
    sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(d));
  else
    sqlite3_result_double(ctx, d);
}

// Runs `body`, turning a HostError into an SQL function error.
template <typename F>
void Guarded(sqlite3_context* ctx, F&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// Appends each operand's text form (the one host::ToText gives) straight from
// SQLite's value, without an intermediate Value: the data queries call it for
// every row.
void Concat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Guarded(ctx, [&] {
    std::string s;
    bool all_null = true;
    for (int i = 0; i < argc; ++i) {
      char buf[64];
      switch (sqlite3_value_type(argv[i])) {
        case SQLITE_NULL:
          continue;
        case SQLITE_INTEGER: {
          const std::int64_t n = sqlite3_value_int64(argv[i]);
          s.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
          break;
        }
        case SQLITE_FLOAT:
          s.append(buf, std::to_chars(buf, buf + sizeof buf, sqlite3_value_double(argv[i])).ptr);
          break;
        default: {
          const void* p = sqlite3_value_blob(argv[i]);
          if (p) s.append(static_cast<const char*>(p), sqlite3_value_bytes(argv[i]));
          break;
        }
      }
      all_null = false;
    }
    if (all_null)
      sqlite3_result_null(ctx);
    else
      ResultText(ctx, s);
  });
}

struct PickState {
  sqlite3_value* value;
  int has;
};

void FirstStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* s = static_cast<PickState*>(sqlite3_aggregate_context(ctx, sizeof(PickState)));
  if (s == nullptr) return sqlite3_result_error_nomem(ctx);
  if (s->has) return;
  s->value = sqlite3_value_dup(argv[0]);
  s->has = 1;
}

void LastStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* s = static_cast<PickState*>(sqlite3_aggregate_context(ctx, sizeof(PickState)));
  if (s == nullptr) return sqlite3_result_error_nomem(ctx);
  sqlite3_value_free(s->value);
  s->value = sqlite3_value_dup(argv[0]);
  s->has = 1;
}

void PickFinal(sqlite3_context* ctx) {
  auto* s = static_cast<PickState*>(sqlite3_aggregate_context(ctx, 0));
  if (s == nullptr || s->value == nullptr) {
    sqlite3_result_null(ctx);
  } else {
    sqlite3_result_value(ctx, s->value);
  }
  if (s != nullptr) {
    sqlite3_value_free(s->value);
    s->value = nullptr;
  }
}

void Nz(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) != SQLITE_NULL) return sqlite3_result_value(ctx, argv[0]);
  if (argc > 1) return sqlite3_result_value(ctx, argv[1]);
  sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
}

// Byte offsets of UTF-8 code points.
std::size_t CodePoints(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::size_t ByteOfCodePoint(const std::string& s, std::size_t cp) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (n == cp) return i;
      ++n;
    }
  }
  return s.size();
}

void LeftRight(sqlite3_context* ctx, sqlite3_value** argv, bool left) {
  Guarded(ctx, [&] {
    const host::Value v = ToValue(argv[0]);
    if (host::IsNull(v)) return sqlite3_result_null(ctx);
    const std::int32_t count = host::ToLong(ToValue(argv[1]));
    if (count < 0) throw host::HostError(5, "Invalid procedure call or argument");
    const std::string s = host::ToText(v);
    const std::size_t total = CodePoints(s);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), total);
    if (left)
      ResultText(ctx, s.substr(0, ByteOfCodePoint(s, n)));
    else
      ResultText(ctx, s.substr(ByteOfCodePoint(s, total - n)));
  });
}

void Left(sqlite3_context* ctx, int, sqlite3_value** argv) { LeftRight(ctx, argv, true); }
void Right(sqlite3_context* ctx, int, sqlite3_value** argv) { LeftRight(ctx, argv, false); }

void Rounding(sqlite3_context* ctx, sqlite3_value** argv, bool floor) {
  Guarded(ctx, [&] {
    const host::Value v = ToValue(argv[0]);
    if (host::IsNull(v)) return sqlite3_result_null(ctx);
    if (std::holds_alternative<std::int64_t>(v)) return sqlite3_result_value(ctx, argv[0]);
    const double d = host::ToDouble(v);
    ResultNumber(ctx, floor ? std::floor(d) : std::trunc(d));
  });
}

void Int(sqlite3_context* ctx, int, sqlite3_value** argv) { Rounding(ctx, argv, true); }
void Fix(sqlite3_context* ctx, int, sqlite3_value** argv) { Rounding(ctx, argv, false); }

void CStr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const host::Value v = ToValue(argv[0]);
  if (host::IsNull(v)) return sqlite3_result_null(ctx);
  ResultText(ctx, host::ToText(v));
}

void CDbl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Guarded(ctx, [&] {
    const host::Value v = ToValue(argv[0]);
    if (host::IsNull(v)) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, host::ToDouble(v));
  });
}

void CLng(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Guarded(ctx, [&] {
    const host::Value v = ToValue(argv[0]);
    if (host::IsNull(v)) return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, host::ToLong(v));
  });
}

void Val(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const host::Value v = ToValue(argv[0]);
  if (host::IsNull(v)) return sqlite3_result_null(ctx);
  if (!std::holds_alternative<std::string>(v)) return sqlite3_result_value(ctx, argv[0]);
  const std::string& s = std::get<std::string>(v);
  const char* begin = s.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  char* end = nullptr;
  const double d = std::strtod(begin, &end);
  ResultNumber(ctx, end == begin ? 0.0 : d);
}

}  // namespace

int RegisterJetFunctions(sqlite3* db) {
  constexpr int kPure = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  struct Scalar {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
  };
  static const Scalar kScalars[] = {
      {"jet_concat", -1, Concat}, {"jet_nz", 1, Nz},       {"jet_nz", 2, Nz},
      {"jet_left", 2, Left},      {"jet_right", 2, Right}, {"jet_int", 1, Int},
      {"jet_fix", 1, Fix},        {"jet_cstr", 1, CStr},   {"jet_cdbl", 1, CDbl},
      {"jet_clng", 1, CLng},      {"jet_val", 1, Val},
  };
  for (const Scalar& s : kScalars) {
    const int rc = sqlite3_create_function_v2(db, s.name, s.args, kPure, nullptr, s.fn, nullptr,
                                              nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  int rc = sqlite3_create_function_v2(db, "jet_first", 1, SQLITE_UTF8, nullptr, nullptr,
                                      FirstStep, PickFinal, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_create_function_v2(db, "jet_last", 1, SQLITE_UTF8, nullptr, nullptr, LastStep,
                                  PickFinal, nullptr);
  return rc;
}

}  // namespace pramble::sqlhost
